# The kit a driver project points at, in <build>/kit: usbport.jar (the class the driver calls), viri-simkit.jar
# (SimBus, PrinterStatus, the JUnit 5 extension) and the library built with the simulated bus. Built on request:
# cmake --build <build> --target kit
find_package(Java 17 COMPONENTS Development)
if(NOT Java_JAVAC_EXECUTABLE OR NOT Java_JAR_EXECUTABLE)
  return()
endif()

set(VIRI_JUNIT_JAR /usr/share/java/junit-platform-console-standalone.jar CACHE FILEPATH
    "JUnit 5 jar that the kit's JUnit extension is compiled against")
set(KIT_DIR ${CMAKE_BINARY_DIR}/kit)
set(KIT_CLASSES ${CMAKE_BINARY_DIR}/kit-classes)
set(KIT_USBPORT_SOURCES ${CMAKE_SOURCE_DIR}/java/com/qel/usb/UsbPort.java)
set(KIT_SIMKIT_SOURCES
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimBus.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/PrinterStatus.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimBusExtension.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimTimeScale.java)

add_custom_command(
  OUTPUT ${KIT_DIR}/usbport.jar ${KIT_DIR}/viri-simkit.jar
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${KIT_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KIT_DIR}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror -d ${KIT_CLASSES}/usbport ${KIT_USBPORT_SOURCES}
  COMMAND ${Java_JAVAC_EXECUTABLE} -Xlint:all -Werror -cp ${VIRI_JUNIT_JAR} -d ${KIT_CLASSES}/simkit
          ${KIT_SIMKIT_SOURCES}
  COMMAND ${Java_JAR_EXECUTABLE} --create --file ${KIT_DIR}/usbport.jar -C ${KIT_CLASSES}/usbport .
  COMMAND ${Java_JAR_EXECUTABLE} --create --file ${KIT_DIR}/viri-simkit.jar -C ${KIT_CLASSES}/simkit .
  DEPENDS ${KIT_USBPORT_SOURCES} ${KIT_SIMKIT_SOURCES}
  COMMENT "Packing usbport.jar and viri-simkit.jar")

add_custom_target(kit
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VIRIVOREzu_sim> ${KIT_DIR}/
  DEPENDS ${KIT_DIR}/usbport.jar ${KIT_DIR}/viri-simkit.jar VIRIVOREzu_sim
  COMMENT "Gathering the kit in ${KIT_DIR}")
