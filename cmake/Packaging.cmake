# What the Debian package installs, and how CPack builds it (scripts/package.sh):
# the station, the device simulator as dyestation-devsim, the desktop entry and icon, the
# man page, and the README, the example dyestation.ini, the copyright and the changelog.
include(GNUInstallDirs)
# `cmake --install` and CPack need only what is installed, not every test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(DS_PKG ${PROJECT_SOURCE_DIR}/packaging)
set(DS_DOC ${CMAKE_INSTALL_DATADIR}/doc/dyestation)

install(TARGETS dyestation RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# devsim keeps its name in the build (the tests and scripts run it as build/devsim); the
# installed copy is named after the package.
install(TARGETS devsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(CODE "file(RENAME \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/devsim\"
                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/dyestation-devsim\")")

# Debian keeps man pages and changelogs compressed, reproducibly (no name, no time stamp).
set(DS_GZ ${CMAKE_BINARY_DIR}/packaging)
foreach(f dyestation.1 dyestation-devsim.1 changelog)
  add_custom_command(OUTPUT ${DS_GZ}/${f}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${DS_GZ}
    COMMAND gzip -9nc ${DS_PKG}/${f} > ${DS_GZ}/${f}.gz
    DEPENDS ${DS_PKG}/${f})
  list(APPEND DS_GZ_FILES ${DS_GZ}/${f}.gz)
endforeach()
add_custom_target(ds_packaging_files ALL DEPENDS ${DS_GZ_FILES})

install(FILES ${DS_GZ}/dyestation.1.gz ${DS_GZ}/dyestation-devsim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${DS_PKG}/dyestation.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${DS_PKG}/dyestation.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES README.md ${DS_PKG}/dyestation.ini ${DS_PKG}/copyright ${DS_GZ}/changelog.gz
        DESTINATION ${DS_DOC})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dyestation)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "Dye house IT <it@dyestation.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator station of a dye-weighing bench")
# The summary is the first line of the control file's description; these lines follow it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Leads the operator through weighing each line of a dyeing order on two
serial balances, lights the dye's shelf position on a Modbus RTU light bus,
takes orders from the plant's order database over ODBC, logs every finished
order and prints a ticket. Texts in Traditional Chinese, with a switch to
Simplified Chinese.

The package also holds dyestation-devsim, a simulator of the bench's devices.")
# The libraries the programs link are found by dpkg-shlibdeps; what they load at run time
# is named here: the platform and SQL driver plugins of Qt, the ODBC tools and SQLite
# driver, OpenCC's conversion data and a font with the Chinese characters.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6sql6-odbc, libqt6sql6-sqlite, unixodbc, libsqliteodbc, libopencc-data, fonts-wqy-microhei")
include(CPack)
