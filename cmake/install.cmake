# Installation layout and the Debian package.
#
#   <prefix>/sbin/Kelp
#   <prefix>/share/man/man8/Kelp.8
#   <prefix>/share/doc/kelp/Kelp.conf.example
#   the service file of the platform:
#     Linux    <prefix>/lib/systemd/system/kelp.service
#     FreeBSD  <prefix>/etc/rc.d/kelp
#     illumos  /var/svc/manifest/site/kelp.xml
#   /etc/orn/Kelp.conf            only if there is none yet
#
# The package compresses the manual page (Kelp.8.gz) and adds the Debian
# copyright file and changelog to share/doc/kelp (cmake/debian_files.cmake).
#
# The prefix is /usr/local for `make install` and /usr for the package. The
# service file and the manual page name the daemon's own paths, so both are
# written for the prefix in force when installing (cmake --install --prefix
# and CPack change it after configuration), not for the one configured.

set(KELP_MANPAGE ${CMAKE_SOURCE_DIR}/doc/Kelp.8)
set(KELP_CONF_EXAMPLE ${CMAKE_SOURCE_DIR}/packaging/Kelp.conf.example)
set(KELP_CONF_DIR /etc/orn)

# Each system's own way of running a daemon. The folder is expanded at
# install time, with the prefix then in force.
set(KELP_SERVICE_MODE OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(KELP_SERVICE_TEMPLATE ${CMAKE_SOURCE_DIR}/packaging/kelp.service.in)
  set(KELP_SERVICE_FILE kelp.service)
  set(KELP_SERVICE_DIR "\${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
elseif(CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
  # rc(8) runs the scripts in local_startup, /usr/local/etc/rc.d by default.
  set(KELP_SERVICE_TEMPLATE ${CMAKE_SOURCE_DIR}/packaging/kelp.rc.in)
  set(KELP_SERVICE_FILE kelp)
  set(KELP_SERVICE_DIR "\${CMAKE_INSTALL_PREFIX}/etc/rc.d")
  list(APPEND KELP_SERVICE_MODE OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
elseif(CMAKE_SYSTEM_NAME STREQUAL "SunOS")
  # The folder for a site's own manifests that manifest-import reads at every
  # boot. Unlike /lib/svc/manifest, /var is the zone's own in every kind of
  # zone, also where /lib is shared read-only from the global zone.
  set(KELP_SERVICE_TEMPLATE ${CMAKE_SOURCE_DIR}/packaging/kelp.xml.in)
  set(KELP_SERVICE_FILE kelp.xml)
  set(KELP_SERVICE_DIR /var/svc/manifest/site)
endif()

# The service file for the configured prefix, for reading and checking in
# the build tree.
set(KELP_SBINDIR ${CMAKE_INSTALL_PREFIX}/sbin)
set(KELP_MANDIR ${CMAKE_INSTALL_PREFIX}/share/man)
configure_file(${KELP_SERVICE_TEMPLATE} ${CMAKE_BINARY_DIR}/packaging/${KELP_SERVICE_FILE} @ONLY)

install(TARGETS Kelp RUNTIME DESTINATION sbin)
install(FILES ${KELP_CONF_EXAMPLE} DESTINATION share/doc/kelp)

# The manual page is written for the default prefix /usr/local; another
# prefix is substituted into it. Files are staged below the build tree, one
# directory per prefix, so that two installs at once cannot mix them.
install(CODE "
  string(MAKE_C_IDENTIFIER \"\${CMAKE_INSTALL_PREFIX}\" kelp_stage)
  set(kelp_stage \"${CMAKE_BINARY_DIR}/packaging/stage/\${kelp_stage}\")
  set(KELP_SBINDIR \"\${CMAKE_INSTALL_PREFIX}/sbin\")
  set(KELP_MANDIR \"\${CMAKE_INSTALL_PREFIX}/share/man\")
  configure_file(\"${KELP_SERVICE_TEMPLATE}\" \"\${kelp_stage}/${KELP_SERVICE_FILE}\" @ONLY)
  file(READ \"${KELP_MANPAGE}\" kelp_man)
  if(NOT CMAKE_INSTALL_PREFIX STREQUAL \"/usr/local\")
    string(REPLACE \"/usr/local\" \"\${CMAKE_INSTALL_PREFIX}\" kelp_man \"\${kelp_man}\")
  endif()
  file(CONFIGURE OUTPUT \"\${kelp_stage}/Kelp.8\" CONTENT \"\${kelp_man}\" @ONLY)
  file(INSTALL DESTINATION \"${KELP_SERVICE_DIR}\" TYPE FILE
       PERMISSIONS ${KELP_SERVICE_MODE}
       FILES \"\${kelp_stage}/${KELP_SERVICE_FILE}\")
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/share/man/man8\" TYPE FILE
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
       FILES \"\${kelp_stage}/Kelp.8\")
")

# An administrator's configuration is never replaced: the example becomes
# /etc/orn/Kelp.conf only where there is no such file (or link) yet. DESTDIR
# is honoured by file(INSTALL) and must be honoured by the test as well.
install(CODE "
  set(kelp_conf \"\$ENV{DESTDIR}${KELP_CONF_DIR}/Kelp.conf\")
  if(EXISTS \"\${kelp_conf}\" OR IS_SYMLINK \"\${kelp_conf}\")
    message(STATUS \"Keeping: \${kelp_conf}\")
  else()
    file(INSTALL DESTINATION \"${KELP_CONF_DIR}\" TYPE FILE RENAME Kelp.conf
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
         FILES \"${KELP_CONF_EXAMPLE}\")
  endif()
")

# --- Debian package (make package, or cpack in the build tree) --------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kelp developers <kelp@kelp-project.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small system-statistics daemon with a web front end")
# Lines of the extended description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Kelp samples load, network-interface traffic and memory and swap use once\na second and serves HTML pages and PNG graphs of them from an HTTP server\nof its own.")
# Install with DESTDIR, so that CMAKE_INSTALL_PREFIX is /usr while the files
# are staged: the unit and the manual page must name /usr, not the stage.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(KELP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KELP_DPKG_SHLIBDEPS)
  # libgd3, libc6, libstdc++6 and the like, with the versions the build needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgd3")
endif()
# dpkg keeps an administrator's edits of the configuration across upgrades
# and removals.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${KELP_CONF_DIR}/Kelp.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The package's own files, added to what the install stages.
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_KELP_DEBIAN_CHANGELOG ${CMAKE_SOURCE_DIR}/packaging/changelog)
set(CPACK_KELP_CONF_EXAMPLE ${KELP_CONF_EXAMPLE})
set(CPACK_KELP_CONF_DIR ${KELP_CONF_DIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/debian_files.cmake)
include(CPack)
