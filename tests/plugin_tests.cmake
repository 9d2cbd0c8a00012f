# Tests of the Linux plug-in's code, linked into the test programs, with a
# native stand-in for Wine + outpost.
add_executable(fake_outpost fake_outpost.cpp)
target_include_directories(fake_outpost PRIVATE "${CMAKE_SOURCE_DIR}")
target_link_libraries(fake_outpost PRIVATE vst3sdk Threads::Threads)
target_compile_options(fake_outpost PRIVATE ${QM_WARNINGS})

# The SDK's own host objects (IHostApplication making messages and attribute
# lists), for tests that connect processor and controller as hosts do.
add_library(vst3_host_classes STATIC ${VST3_SDK_HOSTING_SOURCES})
target_link_libraries(vst3_host_classes PUBLIC vst3sdk)
target_compile_options(vst3_host_classes PRIVATE -w)

add_library(plugin_test_support INTERFACE)
target_link_libraries(plugin_test_support INTERFACE quillmarlow_core vst3_host_classes GTest::gmock GTest::gtest_main)
target_compile_definitions(plugin_test_support INTERFACE
    FAKE_OUTPOST_PATH="$<TARGET_FILE:fake_outpost>"
    QM_BUNDLE_SO="${QM_BUNDLE_DIR}/Contents/x86_64-linux/QuillMarlow.so")
target_include_directories(plugin_test_support INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}")

file(GLOB plugin_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/plugin/*_test.cpp")
add_executable(plugin_tests ${plugin_test_sources})
target_link_libraries(plugin_tests PRIVATE plugin_test_support)
target_compile_options(plugin_tests PRIVATE ${QM_WARNINGS})
add_dependencies(plugin_tests fake_outpost QuillMarlow)
gtest_discover_tests(plugin_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120)

# The built bundle driven through dlopen like an audio host, under valgrind.
# Without a usable Wine prefix outpost cannot start: the readiness wait times
# out and every block passes through.
add_executable(qm_host host/qm_host.cpp)
target_link_libraries(qm_host PRIVATE vst3sdk)
target_compile_options(qm_host PRIVATE ${QM_WARNINGS})
add_dependencies(qm_host QuillMarlow)
find_program(VALGRIND valgrind REQUIRED)
add_test(NAME HostLoadsBundleWithoutOutpost
    COMMAND ${VALGRIND} --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
            $<TARGET_FILE:qm_host> ${QM_BUNDLE_DIR} --blocks 50 --expect passthrough)
set_tests_properties(HostLoadsBundleWithoutOutpost PROPERTIES
    TIMEOUT 120
    ENVIRONMENT "WINEPREFIX=/nonexistent/qm-no-prefix;WINEDEBUG=-all")
