# Install-time step: writes the systemd unit with the paths of the prefix actually
# installed to (cmake --install --prefix may differ from the configured one).
# Expects SOURCE (the unit in dist/) and DESTINATION (the directory to write into).
file(READ "${SOURCE}" unit)
string(REPLACE "/usr/local/" "${CMAKE_INSTALL_PREFIX}/" unit "${unit}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${DESTINATION}")
file(WRITE "$ENV{DESTDIR}${DESTINATION}/zelvik.service" "${unit}")
message(STATUS "Installing: $ENV{DESTDIR}${DESTINATION}/zelvik.service")
