# Hardening: the audio path watched for allocations, locks, sleeps and system
# calls (rt_guard), faults (outpost stopped, slow or missing), and the e2e
# versions against the real outpost under Wine.
add_library(rt_guard STATIC "${CMAKE_CURRENT_SOURCE_DIR}/hardening/rt_guard.cpp")
target_include_directories(rt_guard PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/hardening")
target_compile_options(rt_guard PRIVATE ${QM_WARNINGS})
target_link_libraries(rt_guard PUBLIC ${CMAKE_DL_LIBS})

# Native: the plug-in's code against fake_outpost. rt_guard's replacements
# must be in the program (a static library's object is only pulled in when
# referenced), hence the whole-archive link.
file(GLOB hardening_test_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/hardening/native/*_test.cpp")
add_executable(hardening_tests ${hardening_test_sources})
target_link_libraries(hardening_tests PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,rt_guard>" plugin_test_support)
target_compile_options(hardening_tests PRIVATE ${QM_WARNINGS})
set_target_properties(hardening_tests PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(hardening_tests fake_outpost)
# One at a time: they count blocks that a spinning partner answers in time,
# and a parallel test on a 2-core machine would starve it.
gtest_discover_tests(hardening_tests TEST_PREFIX "hardening." DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE LABELS hardening)

# Under Wine: the built bundle with the real outpost.exe and Quill.
file(GLOB hardening_e2e_sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/hardening/e2e/*_test.cpp")
add_executable(hardening_e2e_tests ${hardening_e2e_sources} "${CMAKE_CURRENT_SOURCE_DIR}/e2e/output_through_file.cpp")
target_link_libraries(hardening_e2e_tests PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,rt_guard>"
    quillmarlow_core GTest::gmock GTest::gtest_main)
target_include_directories(hardening_e2e_tests PRIVATE
    "${CMAKE_SOURCE_DIR}/served" "${CMAKE_CURRENT_SOURCE_DIR}/e2e" "${CMAKE_CURRENT_SOURCE_DIR}/hardening")
target_compile_options(hardening_e2e_tests PRIVATE ${QM_WARNINGS})
set_target_properties(hardening_e2e_tests PROPERTIES ENABLE_EXPORTS ON)
target_compile_definitions(hardening_e2e_tests PRIVATE
    QM_BUNDLE_SO="${QM_BUNDLE_DIR}/Contents/x86_64-linux/QuillMarlow.so"
    OUTPOST_EXE="${QM_BUNDLE_DIR}/Contents/Resources/outpost.exe"
    NULL_FACTORY_MODULE="${WINDOWS_BIN_DIR}/module_null_factory.dll"
    CRASHING_QUILL_BUNDLE="${CMAKE_BINARY_DIR}/windows/served/crashing/Quill.vst3"
    QM_HOST="$<TARGET_FILE:qm_host>" QM_BUNDLE_DIR="${QM_BUNDLE_DIR}"
    WINE_TEST_PREFIX="${WINE_TEST_PREFIX}"
    WINE_TEST_DISPLAY="${WINE_TEST_DISPLAY}")
add_dependencies(hardening_e2e_tests QuillMarlow bundle_outpost qm_host)
gtest_discover_tests(hardening_e2e_tests TEST_PREFIX "hardening." DISCOVERY_TIMEOUT 30 PROPERTIES
    FIXTURES_REQUIRED wineprefix
    RUN_SERIAL TRUE
    LABELS e2e
    TIMEOUT 180)

# libFuzzer targets, built with clang in <build>/fuzz from the same sources
# (tests/fuzz/fuzz_build.cmake). Each runs for a bounded time from its seed
# corpus in tests/fuzz/corpus/<target>; new inputs go to a scratch folder.
find_program(CLANG_CXX clang++ REQUIRED)
find_program(CLANG_C clang REQUIRED)
ExternalProject_Add(fuzz
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${CMAKE_BINARY_DIR}/fuzz"
    CMAKE_ARGS
        -DQM_FUZZ_BUILD=ON
        -DCMAKE_CXX_COMPILER=${CLANG_CXX}
        -DCMAKE_C_COMPILER=${CLANG_C}
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
        -DVST3_SDK_ROOT=${VST3_SDK_ROOT}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
set(QM_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs in the tests")
foreach(target setstate memory_stream application parameters events)
    add_test(NAME fuzz.${target}
        COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run-fuzzer.sh"
                "${CMAKE_BINARY_DIR}/fuzz/${target}_fuzzer"
                "${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${target}" ${QM_FUZZ_SECONDS})
    # Alone: a fuzzer takes a whole core, which timing-sensitive tests beside
    # it on a 2-core machine would miss.
    set_tests_properties(fuzz.${target} PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE LABELS "fuzz;hardening")
endforeach()
