# What `cmake --install` puts where, and the Debian package made of it (scripts/package).
# Included from the top-level CMakeLists.txt after the programs are defined.

include(GNUInstallDirs)

set(packaging_dir ${CMAKE_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vantorel)

# Manual pages and the changelog are installed compressed, as Debian keeps them; -n leaves the
# name and time out, so the same text always gives the same bytes.
set(docs vantorel-cli.1 changelog)
if(VANTOREL_BUILD_APP)
    list(APPEND docs vantorel.1)
endif()
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed_docs)
foreach(doc IN LISTS docs)
    add_custom_command(OUTPUT ${packaging_out}/${doc}.gz
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${packaging_out}
                       COMMAND ${GZIP_PROGRAM} -9n -c ${packaging_dir}/${doc} > ${packaging_out}/${doc}.gz
                       DEPENDS ${packaging_dir}/${doc}
                       VERBATIM)
    list(APPEND compressed_docs ${packaging_out}/${doc}.gz)
endforeach()
add_custom_target(vantorel_docs ALL DEPENDS ${compressed_docs})

install(TARGETS vantorel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging_out}/vantorel-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${packaging_dir}/vantorel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vantorel-cli)
install(FILES ${packaging_out}/changelog.gz ${packaging_dir}/copyright DESTINATION ${doc_dir})

if(VANTOREL_BUILD_APP)
    install(TARGETS vantorel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${packaging_out}/vantorel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${packaging_dir}/${VANTOREL_APP_ID}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${packaging_dir}/${VANTOREL_APP_ID}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    # assets/make-assets.sh draws icon-<size>.png for each size of the icon theme.
    file(GLOB icons ${CMAKE_SOURCE_DIR}/assets/icon-*.png)
    foreach(icon IN LISTS icons)
        string(REGEX REPLACE ".*/icon-([0-9]+)\\.png$" "\\1" size ${icon})
        install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME ${VANTOREL_APP_ID}.png)
    endforeach()
endif()

# The Debian package: everything above under /usr, the dependencies read from the programs'
# shared libraries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantorel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vantorel developers <dev@vantorel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop software downloader with a Chinese interface")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Searches a public software catalogue by keyword, lists the matching\n"
    "programs with their size and version, shows an entry's details and logo,\n"
    "copies or opens its download addresses and downloads it with a\n"
    "multi-threaded, range-based downloader. The program keeps itself up to\n"
    "date. vantorel-cli runs the same jobs from a terminal; built-in\n"
    "demonstration services let both work offline.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vantorel.example/")
# Chinese text needs a CJK font (fontconfig picks whichever is installed) and Qt's own
# translations for the standard buttons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
