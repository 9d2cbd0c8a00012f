# Native (Linux) tests of outpost code that needs no Win32: the application
# on the POSIX mapping, the host-side stream and host context, and the plug-in instance's logic against mocked
# plug-in objects; plus Quill's DSP and state format from its headers.
set(_outpost_dir "${CMAKE_SOURCE_DIR}/outpost")
add_library(outpost_native STATIC
    "${_outpost_dir}/application.cpp"
    "${_outpost_dir}/instance_host.cpp"
    "${_outpost_dir}/instance_group.cpp"
    "${_outpost_dir}/chain_relay.cpp"
    "${_outpost_dir}/crash_report_headless.cpp"
    "${_outpost_dir}/audio_thread.cpp"
    "${_outpost_dir}/bus_service.cpp"
    "${_outpost_dir}/editor_service.cpp"
    "${_outpost_dir}/latency_service.cpp"
    "${_outpost_dir}/parameter_service.cpp"
    "${_outpost_dir}/word_waker.cpp"
    "${_outpost_dir}/spare_threads.cpp"
    "${_outpost_dir}/session_service.cpp"
    "${_outpost_dir}/state_service.cpp"
    "${_outpost_dir}/shared_file_view_headless.cpp"
    "${_outpost_dir}/host_thread_headless.cpp"
    "${_outpost_dir}/component_handler.cpp"
    "${_outpost_dir}/parameter_changes.cpp"
    "${_outpost_dir}/parameter_queue.cpp"
    "${_outpost_dir}/held_edits.cpp"
    "${_outpost_dir}/midi_mapping_writer.cpp"
    "${_outpost_dir}/parameter_list_writer.cpp"
    "${_outpost_dir}/vst3_loader_headless.cpp"
    "${_outpost_dir}/host_application.cpp"
    "${_outpost_dir}/memory_stream.cpp"
    "${_outpost_dir}/plugin_instance.cpp"
    "${_outpost_dir}/plugin_instance_audio.cpp"
    "${_outpost_dir}/event_lists.cpp"
    "${_outpost_dir}/instance_state.cpp"
    "${_outpost_dir}/served_editor_headless.cpp"
    "${_outpost_dir}/linux_calls.cpp"
    "${_outpost_dir}/linux_calls_headless.cpp"
    "${_outpost_dir}/chain_file.cpp"
    "${_outpost_dir}/chain_file_headless.cpp")
target_include_directories(outpost_native PUBLIC "${_outpost_dir}" "${CMAKE_SOURCE_DIR}")
target_compile_options(outpost_native PRIVATE ${QM_WARNINGS})
target_link_libraries(outpost_native PUBLIC tandem_log vst3sdk)

file(GLOB outpost_native_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/outpost/*_test.cpp")
add_executable(outpost_native_tests ${outpost_native_test_sources})
target_include_directories(outpost_native_tests PRIVATE "${CMAKE_SOURCE_DIR}/served")
target_compile_options(outpost_native_tests PRIVATE ${QM_WARNINGS})
target_link_libraries(outpost_native_tests PRIVATE outpost_native GTest::gmock GTest::gtest_main)
# One process per test: processAudio keeps process-wide counters.
gtest_discover_tests(outpost_native_tests TEST_PREFIX "outpost." DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)
