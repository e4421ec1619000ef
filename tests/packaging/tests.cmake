# The installed tool's own tests: manual page, completion, Debian package.
foreach(part man bash zsh deb)
  add_test(NAME Packaging.${part}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/packaging-test.sh ${part} ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
endforeach()
# Builds under the sanitizers keep the shared C++ runtime.
if(VELKORY_SANITIZE)
  set(VELKORY_RUNTIME_KIND shared)
else()
  set(VELKORY_RUNTIME_KIND static)
endif()
set_tests_properties(Packaging.deb PROPERTIES TIMEOUT 300 RUN_SERIAL ON
  ENVIRONMENT VELKORY_CXX_RUNTIME=${VELKORY_RUNTIME_KIND})
