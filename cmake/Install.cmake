# Installing nolvi2 as a Linux program (cmake --install), its Debian package (cpack -G DEB),
# and the checks of both.
#
#   PREFIX/lib/nolvi2/       nolvi2, nolvi2-cli and the bundled plug-ins, side by side: the
#                            programs look for plug-ins in their own (real) folder
#   PREFIX/bin/              relative symbolic links to the two programs, nothing else
#   PREFIX/share/            desktop entry, AppStream record, icons, manual pages (en, ja)
include(GNUInstallDirs)

set(NOLVI2_APP_ID example.tamberlo.nolvi2)
# A program's private folder (as /usr/lib/<package>), not the multiarch library folder that
# GNUInstallDirs picks for shared libraries.
set(NOLVI2_INSTALL_PKGDIR lib/nolvi2)
# The day of the configuration (SOURCE_DATE_EPOCH when set): the manual pages' date and the
# release date in the AppStream record.
string(TIMESTAMP NOLVI2_BUILD_DATE "%Y-%m-%d" UTC)

get_property(nolvi2_plugins GLOBAL PROPERTY NOLVI2_PLUGINS)
set(nolvi2_programs nolvi2-cli)
if(TARGET nolvi2)
  list(PREPEND nolvi2_programs nolvi2)
endif()

install(TARGETS ${nolvi2_programs} RUNTIME DESTINATION ${NOLVI2_INSTALL_PKGDIR})
install(TARGETS ${nolvi2_plugins} LIBRARY DESTINATION ${NOLVI2_INSTALL_PKGDIR})

# bin/ holds links made here, relative so that the tree works wherever it is unpacked.
file(RELATIVE_PATH nolvi2_bin_to_pkg /p/${CMAKE_INSTALL_BINDIR} /p/${NOLVI2_INSTALL_PKGDIR})
set(nolvi2_links ${CMAKE_BINARY_DIR}/install-links)
file(MAKE_DIRECTORY ${nolvi2_links})
foreach(program IN LISTS nolvi2_programs)
  file(CREATE_LINK ${nolvi2_bin_to_pkg}/${program} ${nolvi2_links}/${program} SYMBOLIC)
  install(FILES ${nolvi2_links}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# Manual pages, English and Japanese, from one source each (man/mkman.py).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(nolvi2_man_pages)
foreach(program IN LISTS nolvi2_programs)
  set(source ${CMAKE_SOURCE_DIR}/man/${program}.1.txt)
  set(outputs)
  foreach(lang en ja)
    list(APPEND outputs ${CMAKE_BINARY_DIR}/man/${lang}/${program}.1 ${CMAKE_BINARY_DIR}/man/${lang}/${program}.1.gz)
  endforeach()
  add_custom_command(OUTPUT ${outputs}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/man/mkman.py ${source} ${CMAKE_BINARY_DIR}/man
            --version ${PROJECT_VERSION} --date ${NOLVI2_BUILD_DATE}
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/man/mkman.py
    COMMENT "Manual page ${program}(1)")
  list(APPEND nolvi2_man_pages ${outputs})
  install(FILES ${CMAKE_BINARY_DIR}/man/en/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_BINARY_DIR}/man/ja/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
endforeach()
add_custom_target(nolvi2_man ALL DEPENDS ${nolvi2_man_pages})

# The desktop: entry, AppStream record and icons, for the window only.
if(TARGET nolvi2)
  configure_file(${CMAKE_SOURCE_DIR}/data/nolvi2.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/data/${NOLVI2_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${CMAKE_SOURCE_DIR}/data/nolvi2.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_BINARY_DIR}/data/${NOLVI2_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  set(icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
  install(FILES ${CMAKE_SOURCE_DIR}/icons/nolvi2.svg DESTINATION ${icons}/scalable/apps)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/icons/nolvi2-${size}.png DESTINATION ${icons}/${size}x${size}/apps
            RENAME nolvi2.png)
  endforeach()
endif()

# The documents Debian asks of a package: the copyright in the machine-readable format, and a
# changelog compressed as its tools do (gzip -9, no name or time in the header).
set(nolvi2_docdir ${CMAKE_INSTALL_DATADIR}/doc/nolvi2)
# The package's Debian revision: the package is made apart from the program's sources.
set(NOLVI2_DEB_REVISION 1)
set(NOLVI2_DEB_VERSION ${PROJECT_VERSION}-${NOLVI2_DEB_REVISION})
string(TIMESTAMP nolvi2_changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/data/changelog.Debian
  "nolvi2 (${NOLVI2_DEB_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- Tamberlo <nolvi2@tamberlo.example>  ${nolvi2_changelog_date}\n")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/data/changelog.Debian.gz
  COMMAND Python3::Interpreter -c
          "import gzip,sys; d=open(sys.argv[1],'rb').read(); open(sys.argv[2],'wb').write(gzip.compress(d,9,mtime=0))"
          ${CMAKE_BINARY_DIR}/data/changelog.Debian ${CMAKE_BINARY_DIR}/data/changelog.Debian.gz
  DEPENDS ${CMAKE_BINARY_DIR}/data/changelog.Debian
  COMMENT "changelog.Debian.gz" VERBATIM)
add_custom_target(nolvi2_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/data/changelog.Debian.gz)
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright ${CMAKE_BINARY_DIR}/data/changelog.Debian.gz
        DESTINATION ${nolvi2_docdir})
# lintian's notes on what its checks cannot tell (the reasons are in the file).
install(FILES ${CMAKE_SOURCE_DIR}/data/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME nolvi2)

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nolvi2)
set(CPACK_PACKAGE_VENDOR Tamberlo)
set(CPACK_PACKAGE_CONTACT "Tamberlo <nolvi2@tamberlo.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tamberlo.example/nolvi2/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "image viewer with one-step image processing")
# The package's long description, in lines as dpkg shows them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "A light image viewer with a Japanese user interface. It opens one picture per"
  "window, zooms from 1 % to 2000 % and applies one-step operations to the"
  "picture or a selected rectangle: tone adjustments, rotations, reversible"
  "masks, 3x3 filters, resampling and cropping. Results open in new windows;"
  "pictures are saved as BMP or JPEG. It reads BMP, JPEG and PNG, and through"
  "its bundled plug-ins GIF, TIFF, WebP, HEIF/HEIC, AVIF and JPEG XL."
  ""
  "nolvi2-cli runs the same operations on files without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${NOLVI2_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Japanese font and Qt's Japanese texts, which the window uses when they are there.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-ipafont-gothic, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# A package without Depends is an error, and the ldconfig scripts CPack adds go
# (cmake/DebPostBuild.cmake).
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebPostBuild.cmake)
include(CPack)

