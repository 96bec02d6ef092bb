# Installation and the Debian packages.
#
# `cmake --install build` puts the program in bin/, the graphical windows
# module in <libdir>/vellumtide/ (where the program looks for it when it is not
# beside the program), the manual pages in share/man/man1 and
# share/man/ja/man1, and the README in share/doc/vellumtide.
#
# The files belong to two components, which CPack turns into two Debian
# packages: "program" (vellumtide: the program, the terminal and none ways,
# the manual pages) and "gui" (vellumtide-gui: the module). Their
# dependencies are computed from the binaries by dpkg-shlibdeps.
# scripts/package.sh configures a build with -DVLT_PACKAGE_DEB=ON and runs
# CPack.
include(GNUInstallDirs)

option(VLT_PACKAGE_DEB "Install the Debian changelog and copyright files of the packages" OFF)

set(VLT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc)

# The manual pages, with the version filled in, compressed as man reads them.
find_program(VLT_GZIP gzip REQUIRED)
set(vlt_pages "")
foreach(lang_dir "" "ja/")
  set(page_in ${PROJECT_SOURCE_DIR}/man/${lang_dir}vellumtide.1)
  set(page ${PROJECT_BINARY_DIR}/man/${lang_dir}man1/vellumtide.1)
  configure_file(${page_in} ${page} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${VLT_GZIP} -9nc ${page} > ${page}.gz
    DEPENDS ${page_in} ${page}
    COMMENT "Compressing the manual page ${lang_dir}vellumtide.1")
  list(APPEND vlt_pages ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${lang_dir}man1 COMPONENT program)
endforeach()
add_custom_target(vlt_manual_pages ALL DEPENDS ${vlt_pages})

if(TARGET vellumtide)
  install(TARGETS vellumtide RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
endif()
if(TARGET vlt_gui_module)
  install(TARGETS vlt_gui_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/vellumtide
          COMPONENT gui)
endif()
install(FILES README.md DESTINATION ${VLT_DOC_DIR}/vellumtide COMPONENT program)

if(VLT_PACKAGE_DEB)
  # Each package carries its copyright file and a compressed changelog.
  set(vlt_changelog ${PROJECT_BINARY_DIR}/debian/changelog)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${vlt_changelog} @ONLY)
  add_custom_command(OUTPUT ${vlt_changelog}.gz
    COMMAND ${VLT_GZIP} -9nc ${vlt_changelog} > ${vlt_changelog}.gz
    DEPENDS ${vlt_changelog})
  add_custom_target(vlt_debian_changelog ALL DEPENDS ${vlt_changelog}.gz)
  foreach(pkg_component "vellumtide;program" "vellumtide-gui;gui")
    list(GET pkg_component 0 pkg)
    list(GET pkg_component 1 component)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
            DESTINATION ${VLT_DOC_DIR}/${pkg} COMPONENT ${component})
    install(FILES ${vlt_changelog}.gz RENAME changelog.gz
            DESTINATION ${VLT_DOC_DIR}/${pkg} COMPONENT ${component})
  endforeach()
endif()

# The two Debian packages.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellumtide)
set(CPACK_PACKAGE_VENDOR "The Vellumtide developers")
set(CPACK_PACKAGE_CONTACT "The Vellumtide developers <vellumtide@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program gui)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/vellumtide")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME vellumtide)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME vellumtide-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "vellumtide (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GUI_PACKAGE_ENHANCES vellumtide)
# The first line is the summary; CPack indents the lines after it.
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
 "command-line mail sender for Japanese mail
Vellumtide sends one Japanese message per run through an SMTP server:
ISO-2022-JP text with RFC 2047 header words and one base64 attachment,
after SMTP AUTH or a POP-before-SMTP login, optionally over TLS.
It is made for scripts and batch jobs; missing parameters are asked for
on the terminal. The graphical windows are in the vellumtide-gui package.")
set(CPACK_COMPONENT_GUI_DESCRIPTION
 "graphical windows for the Vellumtide mail sender
Vellumtide sends one Japanese message per run through an SMTP server.
This package adds its graphical windows (FLTK on X11): the parameter
re-entry window, the settings entry window and the message window.
Vellumtide loads them only when a window is to be shown.")
include(CPack)
