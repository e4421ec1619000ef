# velkory serve and browse (included by host/CMakeLists.txt, so paths are
# relative to host/): an HTTP server (cpp-httplib, from Debian's
# libcpp-httplib-dev), JSON written with nlohmann-json3-dev, and the viewer's
# files, embedded at build time, in a program of their own, velkory-serve, so
# that loading cpp-httplib (and with it OpenSSL) does not slow down every
# other command. Not in the Windows
# build: Debian ships cpp-httplib for the native system only.
include(${PROJECT_SOURCE_DIR}/cmake/optional-part.cmake)
# The viewer searches with the search room's engine (search.cmake): Xapian.
velkory_optional_part(VELKORY_SERVE PKG VELKORY_HTTPLIB cpp-httplib VELKORY_XAPIAN xapian-core JSON
  MISSING "cpp-httplib, nlohmann-json or Xapian not found (packages libcpp-httplib-dev, nlohmann-json3-dev, libxapian-dev): velkory is built without serve, browse and search")

if(VELKORY_SERVE)
  file(GLOB VELKORY_VIEWER_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/serve/viewer/*)
  set(VELKORY_VIEWER_SOURCE ${CMAKE_CURRENT_BINARY_DIR}/viewer.cpp)
  add_custom_command(OUTPUT ${VELKORY_VIEWER_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DDIR=${CMAKE_CURRENT_SOURCE_DIR}/serve/viewer
            -DOUTPUT=${VELKORY_VIEWER_SOURCE} -P ${PROJECT_SOURCE_DIR}/cmake/embed-files.cmake
    DEPENDS ${VELKORY_VIEWER_FILES} ${PROJECT_SOURCE_DIR}/cmake/embed-files.cmake
    COMMENT "Embedding the viewer"
    VERBATIM)
  # The server's objects, for velkory-serve and the host tests; the parts
  # list the commands (VELKORY_HAVE_SERVE) and the program that links them
  # chooses who runs them: these objects, or velkory's relay.
  file(GLOB VELKORY_SERVE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/serve/*.cpp)
  list(REMOVE_ITEM VELKORY_SERVE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/serve/relay.cpp)
  add_library(velkory_serve_objects OBJECT ${VELKORY_SERVE_SOURCES} ${VELKORY_VIEWER_SOURCE})
  target_compile_options(velkory_serve_objects PRIVATE ${VELKORY_WARNINGS})
  target_link_libraries(velkory_serve_objects PUBLIC velkory_host_parts PkgConfig::VELKORY_HTTPLIB
                        nlohmann_json::nlohmann_json pthread)
  target_compile_definitions(velkory_host_parts PUBLIC VELKORY_HAVE_SERVE=1)
endif()

# The server's tests read its JSON with the same library, and build indexes
# as another process would with the search room; their target is made after
# this directory.
function(velkory_serve_test_links)
  if(TARGET test_serve AND VELKORY_SERVE)
    target_link_libraries(test_serve PRIVATE nlohmann_json::nlohmann_json velkory_search_objects
                          velkory_host_parts)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL velkory_serve_test_links)
