# The viewer in headless Chromium (Debian's chromium package).
add_test(NAME Browser.viewer
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/viewer-test.py ${CMAKE_BINARY_DIR}/bin/velkory
          ${PROJECT_SOURCE_DIR}/../shared/corpus/chm/WinRing0.chm ${CMAKE_BINARY_DIR}/viewer-screenshot.png)
set_tests_properties(Browser.viewer PROPERTIES TIMEOUT 180 RUN_SERIAL ON)
