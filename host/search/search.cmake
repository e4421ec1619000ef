# velkory search (included by host/CMakeLists.txt after serve/serve.cmake, so
# paths are relative to host/): the search engine, Xapian (Debian's
# libxapian-dev), with the search command, linked into velkory-serve alone;
# velkory links commands/search_relay.cpp in their place, which hands search
# over to velkory-serve, so that no other command loads Xapian at start. The
# cache and the shelf (no Xapian) are in every program, for clean --cache.
# Not in the Windows build: Debian ships Xapian for the native system only.
include(${PROJECT_SOURCE_DIR}/cmake/optional-part.cmake)
velkory_optional_part(VELKORY_SEARCH ONLY_IF VELKORY_SERVE PKG VELKORY_XAPIAN xapian-core
  MISSING "Xapian not found (package libxapian-dev): velkory is built without search")

if(VELKORY_SEARCH)
  target_sources(velkory_host_parts PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/search/cache.cpp ${CMAKE_CURRENT_SOURCE_DIR}/search/shelf.cpp)
  target_compile_definitions(velkory_host_parts PUBLIC VELKORY_HAVE_SEARCH=1)
  add_library(velkory_search_objects OBJECT
    ${CMAKE_CURRENT_SOURCE_DIR}/search/page_text.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/search/terms.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/search/build.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/search/query.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/search/phrases.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/search/snippets.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/commands/search.cpp)
  target_compile_options(velkory_search_objects PRIVATE ${VELKORY_WARNINGS})
  target_link_libraries(velkory_search_objects PUBLIC velkory_host_parts PkgConfig::VELKORY_XAPIAN pthread)
endif()
