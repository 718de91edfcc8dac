# Install rules and the Debian package (CPack DEB): the program with its
# update-check module, q714 (the command line) with its chart helper, manual
# page, bash completion and schema document, the simulator, the desktop entry
# with its icon, the adapter's udev rule, and the Debian documents lintian
# expects. `./scripts/package` builds the .deb into build/.
include(GNUInstallDirs)

set(Q714_PACKAGE_NAME q714-7r-dravonel-spi)
set(Q714_PACKAGE_MAINTAINER "Norvane test tools <tools@norvane.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
# Installed directories are world-readable whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS Q714_7R_Dravonel_SPI q714 q714-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# q714 draws the error map's chart through this helper, so that it needs no
# graphics library itself; it looks for it in lib/q714-7r-dravonel-spi.
install(TARGETS q714-chart RUNTIME DESTINATION lib/${Q714_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/completion/q714
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
# The update check's network module, where the program looks for it: in
# lib/q714-7r-dravonel-spi beside the folder of the program.
install(TARGETS update-transfer LIBRARY DESTINATION lib/${Q714_PACKAGE_NAME}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# udev reads lib/udev/rules.d under /usr (and /usr/local), not under lib64 or
# a multiarch folder, so this path is not CMAKE_INSTALL_LIBDIR.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/60-q714-7r.rules DESTINATION lib/udev/rules.d)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${Q714_PACKAGE_NAME}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/${Q714_PACKAGE_NAME}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian's copyright file, a changelog entry for this version and the manual
# pages, compressed the way Debian does it (gzip -9n: no name or time stamp).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(Q714_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
string(TIMESTAMP Q714_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${Q714_PACKAGING_OUT}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${Q714_PACKAGING_OUT}/copyright @ONLY)
foreach(page Q714_7R_Dravonel_SPI.1 q714.1 q714-sim.1)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/man/${page} ${Q714_PACKAGING_OUT}/${page} COPYONLY)
endforeach()
foreach(file changelog Q714_7R_Dravonel_SPI.1 q714.1 q714-sim.1)
  execute_process(COMMAND ${GZIP_PROGRAM} -9nf ${Q714_PACKAGING_OUT}/${file}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${Q714_PACKAGING_OUT}/copyright ${Q714_PACKAGING_OUT}/changelog.gz
              ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/plans.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${Q714_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/examples/README.md ${PROJECT_SOURCE_DIR}/examples/end-of-line.toml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${Q714_PACKAGE_NAME}/examples)
install(FILES ${Q714_PACKAGING_OUT}/Q714_7R_Dravonel_SPI.1.gz ${Q714_PACKAGING_OUT}/q714.1.gz
              ${Q714_PACKAGING_OUT}/q714-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${Q714_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Norvane)
set(CPACK_PACKAGE_CONTACT ${Q714_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "test and configuration tool for Ulvax-2 & Ulvax-4 SPI encoders")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the Q714-7R USB interface adapter, powers and identifies an Ulvax-2 or
Ulvax-4 absolute rotary encoder behind it, reads its position and status once
or continuously, charts signal level, air gap and temperatures, and writes its
configuration.

The package also holds q714, the same workflows on the command line for
scripts and production lines (several adapters at once, JSON output, fixed
exit statuses, end-of-line test plans with limits and a record of every
encoder tested, in SQLite or a shared PostgreSQL database), q714-sim, a simulated adapter with simulated encoders
for learning the tool and reproducing faults without hardware, and a udev rule
that gives the user at the seat access to the adapter and keeps ModemManager
away from it.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies come from the binaries' libraries (dpkg-shlibdeps),
# and the record store's Qt SQL drivers, which are plugins dpkg-shlibdeps
# cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Checked when cpack runs: without dpkg-shlibdeps CPack would quietly build a
# package that depends on nothing.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackChecks.cmake)
include(CPack)
