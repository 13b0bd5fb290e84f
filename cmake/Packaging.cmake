# What a Debian or Ubuntu user gets besides the programs: manual pages, shell completion, the
# software centre's metainfo, the package's own documents, and the .deb that CPack makes from the
# install rules (tools/package.sh).
include(GNUInstallDirs)

# Manual pages, written in scdoc's plain-text form and made into gzipped man pages.
set(ORV_MAN_PAGES AUTO CACHE STRING "Build the manual pages with scdoc: ON, OFF or AUTO (when scdoc is there)")
find_program(ORV_SCDOC scdoc)
set(ORV_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(ORV_MAN_PAGE_FILES "")
if(ORV_MAN_PAGES STREQUAL "ON" AND NOT ORV_SCDOC)
    message(FATAL_ERROR "ORV_MAN_PAGES=ON needs scdoc (bash tools/setup.sh installs it)")
endif()
if(ORV_SCDOC AND NOT ORV_MAN_PAGES STREQUAL "OFF")
    set(ORV_MAN_PAGE_NAMES orvandel-cli)
    if(ORV_BUILD_GUI)
        list(APPEND ORV_MAN_PAGE_NAMES orvandel)
    endif()
    foreach(page IN LISTS ORV_MAN_PAGE_NAMES)
        configure_file(${PROJECT_SOURCE_DIR}/resources/man/${page}.1.scd ${ORV_MAN_DIR}/${page}.1.scd @ONLY)
        # -n keeps the gzip header free of the time, so the same page gives the same bytes.
        add_custom_command(OUTPUT ${ORV_MAN_DIR}/${page}.1.gz
            COMMAND sh -c "\"$0\" < \"$1\" | gzip -9n > \"$2\"" ${ORV_SCDOC} ${ORV_MAN_DIR}/${page}.1.scd
                    ${ORV_MAN_DIR}/${page}.1.gz
            DEPENDS ${ORV_MAN_DIR}/${page}.1.scd
            COMMENT "Manual page ${page}(1)" VERBATIM)
        list(APPEND ORV_MAN_PAGE_FILES ${ORV_MAN_DIR}/${page}.1.gz)
    endforeach()
    add_custom_target(man_pages ALL DEPENDS ${ORV_MAN_PAGE_FILES})
    install(FILES ${ORV_MAN_PAGE_FILES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    message(STATUS "Manual pages: ${ORV_MAN_PAGE_NAMES}")
else()
    message(STATUS "Manual pages: none (scdoc not found or ORV_MAN_PAGES=OFF)")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/orvandel-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME orvandel-cli)
# Debian's zsh looks in vendor-completions for the completions that packages bring.
install(FILES ${PROJECT_SOURCE_DIR}/resources/completion/_orvandel-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
if(ORV_BUILD_GUI)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/org.orvandel.Orvandel.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Debian's documents of a package: its copyright and, for a package made by its own upstream,
# changelog.gz. Debian wants them in /usr/share/doc/<package>, whatever the docdir is set to.
set(ORV_PACKAGE_NAME orvandel)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/resources/package/changelog
            ${CMAKE_BINARY_DIR}/package/changelog.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/resources/package/changelog VERBATIM)
add_custom_target(package_documents ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ORV_PACKAGE_NAME})
# The licence's full text goes with the program wherever it is installed; Debian's copyright file
# above names it (GPL-3.0-or-later) in its machine-readable form.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ORV_PACKAGE_NAME})

# The Debian package. Its library dependencies come from the binaries (dpkg-shlibdeps); ntfs-3g and
# The Sleuth Kit are only the tests' peers and are no dependency. pkexec is, because the desktop
# entry starts the program through it. The package installs into /usr whatever prefix the build
# tree was configured with: the install rules work out installed paths from the prefix in force
# when installing, so CPack installs with DESTDIR set to its staging folder and prefix /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ORV_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Orvandel developers")
set(CPACK_PACKAGE_CONTACT "Orvandel developers <packages@orvandel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and restore deleted files on NTFS, FAT and exFAT volumes")
# The summary is the description's first line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvandel scans an NTFS, FAT12/16/32 or exFAT volume (a drive, a memory
card, a partition, a disk image, or a forensic or virtual-disk container)
for deleted files, lists them as a
folder tree with a grade of how much of each can still be read, and
restores them byte for byte into a folder of the user's choice. An
Extended scan also finds the files of an earlier file system after a
quick format. A deleted file's record can also be wiped for good.
.
The package holds the desktop program orvandel and the command-line
tool orvandel-cli for scripts and servers.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvandel.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(ORV_BUILD_GUI)
    # libvshadow is loaded at run time (never linked), so dpkg-shlibdeps cannot see it.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, libvshadow1")
    # Qt Multimedia plays the scanning clip through GStreamer, whose plug-ins no library pulls in;
    # with none at all the player crashes, so they are a dependency, not a recommendation.
    if(ORV_HAVE_MULTIMEDIA)
        string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
    endif()
    # The skin's fonts at their intended sizes, and the file-type icons where no desktop brings a
    # theme.
    # Qt's translations give Qt's own dialogs the chosen language; xdg-utils opens the manual.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, adwaita-icon-theme, qt6-translations-l10n, xdg-utils")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
