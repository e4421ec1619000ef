# The viewer in headless Chromium (Debian's chromium package), driven by
# puppeteer-core from npm, which the first test installs beside the build.
set(VELKORY_BROWSER_MODULES ${CMAKE_BINARY_DIR}/browser-modules)
add_test(NAME Browser.modules
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install-modules.sh ${CMAKE_CURRENT_LIST_DIR} ${VELKORY_BROWSER_MODULES})
set_tests_properties(Browser.modules PROPERTIES FIXTURES_SETUP browser_modules TIMEOUT 600)

function(velkory_browser_test name script)
  add_test(NAME Browser.${name} COMMAND node ${CMAKE_CURRENT_LIST_DIR}/${script} ${ARGN})
  # 77: skipped (without the shared corpus), reported as such.
  set_tests_properties(Browser.${name} PROPERTIES
    FIXTURES_REQUIRED browser_modules SKIP_RETURN_CODE 77 TIMEOUT 300 RUN_SERIAL ON
    ENVIRONMENT "VELKORY_BROWSER_MODULES=${VELKORY_BROWSER_MODULES}")
endfunction()

velkory_browser_test(viewer viewer-test.mjs ${CMAKE_BINARY_DIR}/bin/velkory
  ${PROJECT_SOURCE_DIR}/../shared/corpus/chm/WinRing0.chm ${CMAKE_BINARY_DIR}/viewer-screenshot.png)
velkory_browser_test(a11y a11y-test.mjs ${CMAKE_BINARY_DIR}/bin/velkory
  ${PROJECT_SOURCE_DIR}/../shared/corpus/chm)
