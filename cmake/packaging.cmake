# What `cmake --install` puts where, the manual pages, and the Debian
# package made by CPack (`make package`).
include(GNUInstallDirs)

install(TARGETS dravolin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET dravolin-wizard)
  install(TARGETS dravolin-wizard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The data folder: the programs look for it at ../share/dravolin beside them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/dravolin)

set(app_id org.dravolin.Dravolin)
configure_file(${PROJECT_SOURCE_DIR}/packaging/${app_id}.metainfo.xml
               ${CMAKE_BINARY_DIR}/packaging/${app_id}.metainfo.xml @ONLY)
if(TARGET dravolin-wizard)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/${app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/data/dravolin.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${app_id}.svg)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/dravolin.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dravolin)
# bash-completion loads a file by the command's name.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/dravolin.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dravolin-wizard)

# The package is not uploaded to Debian, so its changelog closes no Debian bug.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/dravolin.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME dravolin)

# Debian's documentation folder: copyright and the package's changelog, gzipped.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME changelog.Debian.gz)

# Manual pages from --help, made by help2man at build time.
find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(man_dir ${CMAKE_BINARY_DIR}/man)
  set(man_programs $<TARGET_FILE:dravolin>)
  set(man_depends dravolin)
  if(TARGET dravolin-wizard)
    list(APPEND man_programs $<TARGET_FILE:dravolin-wizard>)
    list(APPEND man_depends dravolin-wizard)
  endif()
  add_custom_command(OUTPUT ${man_dir}/dravolin.1.gz
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-man-pages ${man_dir} ${PROJECT_VERSION} ${man_programs}
    DEPENDS ${man_depends} ${PROJECT_SOURCE_DIR}/scripts/make-man-pages
    COMMENT "Manual pages from --help")
  add_custom_target(man_pages ALL DEPENDS ${man_dir}/dravolin.1.gz)
  install(DIRECTORY ${man_dir}/ DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 FILES_MATCHING PATTERN "*.1.gz")
else()
  message(STATUS "help2man not found: no manual pages (scripts/install-deps package)")
endif()

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dravolin)
set(CPACK_PACKAGE_VENDOR "The Dravolin developers")
set(CPACK_PACKAGE_CONTACT "Dravolin maintainers <maintainers@users.noreply.c-seed-3d006e01.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover files, partitions and disk images from damaged disks")
set(CPACK_PACKAGE_DESCRIPTION "Dravolin reads disks and disk images sector by sector, below the
file-system drivers; lists partitions; rebuilds the folder trees of FAT12,
FAT16, FAT32 and NTFS volumes with deleted and orphaned files; copies what
you pick to another drive; carves files by signature; and makes sector
images of failing disks. It never writes to the disk it recovers from.
It has a command line, dravolin, and a desktop wizard, dravolin-wizard.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The wizard's artwork is SVG, drawn by Qt's SVG plug-in, which no linked
# library names.
if(TARGET dravolin-wizard)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, pkexec")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
