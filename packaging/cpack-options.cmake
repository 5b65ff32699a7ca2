# Read by cpack once per generator, before it installs into its staging folder.
# An archive is unpacked into /usr/local (see docs/operations.md), so its units name that
# prefix; the .deb installs into /usr and its units name the real prefix.
if(CPACK_GENERATOR MATCHES "^(TGZ|TXZ|TBZ2|ZIP)$")
  set(ENV{TRAVO_UNITS_PREFIX} /usr/local)
else()
  unset(ENV{TRAVO_UNITS_PREFIX})
endif()
