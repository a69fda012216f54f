# Installing and packaging the station: the programs in bin/, what a station reads from its
# program directory in share/tavolin/, the service unit, and a Debian package made by CPack
# ("cmake --build build --target package", or "bash packaging/make-package.sh" from a clean clone).
# The data comes from third_party/ as the set-up fetched it; installed files are looked up when
# the install runs, so the set-up may run after the configuration.

set(TAVO_DATA_DIR share/tavolin)
set(_third ${PROJECT_SOURCE_DIR}/third_party)

foreach(_program tavolin tavolin-db tavolin-face tavolin-office)
  if(TARGET ${_program})
    target_compile_definitions(${_program} PRIVATE TAVO_VERSION="${PROJECT_VERSION}")
    install(TARGETS ${_program} RUNTIME DESTINATION bin)
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/packaging/tavolin-new-station.in
               ${PROJECT_BINARY_DIR}/packaging/tavolin-new-station @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/tavolin-new-station DESTINATION bin)

# The networks, as scripts/new-station.sh puts them into nets/ (tests/package checks the two agree).
install(DIRECTORY ${_third}/face-models/ DESTINATION ${TAVO_DATA_DIR}/nets
        FILES_MATCHING
        PATTERN "tiny_face_detector_model.bin" PATTERN "tiny_face_detector_model-weights_manifest.json"
        PATTERN "ssd_mobilenetv1_model.bin" PATTERN "ssd_mobilenetv1_model-weights_manifest.json"
        PATTERN "face_landmark_68_model.bin" PATTERN "face_landmark_68_model-weights_manifest.json"
        PATTERN "face_recognition_model.bin" PATTERN "face_recognition_model-weights_manifest.json"
        PATTERN "*.onnx" PATTERN "fr_LICENSE.txt")
install(DIRECTORY ${_third}/cascades/ DESTINATION ${TAVO_DATA_DIR}/cascades FILES_MATCHING PATTERN "*.xml")
install(FILES ${_third}/install/alarm.wav ${_third}/install/a-tadam.wav ${_third}/install/Image.jpg
        DESTINATION ${TAVO_DATA_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tavolin@.service DESTINATION lib/systemd/system)

# The desktop work place: its launcher, the applications-menu entry, and the session's autostart
# entry (a configuration file of the package, as everything under /etc).
configure_file(${PROJECT_SOURCE_DIR}/packaging/desktop/tavolin-desktop.in
               ${PROJECT_BINARY_DIR}/packaging/tavolin-desktop @ONLY)
install(PROGRAMS ${PROJECT_BINARY_DIR}/packaging/tavolin-desktop DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/tavolin.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/desktop/tavolin-autostart.desktop
        DESTINATION /etc/xdg/autostart RENAME tavolin.desktop)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "/etc/xdg/autostart/tavolin.desktop\n")
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/tavolin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavolin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Face check-in station")
set(CPACK_PACKAGE_DESCRIPTION
    "Checks at a work place that the person showing an employee barcode is that employee, driven by an office accounting system through request and result files in a shared folder.")
set(CPACK_PACKAGE_CONTACT "Tavolin maintainers <root@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Libraries from dpkg-shlibdeps; besides them the user set-up and the window's platform plugin.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "samba, cifs-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm
    ${PROJECT_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)

# The package made by CPack and extracted into a temporary root (a fixture), a station made and run
# from there as the unit starts it, and the unit checked by systemd-analyze.
set(_package_test ${PROJECT_SOURCE_DIR}/tests/package/package_test.sh)
add_test(NAME package.Make COMMAND bash ${_package_test} make ${PROJECT_BINARY_DIR})
add_test(NAME package.InstalledStationRuns COMMAND bash ${_package_test} run ${PROJECT_BINARY_DIR})
add_test(NAME package.UnitVerifies COMMAND bash ${_package_test} unit ${PROJECT_BINARY_DIR})
set_tests_properties(package.Make PROPERTIES FIXTURES_SETUP tavo_package TIMEOUT 600)
set_tests_properties(package.InstalledStationRuns package.UnitVerifies PROPERTIES
                     FIXTURES_REQUIRED tavo_package TIMEOUT 600 SKIP_RETURN_CODE 77)
