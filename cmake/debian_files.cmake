# Run by CPack on the files staged for the Debian package, before it packs
# them: what Debian asks of a package beyond what `make install` puts in
# place. The manual pages are compressed, the copyright file and the
# changelog join the documentation, and the configuration switches the CPU
# module on. An installation elsewhere keeps its page as it is, for a man(1)
# that reads no compressed pages, and the example as its configuration.

set(kelp_root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(kelp_doc "${kelp_root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")

function(kelp_deb_file path)
  file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

# gzip -9n: the best compression and no name or time stamp inside, so that
# the same sources give the same package.
function(kelp_gzip from to)
  execute_process(COMMAND gzip -9nc "${from}" OUTPUT_FILE "${to}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${from} failed: ${status}")
  endif()
  kelp_deb_file("${to}")
endfunction()

file(GLOB kelp_pages "${kelp_root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/man/man*/*.[1-9]")
if(NOT kelp_pages)
  message(FATAL_ERROR "no manual page staged below ${kelp_root}")
endif()
foreach(page IN LISTS kelp_pages)
  kelp_gzip("${page}" "${page}.gz")
  file(REMOVE "${page}")
endforeach()

# The changelog is written by hand, so it has to be told of a new version.
file(READ "${CPACK_KELP_DEBIAN_CHANGELOG}" kelp_changelog)
string(REGEX MATCH "^[^\n]*" kelp_top "${kelp_changelog}")
string(FIND "${kelp_top}" "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) " kelp_at)
if(NOT kelp_at EQUAL 0)
  message(FATAL_ERROR "${CPACK_KELP_DEBIAN_CHANGELOG} starts with \"${kelp_top}\", "
                      "not with an entry for ${CPACK_PACKAGE_NAME} ${CPACK_PACKAGE_VERSION}")
endif()
kelp_gzip("${CPACK_KELP_DEBIAN_CHANGELOG}" "${kelp_doc}/changelog.gz")

# The machine-readable copyright file, made from LICENSE so that the two
# cannot differ: its holder line and the licence text below it.
file(READ "${CPACK_RESOURCE_FILE_LICENSE}" kelp_license)
if(NOT kelp_license MATCHES "^BSD 2-Clause License\n+Copyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
  message(FATAL_ERROR "${CPACK_RESOURCE_FILE_LICENSE} is not the BSD 2-Clause licence with one copyright line")
endif()
set(kelp_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "\n\n" "\n.\n" kelp_text "${CMAKE_MATCH_2}")
string(REGEX REPLACE "\n" "\n " kelp_text " ${kelp_text}")
file(WRITE "${kelp_doc}/copyright"
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Kelp

Files: *
Copyright: ${kelp_holder}
License: BSD-2-Clause

License: BSD-2-Clause
${kelp_text}
")
kelp_deb_file("${kelp_doc}/copyright")

# The package's configuration is the example with the CPU module switched on,
# made afresh from the example at every packing so that the two cannot drift.
file(READ "${CPACK_KELP_CONF_EXAMPLE}" kelp_conf)
file(WRITE "${kelp_root}${CPACK_KELP_CONF_DIR}/Kelp.conf" "${kelp_conf}
# Switched on by the Debian package: the CPU module. 0 turns it off again.
module.cpu.enable\t1\t# CPU time enable/disable {0|1}
")
kelp_deb_file("${kelp_root}${CPACK_KELP_CONF_DIR}/Kelp.conf")
