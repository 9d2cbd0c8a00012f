# Tests of the Linux plug-in's code, linked into the test programs, with a
# native stand-in for Wine + outpost.
add_executable(fake_outpost fake_outpost.cpp)
target_include_directories(fake_outpost PRIVATE "${CMAKE_SOURCE_DIR}")
target_link_libraries(fake_outpost PRIVATE Threads::Threads)
target_compile_options(fake_outpost PRIVATE ${QM_WARNINGS})

add_library(plugin_test_support INTERFACE)
target_link_libraries(plugin_test_support INTERFACE quillmarlow_core GTest::gmock GTest::gtest_main)
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
