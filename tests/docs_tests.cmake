# The documentation: every file docs/architecture.md names exists.
add_test(NAME docs.architectureNamesOnlyFilesThatExist
         COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/check_docs.sh" "${CMAKE_SOURCE_DIR}")
set_tests_properties(docs.architectureNamesOnlyFilesThatExist PROPERTIES LABELS docs TIMEOUT 30)
