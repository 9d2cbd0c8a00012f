# One style: every source of ours is formatted as .clang-format says.
add_test(NAME style.sourcesAreFormatted COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/check_style.sh" "${CMAKE_SOURCE_DIR}")
set_tests_properties(style.sourcesAreFormatted PROPERTIES LABELS style TIMEOUT 120)
