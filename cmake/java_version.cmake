# The Java side's copy of the release number: a generated source, com.qel.usb.LibraryVersion, that every Java
# compilation of the library's classes takes beside java/. The loader compares it with the native library's.
set(VIRI_JAVA_GENERATED ${CMAKE_BINARY_DIR}/java-generated)
set(VIRI_JAVA_VERSION_SOURCE ${VIRI_JAVA_GENERATED}/com/qel/usb/LibraryVersion.java)
configure_file(${CMAKE_SOURCE_DIR}/cmake/LibraryVersion.java.in ${VIRI_JAVA_VERSION_SOURCE} @ONLY)
