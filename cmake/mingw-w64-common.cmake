# What both mingw-w64 cross-builds share; the toolchain file of each sets CMAKE_SYSTEM_PROCESSOR and
# VIRI_MINGW_TRIPLE first. The posix threads variant is the one whose libstdc++ offers std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VIRI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VIRI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VIRI_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${VIRI_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${VIRI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# OpenJDK's jni.h is platform-neutral; the Windows jni_md.h beside it is the project's own (windows/include).
set(VIRI_JNI_H_DIR /usr/lib/jvm/java-17-openjdk-amd64/include CACHE PATH "Folder of OpenJDK's jni.h")
