# Installation layout and the Debian package (cpack -G DEB, run by
# scripts/package). Everything lands under /usr in the package.

set(TESSARINE_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TESSARINE_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)

if(TARGET tessarine)
  install(TARGETS tessarine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tessarine-cli)
  install(TARGETS tessarine-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Debian wants manual pages and the changelog compressed with gzip -9n (no
# name or time stamp inside, so the package is the same on every build).
find_program(GZIP_PROGRAM gzip REQUIRED)
configure_file(${TESSARINE_PACKAGING_DIR}/changelog.in ${TESSARINE_PACKAGING_OUT}/changelog @ONLY)
set(compressed "")
foreach(source IN ITEMS ${TESSARINE_PACKAGING_DIR}/tessarine.1 ${TESSARINE_PACKAGING_DIR}/tessarine-cli.1
                        ${TESSARINE_PACKAGING_OUT}/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${TESSARINE_PACKAGING_OUT}/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${compressed})

# The pages are Portuguese like the programs; they go to the untranslated
# section as well so that `man tessarine-cli` finds them in any locale.
foreach(manDir ${CMAKE_INSTALL_MANDIR}/man1 ${CMAKE_INSTALL_MANDIR}/pt_BR/man1)
  install(FILES ${TESSARINE_PACKAGING_OUT}/tessarine.1.gz ${TESSARINE_PACKAGING_OUT}/tessarine-cli.1.gz
          DESTINATION ${manDir})
endforeach()
install(FILES ${TESSARINE_PACKAGING_DIR}/tessarine.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TESSARINE_PACKAGING_DIR}/tessarine.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TESSARINE_PACKAGING_DIR}/tessarine.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
install(FILES ${TESSARINE_PACKAGING_DIR}/copyright ${TESSARINE_PACKAGING_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessarine)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessarine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair tool for corrupt Firebird databases")
set(CPACK_PACKAGE_DESCRIPTION
  "Tessarine repairs corrupt Firebird databases through the Firebird server\n\
running on the same machine. It checks that nobody else is attached, copies\n\
the file aside, validates and mends it, backs it up and restores the backup\n\
into a new database. When foreign keys cannot be activated because parent\n\
rows were lost, it brings those rows back from an older backup and restores\n\
once more.\n\
.\n\
The package holds the desktop program (tessarine) and the command-line\n\
program (tessarine-cli). Both speak Brazilian Portuguese.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TESSARINE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libfbclient2 is loaded at run time (dlopen), so shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libfbclient2)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS firebird3.0-server)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
