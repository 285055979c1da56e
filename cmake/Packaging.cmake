# Install layout and the two Debian packages: tallyport-submit (the client, for students) and
# tallyport-server (the server, for course staff).

set(TALLYPORT_CLIENT_COMPONENT client)
set(TALLYPORT_SERVER_COMPONENT server)

# Man pages are installed compressed, as Debian policy wants.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
function(tallyport_install_man page component)
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page})
  set(compressed ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_EXECUTABLE} -9n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  add_custom_target(man-${page} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

if(TALLYPORT_GUI)
  install(FILES packaging/tallyport-submit.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT client)
  install(FILES resources/icon-110.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME tallyport-submit.svg COMPONENT client)
  foreach(size 16 24 32 48 64 256)
    install(FILES resources/icon-110-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tallyport-submit.png COMPONENT client)
  endforeach()
  tallyport_install_man(tallyport-submit.1 client)
endif()
tallyport_install_man(tallyport-server.1 server)
install(FILES packaging/systemd/tallyport-server.service
        DESTINATION lib/systemd/system COMPONENT server)
set(TALLYPORT_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${TALLYPORT_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND ${GZIP_EXECUTABLE} -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${TALLYPORT_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${TALLYPORT_CHANGELOG})
foreach(component client server)
  if(component STREQUAL client)
    set(package tallyport-submit)
  else()
    set(package tallyport-server)
  endif()
  install(FILES packaging/debian/copyright ${TALLYPORT_CHANGELOG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallyport)
set(CPACK_PACKAGE_VENDOR "Tallyport")
set(CPACK_PACKAGE_CONTACT "Tallyport maintainers <maintainers@tallyport.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME tallyport-submit)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION education)
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "student client of the Tallyport marking service
 Tallyport Submit lets the students of a course register with the Tallyport
 marking service, submit the files of their solutions, view marked work with
 the marker's comments and strokes drawn over the source, save it, and
 download practical exam questions.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME tallyport-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/server/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/server/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/server/postrm)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "Tallyport marking server
 tallyport-server keeps a course's accounts, submissions, marks and exam
 questions in SQLite and serves the Tallyport Submit client on TCP port 2047.
 It runs as a systemd service under its own user, with its state in
 /var/lib/tallyport.")

include(CPack)
