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
