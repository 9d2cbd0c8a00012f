# The fuzz targets: a sub-build of the same sources with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer (the main build configures
# it in <build>/fuzz; tests/hardening_tests.cmake registers bounded runs).
# Everything, the SDK included, is instrumented.
find_package(Threads REQUIRED)
# vptr checks are left out: they need the type information of classes that
# only the Windows build has (PlugFrame).
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined -fno-sanitize=vptr)
include(cmake/vst3sdk.cmake)

# The processor's state transfer (no editor, no X11).
add_library(fuzz_plugin STATIC
    plugin/processor.cpp
    plugin/instance_registry.cpp
    plugin/processor_activation.cpp
    plugin/block_exchange.cpp
    plugin/host_buses.cpp
    plugin/served_buses.cpp
    plugin/served_state.cpp
    plugin/served_controller_state.cpp
    plugin/own_message.cpp
    plugin/latency_cache.cpp
    plugin/command_region_link.cpp
    plugin/outpost_lifecycle.cpp
    plugin/instance_group.cpp
    plugin/served_record.cpp
    plugin/chain_links.cpp
    plugin/chain_file.cpp
    plugin/shared_memory.cpp
    plugin/file_claim.cpp
    plugin/child_process.cpp
    log/log.cpp)
target_include_directories(fuzz_plugin PUBLIC "${CMAKE_SOURCE_DIR}")
find_package(nlohmann_json REQUIRED)
target_link_libraries(fuzz_plugin PUBLIC vst3sdk Threads::Threads nlohmann_json::nlohmann_json)

# outpost's application and instance logic, natively.
add_library(fuzz_outpost STATIC
    outpost/application.cpp
    outpost/instance_host.cpp
    outpost/instance_group.cpp
    outpost/chain_relay.cpp
    outpost/crash_report_headless.cpp
    outpost/audio_thread.cpp
    outpost/bus_service.cpp
    outpost/editor_service.cpp
    outpost/latency_service.cpp
    outpost/parameter_service.cpp
    outpost/word_waker.cpp
    outpost/spare_threads.cpp
    outpost/session_service.cpp
    outpost/state_service.cpp
    outpost/shared_file_view_headless.cpp
    outpost/host_thread_headless.cpp
    outpost/component_handler.cpp
    outpost/parameter_changes.cpp
    outpost/parameter_queue.cpp
    outpost/held_edits.cpp
    outpost/midi_mapping_writer.cpp
    outpost/parameter_list_writer.cpp
    outpost/vst3_loader_headless.cpp
    outpost/host_application.cpp
    outpost/memory_stream.cpp
    outpost/plugin_instance.cpp
    outpost/plugin_instance_audio.cpp
    outpost/event_lists.cpp
    outpost/instance_state.cpp
    outpost/served_editor_headless.cpp
    outpost/linux_calls.cpp
    outpost/linux_calls_headless.cpp
    outpost/chain_file.cpp
    outpost/chain_file_headless.cpp
    log/log.cpp)
target_include_directories(fuzz_outpost PUBLIC "${CMAKE_SOURCE_DIR}/outpost" "${CMAKE_SOURCE_DIR}")
target_link_libraries(fuzz_outpost PUBLIC vst3sdk Threads::Threads)

foreach(target setstate memory_stream application parameters events)
    add_executable(${target}_fuzzer tests/fuzz/${target}_fuzzer.cpp)
    target_link_options(${target}_fuzzer PRIVATE -fsanitize=fuzzer)
endforeach()
target_link_libraries(setstate_fuzzer PRIVATE fuzz_plugin)
target_link_libraries(memory_stream_fuzzer PRIVATE fuzz_outpost)
target_link_libraries(application_fuzzer PRIVATE fuzz_outpost)
target_include_directories(application_fuzzer PRIVATE tests/fuzz)
target_include_directories(setstate_fuzzer PRIVATE tests/fuzz)
target_link_libraries(parameters_fuzzer PRIVATE vst3sdk)
target_include_directories(parameters_fuzzer PRIVATE tests/fuzz tests "${CMAKE_SOURCE_DIR}")
target_link_libraries(events_fuzzer PRIVATE vst3sdk)
target_include_directories(events_fuzzer PRIVATE tests/fuzz "${CMAKE_SOURCE_DIR}")
