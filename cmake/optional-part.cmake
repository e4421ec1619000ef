# velkory_optional_part(<part> [ONLY_IF <variable>] [PKG <prefix> <module> ...]
#                       [JSON] MISSING <warning>)
#
# Whether the host builds one of its optional parts (serve, search, export):
# <part> is set ON, in the including directory and the one above it, when the
# part may be built here (never on Windows; with ONLY_IF, only where
# <variable> is true) and every library it needs is found: each pkg-config
# <module> (an imported target PkgConfig::<prefix>) and, with JSON,
# nlohmann-json. Else it is OFF and <warning> is said.
include_guard(GLOBAL)

macro(velkory_optional_part part)
  cmake_parse_arguments(VELKORY_PART "JSON" "ONLY_IF;MISSING" "PKG" ${ARGN})
  set(${part} OFF)
  if(VELKORY_PART_ONLY_IF)
    set(VELKORY_PART_ALLOWED ${${VELKORY_PART_ONLY_IF}})
  elseif(WIN32)
    set(VELKORY_PART_ALLOWED OFF)
  else()
    set(VELKORY_PART_ALLOWED ON)
  endif()
  if(VELKORY_PART_ALLOWED)
    set(VELKORY_PART_FOUND ON)
    find_package(PkgConfig QUIET)
    set(VELKORY_PART_LIST ${VELKORY_PART_PKG})
    while(VELKORY_PART_LIST)
      list(POP_FRONT VELKORY_PART_LIST VELKORY_PART_PREFIX VELKORY_PART_MODULE)
      if(PkgConfig_FOUND)
        pkg_check_modules(${VELKORY_PART_PREFIX} IMPORTED_TARGET ${VELKORY_PART_MODULE})
      endif()
      if(NOT ${VELKORY_PART_PREFIX}_FOUND)
        set(VELKORY_PART_FOUND OFF)
      endif()
    endwhile()
    if(VELKORY_PART_JSON)
      find_package(nlohmann_json 3 QUIET GLOBAL)
      if(NOT nlohmann_json_FOUND)
        set(VELKORY_PART_FOUND OFF)
      endif()
    endif()
    if(VELKORY_PART_FOUND)
      set(${part} ON)
    else()
      message(WARNING "${VELKORY_PART_MISSING}")
    endif()
  endif()
  set(${part} ${${part}} PARENT_SCOPE)
endmacro()
