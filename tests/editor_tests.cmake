# Editor view tests: the view, its event thread and createView against the
# stand-in's X11 editor window, each test on an Xvfb display of its own, with
# and without openbox managing it.
find_program(XVFB Xvfb REQUIRED)
find_program(OPENBOX openbox REQUIRED)
find_program(XDOTOOL xdotool REQUIRED)
find_program(READELF readelf REQUIRED)

# The stand-in's "editor" mode opens an X11 window of its own.
target_link_libraries(fake_outpost PRIVATE PkgConfig::XCB)

file(GLOB editor_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/editor/*_test.cpp")
add_executable(editor_tests ${editor_test_sources})
target_link_libraries(editor_tests PRIVATE plugin_test_support)
target_include_directories(editor_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/editor")
target_compile_options(editor_tests PRIVATE ${QM_WARNINGS})
target_compile_definitions(editor_tests PRIVATE
    XVFB_PATH="${XVFB}" OPENBOX_PATH="${OPENBOX}" XDOTOOL_PATH="${XDOTOOL}" READELF_PATH="${READELF}")
add_dependencies(editor_tests fake_outpost QuillMarlow)
gtest_discover_tests(editor_tests DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 120 LABELS editor)
