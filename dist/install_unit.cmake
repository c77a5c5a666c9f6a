# Install-time step: writes the systemd unit with the paths of the prefix actually
# installed to (cmake --install --prefix may differ from the configured one).
# Expects SOURCE (a unit in dist/) and DESTINATION (the directory to write into).
file(READ "${SOURCE}" unit)
string(REPLACE "/usr/local/" "${CMAKE_INSTALL_PREFIX}/" unit "${unit}")
file(MAKE_DIRECTORY "$ENV{DESTDIR}${DESTINATION}")
get_filename_component(name "${SOURCE}" NAME)
file(WRITE "$ENV{DESTDIR}${DESTINATION}/${name}" "${unit}")
message(STATUS "Installing: $ENV{DESTDIR}${DESTINATION}/${name}")
