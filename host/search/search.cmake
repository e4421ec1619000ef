# velkory search (included by host/CMakeLists.txt after serve/serve.cmake, so
# paths are relative to host/): the search engine, Xapian (Debian's
# libxapian-dev), with the search command, linked into velkory-serve alone;
# velkory links commands/search_relay.cpp in their place, which hands search
# over to velkory-serve, so that no other command loads Xapian at start. The
# cache and the shelf (no Xapian) are in every program, for clean --cache.
# Not in the Windows build: Debian ships Xapian for the native system only.
set(VELKORY_SEARCH OFF)
if(VELKORY_SERVE)
  pkg_check_modules(VELKORY_XAPIAN IMPORTED_TARGET xapian-core)
  if(VELKORY_XAPIAN_FOUND)
    set(VELKORY_SEARCH ON)
  else()
    message(WARNING "Xapian not found (package libxapian-dev): velkory is built without search")
  endif()
endif()
set(VELKORY_SEARCH ${VELKORY_SEARCH} PARENT_SCOPE)

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
