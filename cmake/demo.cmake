# The demo's classes in <build>/demo-classes: UsbPort, the simulated bus's control classes and the demo itself, built
# whatever the folder's options (scripts/demo.sh builds this target and runs from it, also where the tests and their
# classes are not built). The demo needs no JUnit.
find_package(Java 17 COMPONENTS Development)
if(NOT Java_JAVAC_EXECUTABLE)
  return()
endif()

set(DEMO_CLASSES ${CMAKE_BINARY_DIR}/demo-classes)
file(GLOB DEMO_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/com/qel/usb/demo/*.java)
list(APPEND DEMO_SOURCES
     ${CMAKE_SOURCE_DIR}/java/com/qel/usb/UsbPort.java
     ${CMAKE_SOURCE_DIR}/java/com/qel/usb/NativeLibrary.java
     ${VIRI_JAVA_VERSION_SOURCE}
     ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimBus.java
     ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/PrinterStatus.java)

add_custom_command(
  OUTPUT ${DEMO_CLASSES}/.stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${DEMO_CLASSES}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror -d ${DEMO_CLASSES} ${DEMO_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E touch ${DEMO_CLASSES}/.stamp
  DEPENDS ${DEMO_SOURCES}
  COMMENT "Compiling the demo")
add_custom_target(demo_classes ALL DEPENDS ${DEMO_CLASSES}/.stamp)
