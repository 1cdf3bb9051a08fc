# What "cmake --install" lays out, and the packages CPack makes of it.
#
# POSIX, under any prefix: bin/tovik, share/tovik/tovik.man (found by
# "tovik -h" from the executable's own directory, or with no /proc from
# the prefix's, when it is neither in the current directory nor along
# PATH), share/man/man1/tovik.1.gz, made at build time from tovik.man by
# cmake/manpage.awk, and the README in share/doc/tovik. The Debian package
# adds Debian's copyright file, changelog and lintian overrides from
# cmake/debian.
# Windows (the zip): tovik.exe, tovik.man and README.md side by side; the
# manual is found along PATH, or in the current directory.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS tovik RUNTIME DESTINATION .)
  install(FILES tovik.man README.md DESTINATION .)
else()
  install(TARGETS tovik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES tovik.man DESTINATION ${CMAKE_INSTALL_DATADIR}/tovik)
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  file(RELATIVE_PATH manual_from_program
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/tovik)
  set_property(SOURCE src/platform/environment_posix.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS TOVIK_MANUAL_FROM_PROGRAM="${manual_from_program}"
    TOVIK_INSTALLED_MANUAL_DIR="${CMAKE_INSTALL_FULL_DATADIR}/tovik")

  find_program(TOVIK_AWK NAMES awk mawk gawk REQUIRED)
  find_program(TOVIK_GZIP gzip REQUIRED)
  set(manpage ${CMAKE_CURRENT_BINARY_DIR}/tovik.1)
  add_custom_command(OUTPUT ${manpage}.gz
    COMMAND ${TOVIK_AWK} -v "source=tovik ${PROJECT_VERSION}"
      -f ${CMAKE_CURRENT_SOURCE_DIR}/cmake/manpage.awk ${CMAKE_CURRENT_SOURCE_DIR}/tovik.man
      > ${manpage}.tmp
    COMMAND ${CMAKE_COMMAND} -E rename ${manpage}.tmp ${manpage}
    # -n: no name or time stamp inside, so the same text gives the same file.
    COMMAND ${TOVIK_GZIP} -9nkf ${manpage}
    DEPENDS tovik.man cmake/manpage.awk
    COMMENT "Generating the man page tovik.1 from tovik.man"
    VERBATIM)
  add_custom_target(tovik_manpage ALL DEPENDS ${manpage}.gz)
  install(FILES ${manpage}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # Debian's copyright file, changelog and lintian overrides: kept out of a
  # plain "cmake --install", cmake/debian/cpack.cmake adds them to the
  # Debian package.
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${TOVIK_GZIP} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog > ${changelog}
    DEPENDS cmake/debian/changelog
    VERBATIM)
  add_custom_target(tovik_debian_changelog ALL DEPENDS ${changelog})
  install(FILES cmake/debian/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR}
    COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES cmake/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
    RENAME tovik COMPONENT debian EXCLUDE_FROM_ALL)
endif()

# Packages, from a build's directory: "cpack -G DEB" (release build, on
# Debian) or "cpack -G ZIP" (MinGW build); scripts/package-test.sh makes
# and checks both.
set(TOVIK_MAINTAINER "tovik maintainers <maintainers@users.noreply.c-seed-a20bec76.example>"
  CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VENDOR "the tovik project")
set(CPACK_PACKAGE_CONTACT "${TOVIK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console file encryptor with .tvk containers")
set(CPACK_PACKAGE_DESCRIPTION
"tovik encrypts every plain file it is pointed at (a file, a directory or a
wildcard) into a .tvk container, and decrypts every container back,
asking once for a passphrase typed at the terminal. The cipher is RC4
keyed through MD5 of the passphrase: it keeps casual readers out, not a
determined attacker.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the executable links, by dpkg-shlibdeps; where
# it is missing, what it gives for the Debian 12 build (cmake/debian/cpack.cmake).
find_program(TOVIK_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(CPACK_TOVIK_DPKG_SHLIBDEPS "${TOVIK_DPKG_SHLIBDEPS}")
set(CPACK_TOVIK_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/cpack.cmake)
include(CPack)
