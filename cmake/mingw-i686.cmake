# Cross-compiling the 32-bit Windows library with mingw-w64 (POSIX thread model: the win32 model
# of GCC 12 has no std::mutex). The runtimes are linked statically, so the library and the test
# programs import only system DLLs. VEXAL_WIN32_DEPS names the prefix that tools/win32/build-deps
# filled; the tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VEXAL_MINGW i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXAL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXAL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXAL_MINGW}-windres)
set(CMAKE_AR ${VEXAL_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${VEXAL_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT VEXAL_WIN32_DEPS AND DEFINED ENV{VEXAL_WIN32_DEPS})
  set(VEXAL_WIN32_DEPS $ENV{VEXAL_WIN32_DEPS})
endif()
set(VEXAL_WIN32_DEPS "${VEXAL_WIN32_DEPS}" CACHE PATH "Prefix of the cross-built dependencies")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VEXAL_WIN32_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXAL_MINGW} ${VEXAL_WIN32_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
