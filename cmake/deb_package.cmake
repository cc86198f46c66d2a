# The Debian package of the real-device library, <build>/release/virivorezu_<version>_amd64.deb, made by
# packaging/deb/build-deb.sh from this build. Built on request: cmake --build <build> --target deb
set(VIRI_DEB ${CMAKE_BINARY_DIR}/release/virivorezu_${PROJECT_VERSION}_amd64.deb)
file(GLOB deb_packaging_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packaging/deb/*)
add_custom_command(
  OUTPUT ${VIRI_DEB}
  COMMAND ${CMAKE_SOURCE_DIR}/packaging/deb/build-deb.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
          ${CMAKE_BINARY_DIR}/release
  DEPENDS ${deb_packaging_files} ${VIRI_RELEASE_JAR} VIRIVOREzu viri_probe
          ${CMAKE_SOURCE_DIR}/linuxdev/udev/60-virivorezu.rules
  COMMENT "Packing virivorezu_${PROJECT_VERSION}_amd64.deb")
add_custom_target(deb DEPENDS ${VIRI_DEB})
