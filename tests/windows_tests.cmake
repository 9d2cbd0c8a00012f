# Windows-side test programs (built by the `windows` sub-build) run under
# Wine. The fixture `wineprefix` creates a Wine prefix in this build tree,
# installs the served plug-in at the fixed path outpost loads it from, starts
# an Xvfb for the prefix's windows and keeps the prefix's wineserver running;
# its cleanup stops both. Tests that use Wine require the fixture and take
# the environment in WINE_TEST_ENVIRONMENT.
set(WINE_TEST_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(WINE_TEST_BUNDLE "${CMAKE_BINARY_DIR}/windows/served/Quill.vst3")
# One display per build tree, so that two build trees can test side by side.
string(MD5 _display_hash "${CMAKE_BINARY_DIR}")
string(SUBSTRING "${_display_hash}" 0 4 _display_hex)
math(EXPR _display_number "0x${_display_hex} % 400 + 150")
set(WINE_TEST_DISPLAY ":${_display_number}")
set(WINE_TEST_ENVIRONMENT
    "WINEPREFIX=${WINE_TEST_PREFIX}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "DISPLAY=${WINE_TEST_DISPLAY}")

add_test(NAME wineprefix.setup
    COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh" "${WINE_TEST_PREFIX}" "${WINE_TEST_BUNDLE}"
            "${WINE_TEST_DISPLAY}")
set_tests_properties(wineprefix.setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 180)
add_test(NAME wineprefix.cleanup
    COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-prefix-stop.sh" "${WINE_TEST_PREFIX}")
set_tests_properties(wineprefix.cleanup PROPERTIES FIXTURES_CLEANUP wineprefix TIMEOUT 60)

foreach(program outpost_loader_tests outpost_quill_tests outpost_editor_tests outpost_entry_tests)
    add_test(NAME windows.${program}
        COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/wine-run.sh" "${WINDOWS_BIN_DIR}/${program}.exe")
    set_tests_properties(windows.${program} PROPERTIES
        FIXTURES_REQUIRED wineprefix
        ENVIRONMENT "${WINE_TEST_ENVIRONMENT}"
        TIMEOUT 120)
endforeach()
