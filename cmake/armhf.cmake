# 32-bit ARM with hard float, as Debian's armhf: its cross compiler, its
# packages unpacked into ARMHF_ROOT, and qemu-arm to run what was built
# (scripts/armhf.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ARMHF_ROOT)
if(NOT IS_DIRECTORY "${ARMHF_ROOT}")
  message(FATAL_ERROR "ARMHF_ROOT: no unpacked armhf packages at '${ARMHF_ROOT}'")
endif()

# A 32-bit time_t ends at 2038-01-19T03:14:08Z, within a station's years of
# service, and the 32-bit file calls fail on large files and on a 64-bit
# kernel's directory entries.
# -Wno-psabi: every object is built by the one compiler, so its notes that an
# older one passed some arguments differently do not apply.
set(CMAKE_C_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 -Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 -Wno-psabi")

# pkg-config reads only the unpacked armhf packages, however the build is
# configured (scripts/armhf.sh, or a test configuring it again).
set(ENV{PKG_CONFIG_LIBDIR} ${ARMHF_ROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${ARMHF_ROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ARMHF_ROOT})

set(CMAKE_FIND_ROOT_PATH ${ARMHF_ROOT} /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The unpacked libraries are found through the programs' run path, an old
# style one that also serves the libraries they load, and by the linker for
# the libraries those in turn need.
set(CMAKE_BUILD_RPATH ${ARMHF_ROOT}/usr/lib/arm-linux-gnueabihf ${ARMHF_ROOT}/lib/arm-linux-gnueabihf)
list(JOIN CMAKE_BUILD_RPATH ":" _armhf_libs)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--disable-new-dtags -Wl,-rpath-link,${_armhf_libs}")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)

# JNI: the headers are this machine's JDK's, the same for every processor
# (jni_md.h takes the width of long from the compiler); the JVM that the
# tests load is the unpacked armhf one.
if(NOT JAVA_INCLUDE_PATH)
  file(GLOB _jni_h /usr/lib/jvm/default-java/include/jni.h /usr/lib/jvm/*/include/jni.h)
  if(_jni_h)
    list(GET _jni_h 0 _jni_h)
    get_filename_component(_jni_include ${_jni_h} DIRECTORY)
    set(JAVA_INCLUDE_PATH ${_jni_include} CACHE PATH "JNI headers")
    set(JAVA_INCLUDE_PATH2 ${_jni_include}/linux CACHE PATH "JNI headers of the platform")
  endif()
endif()
if(NOT JAVA_JVM_LIBRARY)
  file(GLOB _armhf_jvm ${ARMHF_ROOT}/usr/lib/jvm/*/lib/server/libjvm.so)
  if(_armhf_jvm)
    list(GET _armhf_jvm 0 _armhf_jvm)
    set(JAVA_JVM_LIBRARY ${_armhf_jvm} CACHE FILEPATH "The armhf JVM")
  endif()
endif()
