# `cmake --install` (and `make install` in a Makefile build): the program, its desktop entry,
# icon, D-Bus activation file, AppStream metadata, manual page and bash completion, laid out as
# any Linux program under CMAKE_INSTALL_PREFIX (DESTDIR is honoured as usual).
include(GNUInstallDirs)

install(TARGETS kelso RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The modules loaded on first use (applications through GIO, the PDF renderer). The program
# looks for them at bin/../lib/kelso/, so the folder is lib/kelso whatever the system's library
# folder is. The thumbnail decoder worker is the kelso binary itself (--thumbnail-worker).
install(TARGETS kelso_apps kelso_pdf LIBRARY DESTINATION lib/kelso)

set(KELSO_RESOURCES "${PROJECT_SOURCE_DIR}/resources")
install(FILES "${KELSO_RESOURCES}/kelso.desktop"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES "${KELSO_RESOURCES}/icons/kelso.svg"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES "${KELSO_RESOURCES}/metainfo/com.tallow.kelso.metainfo.xml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES "${KELSO_RESOURCES}/man/kelso.1"
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${KELSO_RESOURCES}/completion/kelso.bash"
        RENAME kelso
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The session bus starts Kelso on the first call to its name (`kelso show` when it is not
# running). The file names the installed binary by its final path (without DESTDIR), so it is
# written at install time: `cmake --install --prefix` may choose another prefix than the
# configured one.
set(KELSO_SERVICE_FILE "${PROJECT_BINARY_DIR}/install/com.tallow.kelso.service")
install(CODE "
  set(KELSO_INSTALLED_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/kelso\")
  configure_file(\"${KELSO_RESOURCES}/dbus/com.tallow.kelso.service.in\" \"${KELSO_SERVICE_FILE}\" @ONLY)
")
install(FILES "${KELSO_SERVICE_FILE}" DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/services)
# The interface description, for tools that talk to Kelso over D-Bus.
install(FILES "${KELSO_RESOURCES}/dbus/com.tallow.kelso.App.xml"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/interfaces)
