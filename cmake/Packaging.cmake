# Installing and packaging both programs: install() rules for the programs, the
# menu entry, its icons, the AppStream metainfo, the manual pages and the
# Debian documents, and CPack's DEB generator over them (./scripts/package).
# The files themselves live in packaging/.

include(GNUInstallDirs)

# The caption says "Ver.: 1.0A": the A is a revision after 1.0, not a
# pre-release, so Debian's form is 1.0a (after 1.0, before 1.0b and 1.1);
# 1.0~a would sort before 1.0.
set(RV38T_VERSION_TEXT "1.0A")
string(TOLOWER "${RV38T_VERSION_TEXT}" RV38T_DEB_VERSION)
set(RV38T_RELEASE_DATE "2026-12-07")
set(RV38T_CHANGELOG_DATE "Mon, 07 Dec 2026 12:00:00 +0000")
set(RV38T_HOMEPAGE "https://example.org/rv38t" CACHE STRING
    "Project home page named in the package and the metainfo (its console.png is the screenshot)")
set(RV38T_CONTACT "rv38t@example.org" CACHE STRING "Maintainer address of the package")
set(RV38T_APP_ID "org.rv38t.Timer")

set(pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(pkg_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pkg_out})

# The menu icons, painted at build time by the window icon's own code.
find_package(Qt6 6.4 REQUIRED COMPONENTS Svg)
qt_add_executable(rv38t-icons ${pkg_src}/iconwriter.cpp)
target_link_libraries(rv38t-icons PRIVATE rv38t_controls Qt6::Svg)
rv38t_warnings(rv38t-icons)
set(icon_files)
foreach(size 16 32 48 64 128 256)
  list(APPEND icon_files ${pkg_out}/icons/${size}x${size}/apps/rv38t-timer.png)
endforeach()
list(APPEND icon_files ${pkg_out}/icons/scalable/apps/rv38t-timer.svg)
# A sanitizer build would report the font set-up's one-time allocations as
# leaks and fail the build step: leak checks are the tests' business.
add_custom_command(OUTPUT ${icon_files}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:rv38t-icons> ${pkg_out}/icons
  DEPENDS rv38t-icons
  COMMENT "Painting the menu icons")

# Manual pages and the changelog compressed as Debian wants them (-n: no name
# or time stamp inside, so the package is the same on every build).
configure_file(${pkg_src}/changelog.in ${pkg_out}/changelog @ONLY)
configure_file(${pkg_src}/${RV38T_APP_ID}.metainfo.xml.in ${pkg_out}/${RV38T_APP_ID}.metainfo.xml @ONLY)
set(gz_files)
foreach(doc ${pkg_src}/rv38t-timer.1 ${pkg_src}/rv38t-display-sim.1 ${pkg_out}/changelog)
  get_filename_component(name ${doc} NAME)
  add_custom_command(OUTPUT ${pkg_out}/${name}.gz
    COMMAND gzip -9n -c ${doc} > ${pkg_out}/${name}.gz
    DEPENDS ${doc}
    COMMENT "Compressing ${name}")
  list(APPEND gz_files ${pkg_out}/${name}.gz)
endforeach()
add_custom_target(rv38t-package-files ALL DEPENDS ${icon_files} ${gz_files})

install(TARGETS rv38t-timer rv38t-display-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${pkg_src}/${RV38T_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${pkg_out}/${RV38T_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${pkg_out}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${pkg_out}/rv38t-timer.1.gz ${pkg_out}/rv38t-display-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${pkg_src}/copyright ${pkg_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rv38t)
set(CPACK_PACKAGE_VERSION ${RV38T_DEB_VERSION})
set(CPACK_PACKAGE_VENDOR "RV-38T console developers")
set(CPACK_PACKAGE_CONTACT "RV-38T console developers <${RV38T_CONTACT}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator console for RV-38T countdown displays")
set(CPACK_PACKAGE_DESCRIPTION
"rv38t-timer counts down hours, minutes and seconds and sends every change at
once to up to 99 RV-38T displays over TCP port 1024. It keeps one connection
per display, retries failing ones every two seconds, shows a lamp that is
green only while every display is connected, and keeps a dated event log.
Started from the menu, it keeps its files in the user's data directory.

rv38t-display-sim plays one or more displays on this machine, for trying
the console without the hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${RV38T_HOMEPAGE})
# Libraries from what the binaries link; the fonts by hand, since they are
# looked up at run time: the window is laid out to the pixel in Liberation.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
include(CPack)
