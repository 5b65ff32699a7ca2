# Read by cpack once per generator, before it installs into its staging folder.
# An archive is unpacked into /usr/local (see docs/operations.md), so its units name that
# prefix; the .deb installs into /usr and its units name the real prefix, and it alone carries
# Debian's change log and lintian overrides.
if(CPACK_GENERATOR MATCHES "^(TGZ|TXZ|TBZ2|ZIP)$")
  set(ENV{TRAVO_UNITS_PREFIX} /usr/local)
else()
  unset(ENV{TRAVO_UNITS_PREFIX})
endif()
if(CPACK_GENERATOR STREQUAL "DEB")
  set(ENV{TRAVO_PACKAGE_DEB} 1)
else()
  unset(ENV{TRAVO_PACKAGE_DEB})
endif()
# The same commit gives the same packages, byte for byte: cpack stamps every archive member,
# the gzip headers and the ar members with SOURCE_DATE_EPOCH when it is set.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "")
  if(CPACK_TRAVO_GIT)
    execute_process(COMMAND "${CPACK_TRAVO_GIT}" -C "${CPACK_TRAVO_SOURCE_DIR}" log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    set(epoch "${CPACK_TRAVO_CHANGELOG_EPOCH}")
  endif()
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  endif()
endif()
