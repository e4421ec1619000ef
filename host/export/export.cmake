# velkory export (included by host/CMakeLists.txt, so paths are relative to
# host/): the whole book out as EPUB, one HTML file, Markdown, text or JSON
# lines. The EPUB's zip goes through libzip and pages are repaired by gumbo's
# HTML parser (Debian's libzip-dev and libgumbo-dev), in a program of its
# own, velkory-export, so that loading libzip (and with it libcrypto) does not
# slow down every other command; velkory hands export over to it
# (export/relay.cpp). Not in the Windows build: the two libraries are not
# there for the cross compiler.
include(${PROJECT_SOURCE_DIR}/cmake/optional-part.cmake)
velkory_optional_part(VELKORY_EXPORT PKG VELKORY_LIBZIP libzip VELKORY_GUMBO gumbo JSON
  MISSING "libzip, gumbo or nlohmann-json not found (packages libzip-dev, libgumbo-dev, nlohmann-json3-dev): velkory is built without export")

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
