# What an installation holds, for the Windows zip and installer (a flat folder) and for the
# Debian package (CPack), which tools/build-windows.sh and tools/build-deb.sh make.
if(WIN32)
    install(TARGETS tavimor tavimor-check RUNTIME DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/set.ini ${CMAKE_SOURCE_DIR}/resources/logo.ico
            DESTINATION .)
    install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
    install(FILES ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES DESTINATION .
            RENAME THIRD-PARTY-NOTICES.txt)
    return()
endif()

include(GNUInstallDirs)
install(TARGETS tavimor tavimor-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/tavimor.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(docDir ${CMAKE_INSTALL_DATADIR}/doc/tavimor)
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES
        DESTINATION ${docDir})
install(FILES ${CMAKE_SOURCE_DIR}/resources/set.ini ${CMAKE_SOURCE_DIR}/resources/logo.ico
        DESTINATION ${docDir}/examples)

# The manual page, compressed as Debian keeps them (no time stamp, so builds are reproducible).
find_program(GZIP_EXECUTABLE gzip)
if(GZIP_EXECUTABLE)
    set(manPage ${CMAKE_BINARY_DIR}/tavimor-check.1.gz)
    add_custom_command(OUTPUT ${manPage}
        COMMAND ${GZIP_EXECUTABLE} -9nc ${CMAKE_SOURCE_DIR}/packaging/tavimor-check.1 > ${manPage}
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/tavimor-check.1 VERBATIM)
    add_custom_target(tavimor_manpage ALL DEPENDS ${manPage})
    install(FILES ${manPage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Desktop icons from the window icon, one PNG per size it holds.
find_program(ICOTOOL_EXECUTABLE icotool)
if(ICOTOOL_EXECUTABLE)
    set(iconOutputs)
    foreach(size 16 32 48 256)
        set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/tavimor.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
            COMMAND ${ICOTOOL_EXECUTABLE} -x --width=${size} --height=${size}
                    -o ${png} ${CMAKE_SOURCE_DIR}/resources/logo.ico
            DEPENDS ${CMAKE_SOURCE_DIR}/resources/logo.ico VERBATIM)
        list(APPEND iconOutputs ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(tavimor_icons ALL DEPENDS ${iconOutputs})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavimor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Tavimor)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compliance checker for digital-cinema submission masters")
set(CPACK_PACKAGE_DESCRIPTION
    "Checks a DCP submission master on a USB hard disk (carrier, asset map, packing list with\n\
SHA-1 verification, composition playlist, KDM), asks the operator to confirm its label data and\n\
writes a PDF compliance report. Includes the headless checker tavimor-check.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tavimor developers <tavimor@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt, OpenSSL and libblkid come from dpkg-shlibdeps; the CJK fonts the windows and the report ask
# for by name are found through fontconfig and need a package of their own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-zenhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-uming, xdg-utils")
include(CPack)