# The checks: an install into a temporary folder and the programs run from it, the desktop
# files' validators, the manual pages, the package (scripts/check-install.sh).
if(NOLVI2_TESTS AND TARGET nolvi2)
  set(check ${CMAKE_SOURCE_DIR}/scripts/check-install.sh)
  string(JOIN " " plugins ${nolvi2_plugins})
  # The sanitizer and fuzz builds leave the hardening out (see the top-level CMakeLists.txt).
  if(NOLVI2_SANITIZE OR NOLVI2_FUZZ)
    set(hardened 0)
  else()
    set(hardened 1)
  endif()
  set(env NOLVI2_VERSION=${PROJECT_VERSION} NOLVI2_DEB_VERSION=${NOLVI2_DEB_VERSION} NOLVI2_HARDENED=${hardened} NOLVI2_APP_ID=${NOLVI2_APP_ID} "NOLVI2_PLUGINS=${plugins}")
  foreach(step tree desktop man package deb)
    add_test(NAME install.${step} COMMAND ${check} ${step} ${CMAKE_BINARY_DIR})
    set_tests_properties(install.${step} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${NOLVI2_TEST_TIMEOUT})
  endforeach()
  # install.deb checks the package that install.package makes (ctest -R install.deb runs both).
  # Making the package twice (once without dpkg-shlibdeps) takes a minute in a sanitizer
  # build, and more beside other tests.
  math(EXPR package_timeout "${NOLVI2_TEST_TIMEOUT} * 3")
  set_tests_properties(install.package PROPERTIES FIXTURES_SETUP nolvi2_package TIMEOUT ${package_timeout})
  set_tests_properties(install.deb PROPERTIES FIXTURES_REQUIRED nolvi2_package)
endif()
