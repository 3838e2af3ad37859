# What an installed Vardane brings beside the two programs, and the Debian
# package around it (scripts/package.sh; `cpack -G DEB` in a build tree).
set(VARDANE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VARDANE_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
set(VARDANE_DATA_DIR share/vardane)
set(VARDANE_DOC_DIR share/doc/vardane)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${VARDANE_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/vardane.png
        DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${VARDANE_PACKAGING_DIR}/org.vardane.Vardane.metainfo.xml
    DESTINATION share/metainfo)
install(FILES ${VARDANE_PACKAGING_DIR}/completion/vardane-cli
    DESTINATION share/bash-completion/completions)

# Man pages and the changelog go in compressed, as Debian wants them.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed)
foreach(source man/vardane.1 man/vardane-cli.1 changelog)
    get_filename_component(name ${source} NAME)
    set(out ${VARDANE_PACKAGING_OUT}/${name}.gz)
    add_custom_command(OUTPUT ${out}
        COMMAND ${GZIP_PROGRAM} -9nc ${VARDANE_PACKAGING_DIR}/${source} > ${out}
        DEPENDS ${VARDANE_PACKAGING_DIR}/${source} VERBATIM)
    list(APPEND compressed ${out})
endforeach()
add_custom_target(vardane_packaging_files ALL DEPENDS ${compressed})
install(FILES ${VARDANE_PACKAGING_OUT}/vardane.1.gz ${VARDANE_PACKAGING_OUT}/vardane-cli.1.gz
    DESTINATION share/man/man1)
install(FILES ${VARDANE_PACKAGING_DIR}/copyright DESTINATION ${VARDANE_DOC_DIR})
install(FILES ${VARDANE_PACKAGING_OUT}/changelog.gz DESTINATION ${VARDANE_DOC_DIR})

# The native messaging host: the browsers start a launcher that runs
# `vardane-cli native-host`; the manifests allow the extension's two IDs.
# They name programs by their installed path, so they are written when the
# prefix is known: at install time (the package installs into /usr).
file(READ ${PROJECT_SOURCE_DIR}/extension/chromium-id.txt VARDANE_CHROMIUM_ID)
string(STRIP "${VARDANE_CHROMIUM_ID}" VARDANE_CHROMIUM_ID)
set(host_in ${VARDANE_PACKAGING_DIR}/native-messaging)
set(host_out ${VARDANE_PACKAGING_OUT}/native-messaging)
install(CODE "
    set(VARDANE_CLI \"\${CMAKE_INSTALL_PREFIX}/bin/vardane-cli\")
    set(VARDANE_NATIVE_HOST \"\${CMAKE_INSTALL_PREFIX}/lib/vardane/native-host\")
    set(VARDANE_CHROMIUM_ID ${VARDANE_CHROMIUM_ID})
    configure_file(${host_in}/native-host.in ${host_out}/native-host @ONLY)
    configure_file(${host_in}/firefox.json.in ${host_out}/firefox/org.vardane.host.json @ONLY)
    configure_file(${host_in}/chromium.json.in ${host_out}/chromium/org.vardane.host.json @ONLY)
")
install(PROGRAMS ${host_out}/native-host DESTINATION lib/vardane)
install(FILES ${host_out}/firefox/org.vardane.host.json
    DESTINATION lib/mozilla/native-messaging-hosts)
set(VARDANE_CHROMIUM_HOSTS /etc/chromium/native-messaging-hosts)
install(FILES ${host_out}/chromium/org.vardane.host.json DESTINATION ${VARDANE_CHROMIUM_HOSTS})

# The extension, unpacked for Chromium's "Load unpacked" and zipped for
# Firefox.
file(GLOB_RECURSE extension_files CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/extension
    ${PROJECT_SOURCE_DIR}/extension/*)
list(REMOVE_ITEM extension_files chromium-id.txt)
list(SORT extension_files)
list(TRANSFORM extension_files PREPEND ${PROJECT_SOURCE_DIR}/extension/ OUTPUT_VARIABLE extension_paths)
set(extension_zip ${VARDANE_PACKAGING_OUT}/vardane-extension.zip)
add_custom_command(OUTPUT ${extension_zip}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${extension_zip}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${extension_zip} --format=zip -- ${extension_files}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/extension
    DEPENDS ${PROJECT_SOURCE_DIR}/extension/chromium-id.txt
            ${extension_paths}
    VERBATIM)
add_custom_target(vardane_extension_zip ALL DEPENDS ${extension_zip})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/extension/ DESTINATION ${VARDANE_DATA_DIR}/extension
    PATTERN chromium-id.txt EXCLUDE)
install(FILES ${extension_zip} DESTINATION ${VARDANE_DATA_DIR})

set(CPACK_PACKAGE_NAME vardane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vardane developers")
set(CPACK_PACKAGE_CONTACT "The Vardane developers <maintainers@vardane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download manager for HTTP, HTTPS and FTP")
# CPack puts the summary above this as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vardane fetches each file over one to four connections straight into a\n"
    "pre-sized temporary file and keeps a small progress file per download, so\n"
    "every download resumes after a stop, a crash or a restart. It follows\n"
    "redirects, retries failed connections, passes through HTTP and SOCKS proxies,\n"
    "runs a queue with a global speed limit and browses FTP sites.\n"
    ".\n"
    "The package holds the window (vardane), the command line front end\n"
    "(vardane-cli) and a browser extension for Firefox and Chromium with its\n"
    "native messaging host.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_GENERATOR DEB)
# Whatever prefix the build tree was configured with, the package installs
# into /usr (the launcher and manifests are written for it).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vardane.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
configure_file(${VARDANE_PACKAGING_DIR}/debian/conffiles.in
    ${VARDANE_PACKAGING_OUT}/debian/conffiles @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${VARDANE_PACKAGING_OUT}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
