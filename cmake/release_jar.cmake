# The jar a driver deploys, <build>/release/virivorezu-<version>.jar: UsbPort and its loader as Java 8 classes, and
# the deployable library of each platform under com/qel/usb/native/<platform>/, which the loader extracts when no
# library is on java.library.path. This build's own Linux library always; the Windows DLLs when the cache variables
# name them (scripts/release.sh builds them first). Built on request: cmake --build <build> --target release_jar
set(VIRI_WINDOWS_X86_64_DLL "" CACHE FILEPATH "The 64-bit VIRIVOREzu.dll that the release jar carries")
set(VIRI_WINDOWS_X86_DLL "" CACHE FILEPATH "The 32-bit VIRIVOREzu.dll that the release jar carries")

set(VIRI_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
set(VIRI_RELEASE_JAR ${VIRI_RELEASE_DIR}/virivorezu-${PROJECT_VERSION}.jar)
set(RELEASE_CLASSES ${CMAKE_BINARY_DIR}/release-classes)
set(RELEASE_NATIVE ${RELEASE_CLASSES}/com/qel/usb/native)

set(release_windows_copies)
set(release_windows_files)
foreach(platform X86_64 X86)
  set(dll ${VIRI_WINDOWS_${platform}_DLL})
  if(dll)
    string(TOLOWER "windows-${platform}" folder)
    string(REPLACE "_" "-" folder ${folder})
    list(APPEND release_windows_copies
         COMMAND ${CMAKE_COMMAND} -E make_directory ${RELEASE_NATIVE}/${folder}
         COMMAND ${CMAKE_COMMAND} -E copy ${dll} ${RELEASE_NATIVE}/${folder}/VIRIVOREzu.dll)
    list(APPEND release_windows_files ${dll})
  endif()
endforeach()

add_custom_command(
  OUTPUT ${VIRI_RELEASE_JAR}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${RELEASE_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VIRI_RELEASE_DIR} ${RELEASE_NATIVE}/linux-x86-64
  COMMAND ${Java_JAVAC_EXECUTABLE} --release ${VIRI_JAVA_RELEASE} -Xlint:all -Werror -d ${RELEASE_CLASSES}
          ${VIRI_USBPORT_SOURCES}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${RELEASE_NATIVE}/linux-x86-64/$<TARGET_FILE_NAME:VIRIVOREzu>
          $<TARGET_FILE:VIRIVOREzu>
  ${release_windows_copies}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${VIRI_RELEASE_JAR}
  COMMAND ${Java_JAR_EXECUTABLE} --create --file ${VIRI_RELEASE_JAR} -C ${RELEASE_CLASSES} .
  DEPENDS ${VIRI_USBPORT_SOURCES} VIRIVOREzu $<TARGET_FILE:VIRIVOREzu> ${release_windows_files}
  COMMENT "Packing virivorezu-${PROJECT_VERSION}.jar")
add_custom_target(release_jar DEPENDS ${VIRI_RELEASE_JAR})
