# What "cmake --install" lays out, and the packages CPack makes of it.
#
# POSIX, under any prefix: bin/tovik, share/tovik/tovik.man (found by
# "tovik -h" from the executable's own directory when it is neither in the
# current directory nor along PATH) and share/man/man1/tovik.1.gz, made at
# build time from tovik.man by cmake/manpage.awk.
# Windows (the zip): tovik.exe, tovik.man and README.md side by side; the
# manual is found along PATH, or in the current directory.
include(GNUInstallDirs)

if(WIN32)
  install(TARGETS tovik RUNTIME DESTINATION .)
  install(FILES tovik.man README.md DESTINATION .)
else()
  install(TARGETS tovik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES tovik.man DESTINATION ${CMAKE_INSTALL_DATADIR}/tovik)
  file(RELATIVE_PATH manual_from_program
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/tovik)
  set_property(SOURCE src/platform/environment_posix.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS TOVIK_MANUAL_FROM_PROGRAM="${manual_from_program}")

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
endif()
