# The installed tool's own tests: manual page, completion, Debian package.
foreach(part man bash zsh deb)
  add_test(NAME Packaging.${part}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/packaging-test.sh ${part} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
endforeach()
set_tests_properties(Packaging.deb PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
