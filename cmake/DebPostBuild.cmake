# Run by cpack after it has made the Debian package (CPACK_POST_BUILD_SCRIPTS).
#
# The package must name the libraries it needs: without dpkg-shlibdeps (dpkg-dev) CPack writes
# no Depends field and still succeeds, and such a package installs on a system that cannot run
# it. Here that is an error.
#
# CPack adds postinst and postrm scripts that only run ldconfig whenever shared objects lie
# under usr/lib, which the plug-ins do; the package installs no library that ldconfig could
# know, and a postrm keeps a removed package in dpkg's "rc" state. The package is made again
# without them.
find_program(nolvi2_dpkg_deb dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  execute_process(COMMAND ${nolvi2_dpkg_deb} -f ${package} Depends
                  OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR depends STREQUAL "")
    file(REMOVE ${package})
    message(FATAL_ERROR "${package} has no Depends field: dpkg-shlibdeps (package dpkg-dev) is needed "
                        "to find the libraries the programs use")
  endif()

  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/nolvi2-repack)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${nolvi2_dpkg_deb} --raw-extract ${package} ${tree} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb could not unpack ${package}")
  endif()
  foreach(script postinst postrm)
    if(EXISTS ${tree}/DEBIAN/${script})
      file(READ ${tree}/DEBIAN/${script} text)
      string(REGEX REPLACE "#![^\n]*\n" "" body "${text}")
      string(REGEX REPLACE "set -e|if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then|ldconfig|fi|[ \t\n]" "" body "${body}")
      if(body STREQUAL "")
        file(REMOVE ${tree}/DEBIAN/${script})
      else()
        message(FATAL_ERROR "${script} does more than run ldconfig:\n${text}")
      endif()
    endif()
  endforeach()
  execute_process(COMMAND ${nolvi2_dpkg_deb} --root-owner-group -Zxz --build ${tree} ${package}
                  OUTPUT_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb could not make ${package} again")
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
