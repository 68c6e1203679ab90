# The installed layout and the Debian package: programs and tools in bin/, the device root in
# lib/quillnet, desktop entries, icons and man pages under share/.
set(QN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(FILES ${QN_PACKAGING_DIR}/desktop/quillnet-vt.desktop
              ${QN_PACKAGING_DIR}/desktop/quillnet-tn.desktop
        DESTINATION share/applications)
install(FILES ${QN_PACKAGING_DIR}/desktop/quillnet-vt.svg ${QN_PACKAGING_DIR}/desktop/quillnet-tn.svg
        DESTINATION share/icons/hicolor/scalable/apps)

# Man pages carry the build's version and are installed compressed, as Debian wants them.
find_program(QN_GZIP gzip REQUIRED)
file(GLOB qn_man_pages ${QN_PACKAGING_DIR}/man/*.1)
set(qn_man_outputs "")
foreach(page IN LISTS qn_man_pages)
  get_filename_component(name ${page} NAME)
  set(QN_VERSION ${PROJECT_VERSION})
  configure_file(${page} ${CMAKE_BINARY_DIR}/man/${name} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${name}.gz
    COMMAND ${QN_GZIP} -9nf -k ${CMAKE_BINARY_DIR}/man/${name}
    DEPENDS ${CMAKE_BINARY_DIR}/man/${name})
  list(APPEND qn_man_outputs ${CMAKE_BINARY_DIR}/man/${name}.gz)
endforeach()
add_custom_target(qn_man_pages ALL DEPENDS ${qn_man_outputs})
install(FILES ${qn_man_outputs} DESTINATION share/man/man1)

# Debian wants a copyright file and a changelog in the package's documentation folder.
configure_file(${QN_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${QN_GZIP} -9nf -k ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog)
add_custom_target(qn_package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${QN_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION share/doc/quillnet)

# The device root's plugins are installed as files, which a stripping install leaves as they are.
find_program(QN_STRIP NAMES ${CMAKE_STRIP} strip REQUIRED)
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB plugins \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/quillnet/*.so\")
    foreach(plugin IN LISTS plugins)
      execute_process(COMMAND \"${QN_STRIP}\" --strip-unneeded \"\${plugin}\")
    endforeach()
  endif()")

set(CPACK_PACKAGE_NAME quillnet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QuillNet maintainers <packaging@quillnet.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "terminals for handhelds with a barcode reader")
set(CPACK_PACKAGE_DESCRIPTION
    "QuillNet_VT (VT100 over telnet) and QuillNetTN (IBM 5250 over TN5250E),\n with the simulated handheld's device root and the settings, scan and session\n tools.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plugins of the device root are loaded by the programs, not linked: their dependencies
# count all the same.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/device)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
