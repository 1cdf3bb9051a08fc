# Read by cpack once for each generator (CPACK_PROJECT_CONFIG_FILE): what
# only the Debian package needs.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

# Depends comes from dpkg-shlibdeps (package dpkg-dev), which reads the
# libraries the executable links. Without it CPack would leave Depends
# empty, so the package states instead what dpkg-shlibdeps gives for the
# Debian 12 build.
if(EXISTS "${CPACK_TOVIK_DPKG_SHLIBDEPS}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The one found at configure time, not a new search along cpack's PATH.
  set(SHLIBDEPS_EXECUTABLE "${CPACK_TOVIK_DPKG_SHLIBDEPS}" CACHE FILEPATH "")
else()
  message(STATUS "tovik: no dpkg-shlibdeps, so Depends: ${CPACK_TOVIK_DEPENDS}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_TOVIK_DEPENDS}")
endif()

# The copyright file, the changelog and the lintian overrides: the install
# component "debian". The changelog's latest entry must be this version.
list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build)
list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${build};tovik;debian;/")
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/changelog" latest LIMIT_COUNT 1)
set(version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
if(NOT latest MATCHES "^tovik \\(([^)]*)\\) " OR NOT CMAKE_MATCH_1 STREQUAL version)
  message(FATAL_ERROR "cmake/debian/changelog has no entry for ${version} on top: ${latest}")
endif()
