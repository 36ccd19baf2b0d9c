# Writes the two systemd units with the installed paths, which are known only at install time
# (the package installs to /usr). Run by "cmake --install" with TARVEL_SOURCE_DIR,
# TARVEL_BINARY_DIR, TARVEL_BINDIR and TARVEL_DOCDIR set.
set(BINDIR "${CMAKE_INSTALL_PREFIX}/${TARVEL_BINDIR}")
set(DOCDIR "${CMAKE_INSTALL_PREFIX}/${TARVEL_DOCDIR}")
set(UNITS "${TARVEL_BINARY_DIR}/packaging")

# The single gateway, on the layout an installed program takes by default.
set(UNIT_COMMENT
"# The gateway as the system service, run as the account tarvel80import:
#   configuration  /etc/tarvel80import/TARVEL80Import.ini (check it: tarvel80import --check)
#   program folder /var/lib/tarvel80import/ (lock, keep file, service settings)
#   daily logs     /var/log/tarvel80import/
# A unit written by \"tarvel80import /I\" in /etc/systemd/system takes the place of this one.
# More gateways on one host: tarvel80import@.service.")
set(DESCRIPTION_SUFFIX "")
set(STATE tarvel80import)
set(OPTIONS "")
set(ALIAS "Alias=tarvel80import.service")
configure_file("${TARVEL_SOURCE_DIR}/packaging/gateway.service.in"
               "${UNITS}/TARVEL80ImportForOstrel.service" @ONLY)

# One of several gateways: "systemctl enable --now tarvel80import@north" runs one on
# /etc/tarvel80import/north.ini with folders of its own.
set(UNIT_COMMENT
"# One of several gateways on one host, named by the instance (north in tarvel80import@north):
#   configuration  /etc/tarvel80import/north.ini
#                  (check it: tarvel80import --check --config /etc/tarvel80import/north.ini)
#   program folder /var/lib/tarvel80import/north/
#   daily logs     /var/log/tarvel80import/north/
# Each gateway needs its own OstrelPort, ListenPorts, serial lines and StatusPort.")
set(DESCRIPTION_SUFFIX " (%i)")
set(STATE "tarvel80import/%i")
set(OPTIONS
    " --dir %S/tarvel80import/%i --config %E/tarvel80import/%i.ini --log-dir %L/tarvel80import/%i")
set(ALIAS "")
configure_file("${TARVEL_SOURCE_DIR}/packaging/gateway.service.in"
               "${UNITS}/tarvel80import@.service" @ONLY)

file(INSTALL "${UNITS}/TARVEL80ImportForOstrel.service" "${UNITS}/tarvel80import@.service"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
