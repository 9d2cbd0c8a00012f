# End-to-end tests under Wine: the real outpost.exe serving the real Quill in
# the test prefix (fixture `wineprefix`), driven through the shared file
# directly and through the built bundle loaded with dlopen. They run one at a
# time: each keeps two cores spinning (the host's wait and outpost's audio
# thread), and a third busy program would make blocks miss the spin bound.
file(GLOB e2e_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/e2e/*_test.cpp")
list(APPEND e2e_test_sources "${CMAKE_CURRENT_SOURCE_DIR}/e2e/output_through_file.cpp")
add_executable(e2e_tests ${e2e_test_sources})
# A host that quits with instances alive (exit_test.cpp).
add_executable(exit_host host/exit_host.cpp)
target_link_libraries(exit_host PRIVATE vst3sdk PkgConfig::XCB Threads::Threads)
target_compile_options(exit_host PRIVATE ${QM_WARNINGS})
target_link_libraries(e2e_tests PRIVATE quillmarlow_core PkgConfig::XCB PkgConfig::SNDFILE PNG::PNG GTest::gmock GTest::gtest_main)
target_include_directories(e2e_tests PRIVATE "${CMAKE_SOURCE_DIR}/served" "${CMAKE_CURRENT_SOURCE_DIR}/e2e"
    "${CMAKE_CURRENT_SOURCE_DIR}/editor")
target_compile_options(e2e_tests PRIVATE ${QM_WARNINGS})
target_compile_definitions(e2e_tests PRIVATE
    QM_BUNDLE_SO="${QM_BUNDLE_DIR}/Contents/x86_64-linux/QuillMarlow.so"
    OUTPOST_EXE="${QM_BUNDLE_DIR}/Contents/Resources/outpost.exe"
    VST3HOST="$<TARGET_FILE:vst3host>"
    EXIT_HOST="$<TARGET_FILE:exit_host>"
    WINE_TEST_PREFIX="${WINE_TEST_PREFIX}"
    QUILL_NOEDITOR_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/noeditor/Quill.vst3"
    QUILL_LOOKAHEAD_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/lookahead/Quill.vst3"
    QUILL_SESSION_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/session/Quill.vst3"
    QUILL_PARAMETERS_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/parameters/Quill.vst3"
    QUILL_MIDI_MAPPING_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/midi_mapping/Quill.vst3"
    QUILL_FLOOD_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/flood/Quill.vst3"
    SERVED_DIR="${CMAKE_BINARY_DIR}/windows/served"
    QUILLMARLOW="$<TARGET_FILE:quillmarlow>"
    QUILL_BLOCKSTATE_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/blockstate/Quill.vst3"
    QUILL_MESSAGETHREAD_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/messagethread/Quill.vst3"
    QUILL_CENSUS_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/census/Quill.vst3"
    QUILL_SHAPES_DIR="${CMAKE_BINARY_DIR}/windows/served"
    WINE_TEST_DISPLAY="${WINE_TEST_DISPLAY}"
    QM_TEST_PICTURES="${CMAKE_BINARY_DIR}/test-pictures"
    OPENBOX_PATH="${OPENBOX}" XDOTOOL_PATH="${XDOTOOL}")
add_dependencies(e2e_tests QuillMarlow bundle_outpost vst3host exit_host quillmarlow)
gtest_discover_tests(e2e_tests DISCOVERY_TIMEOUT 30 PROPERTIES
    FIXTURES_REQUIRED wineprefix
    RUN_SERIAL TRUE
    LABELS e2e
    TIMEOUT 180)

# The tests of state, parameters, events, buses, the session and editors once
# more with every instance of the test process in one group, served by one
# outpost (two instances with outposts of their own are not what it checks).
add_test(NAME grouped.e2eTestsWithEveryInstanceInOneGroup
    COMMAND e2e_tests "--gtest_filter=Bridge.*:State.*:Parameters.*:Events.*:Session.*:Buses.*:MidiMapping.*:MadeEditors.EachOpensDrawsAndRepaintsAfterADrag-Bridge.TwoProcessorsEachHaveTheirOwnOutpost")
set_tests_properties(grouped.e2eTestsWithEveryInstanceInOneGroup PROPERTIES
    ENVIRONMENT QUILLMARLOW_GROUP=session FIXTURES_REQUIRED wineprefix RUN_SERIAL TRUE LABELS e2e TIMEOUT 600)

# `make demo` as a new user runs it, on a scratch copy of the built products.
add_test(NAME demo.announcedFilesExist
    COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/run-logged.sh"
            bash "${CMAKE_CURRENT_SOURCE_DIR}/demo_test.sh" "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}")
set_tests_properties(demo.announcedFilesExist PROPERTIES RUN_SERIAL TRUE LABELS e2e TIMEOUT 300)

# The Debian package built from the tree, unpacked, its quillmarlow syncing
# the test prefix and the made bundle serving the test effect.
add_test(NAME deb.unpackedSyncServesTheTestEffect
    COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/deb_test.sh" "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}")
set_tests_properties(deb.unpackedSyncServesTheTestEffect PROPERTIES
    FIXTURES_REQUIRED wineprefix
    ENVIRONMENT "${WINE_TEST_ENVIRONMENT}"
    RUN_SERIAL TRUE
    LABELS e2e
    TIMEOUT 180)
