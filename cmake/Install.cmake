# Install rules and the Debian package (make install PREFIX=..., make package).
include(GNUInstallDirs)

install(TARGETS kt4500-config kt4500-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kt4500ctl)
    install(TARGETS kt4500ctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES packaging/kt4500-config.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/example.talvo.kt4500config.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${KT_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

file(GLOB KT_MAN_PAGES ${PROJECT_SOURCE_DIR}/packaging/man/*.1)
install(FILES ${KT_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kt4500-config)
set(CPACK_PACKAGE_VENDOR "TALVO Technology Corp.")
set(CPACK_PACKAGE_CONTACT "TALVO Technology Corp. <support@talvo.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up a TALVO KT4500 RFID card reader over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "The window with which installers find a KT4500 card reader on a serial port and set its ID, line settings and output mode, plus a reader simulator.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The package lands in the build folder that makes it.
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt platform plugins are not a linked library, so shlibdeps cannot find them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
