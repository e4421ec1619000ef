# velkory export (included by host/CMakeLists.txt, so paths are relative to
# host/): the whole book out as EPUB, one HTML file, Markdown, text or JSON
# lines. The EPUB's zip goes through libzip and pages are repaired by gumbo's
# HTML parser (Debian's libzip-dev and libgumbo-dev), in a program of its
# own, velkory-export, so that loading libzip (and with it libcrypto) does not
# slow down every other command; velkory hands export over to it
# (export/relay.cpp). Not in the Windows build: the two libraries are not
# there for the cross compiler.
set(VELKORY_EXPORT OFF)
if(NOT WIN32)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(VELKORY_LIBZIP IMPORTED_TARGET libzip)
    pkg_check_modules(VELKORY_GUMBO IMPORTED_TARGET gumbo)
  endif()
  find_package(nlohmann_json 3 QUIET)
  if(VELKORY_LIBZIP_FOUND AND VELKORY_GUMBO_FOUND AND nlohmann_json_FOUND)
    set(VELKORY_EXPORT ON)
  else()
    message(WARNING "libzip, gumbo or nlohmann-json not found (packages libzip-dev, libgumbo-dev, nlohmann-json3-dev): velkory is built without export")
  endif()
endif()
set(VELKORY_EXPORT ${VELKORY_EXPORT} PARENT_SCOPE)

if(VELKORY_EXPORT)
  file(GLOB VELKORY_EXPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/export/*.cpp)
  list(REMOVE_ITEM VELKORY_EXPORT_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/export/relay.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/export/names.cpp)
  add_library(velkory_export_objects OBJECT ${VELKORY_EXPORT_SOURCES})
  target_compile_options(velkory_export_objects PRIVATE ${VELKORY_WARNINGS})
  target_link_libraries(velkory_export_objects PUBLIC velkory_host_parts
    PkgConfig::VELKORY_LIBZIP PkgConfig::VELKORY_GUMBO nlohmann_json::nlohmann_json)
  target_compile_definitions(velkory_host_parts PUBLIC VELKORY_HAVE_EXPORT=1)
endif()
