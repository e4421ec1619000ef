# Installing Velkory, and the packages CPack makes of it.
#
# Linux: velkory in bin/, the module, velkory-serve and velkory-export in <libdir>/velkory/
# (where the installed program looks for them), the manual page velkory(1),
# bash and zsh completion, the README. `cpack -G DEB` makes a Debian package of that.
# Windows: velkory.exe, velkory.dll and README.md side by side; `cpack -G ZIP`.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS velkory_host velkory_module RUNTIME DESTINATION . LIBRARY DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "velkory-${PROJECT_VERSION}-win32")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(VELKORY_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/velkory)
  file(RELATIVE_PATH VELKORY_MODULE_FROM_BIN
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
    ${CMAKE_INSTALL_PREFIX}/${VELKORY_MODULE_DIR}/libvelkory.so)
  target_compile_definitions(velkory_host_parts PRIVATE VELKORY_INSTALLED_MODULE="${VELKORY_MODULE_FROM_BIN}")
  install(TARGETS velkory_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS velkory_module LIBRARY DESTINATION ${VELKORY_MODULE_DIR})
  # velkory-serve and velkory-export beside the module, which they then find
  # beside themselves; velkory runs them in its place (user, through the
  # compile definition define, knows their path from bin/).
  function(velkory_install_beside_module target program user define)
    file(RELATIVE_PATH from_bin
      ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
      ${CMAKE_INSTALL_PREFIX}/${VELKORY_MODULE_DIR}/${program})
    target_compile_definitions(${user} PRIVATE ${define}="${from_bin}")
    install(TARGETS ${target} RUNTIME DESTINATION ${VELKORY_MODULE_DIR})
  endfunction()
  if(TARGET velkory_serve)
    velkory_install_beside_module(velkory_serve velkory-serve velkory_host_parts
      VELKORY_INSTALLED_SERVER)
  endif()
  if(TARGET velkory_export)
    # export runs it, with libzip and gumbo.
    velkory_install_beside_module(velkory_export velkory-export velkory_host
      VELKORY_INSTALLED_EXPORTER)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/velkory.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/velkory.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME velkory)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/_velkory
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION doc)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # /etc/mime.types for the server's media types and libzip for export's
  # EPUB (dpkg-shlibdeps finds it too); a browser opener, text renderers and
  # pandoc (export to Markdown) are welcome but not needed.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "media-types, libzip4")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, w3m | lynx, less, pandoc")
endif()

set(CPACK_PACKAGE_NAME velkory)
set(CPACK_PACKAGE_VENDOR "Velkory")
set(CPACK_PACKAGE_CONTACT "Velkory developers <velkory@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "context help from Compiled HTML Help files, in the terminal and the browser")
set(CPACK_PACKAGE_DESCRIPTION "Velkory answers 'help on this word' from Compiled HTML Help files (.chm): a plug-in module and its terminal host, which finds topics by title, shows pages as text, and serves whole help files to the browser with their contents, index and search.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
include(CPack)
