# The kit a driver project points at, in <build>/kit: usbport.jar (the class the driver calls and its loader),
# viri-simkit.jar (SimBus, PrinterStatus, the JUnit 5 extension, and the library built with the simulated bus, which
# the loader extracts when no library is on java.library.path) and that library again beside them. Java 8 classes,
# as JavaPOS drivers run on Java 8. Built on request: cmake --build <build> --target kit
find_package(Java 17 COMPONENTS Development)
if(NOT Java_JAVAC_EXECUTABLE OR NOT Java_JAR_EXECUTABLE)
  return()
endif()

set(VIRI_JUNIT_JAR /usr/share/java/junit-platform-console-standalone.jar CACHE FILEPATH
    "JUnit 5 jar that the kit's JUnit extension is compiled against")
set(KIT_DIR ${CMAKE_BINARY_DIR}/kit)
set(KIT_CLASSES ${CMAKE_BINARY_DIR}/kit-classes)
set(VIRI_JAVA_RELEASE 8)
set(VIRI_USBPORT_SOURCES
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/UsbPort.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/NativeLibrary.java
    ${VIRI_JAVA_VERSION_SOURCE})
set(KIT_SIMKIT_SOURCES
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimBus.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/PrinterStatus.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimBusExtension.java
    ${CMAKE_SOURCE_DIR}/java/com/qel/usb/sim/SimTimeScale.java)
set(KIT_SIM_LIBRARY_FOLDER ${KIT_CLASSES}/simkit/com/qel/usb/native-sim/linux-x86-64)

add_custom_command(
  OUTPUT ${KIT_DIR}/usbport.jar ${KIT_DIR}/viri-simkit.jar
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${KIT_CLASSES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KIT_DIR} ${KIT_SIM_LIBRARY_FOLDER}
  COMMAND ${Java_JAVAC_EXECUTABLE} --release ${VIRI_JAVA_RELEASE} -Xlint:all -Werror -d ${KIT_CLASSES}/usbport
          ${VIRI_USBPORT_SOURCES}
  COMMAND ${Java_JAVAC_EXECUTABLE} --release ${VIRI_JAVA_RELEASE} -Xlint:all -Werror
          -cp ${VIRI_JUNIT_JAR}:${KIT_CLASSES}/usbport -d ${KIT_CLASSES}/simkit ${KIT_SIMKIT_SOURCES}
  COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${KIT_SIM_LIBRARY_FOLDER}/$<TARGET_FILE_NAME:VIRIVOREzu_sim>
          $<TARGET_FILE:VIRIVOREzu_sim>
  COMMAND ${Java_JAR_EXECUTABLE} --create --file ${KIT_DIR}/usbport.jar -C ${KIT_CLASSES}/usbport .
  COMMAND ${Java_JAR_EXECUTABLE} --create --file ${KIT_DIR}/viri-simkit.jar -C ${KIT_CLASSES}/simkit .
  DEPENDS ${VIRI_USBPORT_SOURCES} ${KIT_SIMKIT_SOURCES} VIRIVOREzu_sim $<TARGET_FILE:VIRIVOREzu_sim>
  COMMENT "Packing usbport.jar and viri-simkit.jar")

add_custom_target(kit
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VIRIVOREzu_sim> ${KIT_DIR}/
  DEPENDS ${KIT_DIR}/usbport.jar ${KIT_DIR}/viri-simkit.jar VIRIVOREzu_sim
  COMMENT "Gathering the kit in ${KIT_DIR}")
