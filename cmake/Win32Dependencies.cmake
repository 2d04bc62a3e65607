# The dependencies of the 32-bit Windows library, as imported targets over the static archives
# that tools/win32/build-deps put into VEXAL_WIN32_DEPS (zlib from Debian's mingw-w64 package).
if(NOT VEXAL_WIN32_DEPS OR NOT EXISTS "${VEXAL_WIN32_DEPS}/.complete")
  message(FATAL_ERROR "VEXAL_WIN32_DEPS must name the prefix tools/win32/build-deps prints")
endif()
set(VEXAL_MINGW_ROOT /usr/i686-w64-mingw32)

function(vexal_win32_library name)
  cmake_parse_arguments(DEP "" "" "ARCHIVES;INCLUDES;DEFINES;SYSTEM" ${ARGN})
  add_library(vexal_win32_${name} INTERFACE IMPORTED GLOBAL)
  set(archives "")
  foreach(archive ${DEP_ARCHIVES})
    if(IS_ABSOLUTE ${archive})
      list(APPEND archives ${archive})
    else()
      list(APPEND archives ${VEXAL_WIN32_DEPS}/lib/${archive})
    endif()
  endforeach()
  set_target_properties(vexal_win32_${name} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${DEP_INCLUDES}"
    INTERFACE_COMPILE_DEFINITIONS "${DEP_DEFINES}"
    INTERFACE_LINK_LIBRARIES "${archives};${DEP_SYSTEM}")
endfunction()

vexal_win32_library(zlib ARCHIVES ${VEXAL_MINGW_ROOT}/lib/libz.a)
vexal_win32_library(crypto ARCHIVES libssl.a libcrypto.a INCLUDES ${VEXAL_WIN32_DEPS}/include
  SYSTEM ws2_32 crypt32 bcrypt user32 advapi32)
vexal_win32_library(curl ARCHIVES libcurl.a INCLUDES ${VEXAL_WIN32_DEPS}/include
  DEFINES CURL_STATICLIB SYSTEM vexal_win32_crypto vexal_win32_zlib ws2_32 wldap32 crypt32 bcrypt)
vexal_win32_library(lzma ARCHIVES liblzma.a INCLUDES ${VEXAL_WIN32_DEPS}/include
  DEFINES LZMA_API_STATIC)
vexal_win32_library(zstd ARCHIVES libzstd.a INCLUDES ${VEXAL_WIN32_DEPS}/include)
vexal_win32_library(luajit ARCHIVES libluajit-5.1.a INCLUDES ${VEXAL_WIN32_DEPS}/include/luajit-2.1)

set(VEXAL_FOUNDATION_LIBRARIES vexal_win32_curl vexal_win32_zlib vexal_win32_lzma vexal_win32_crypto vexal_win32_zstd
  iphlpapi ws2_32 shell32 winmm gdiplus gdi32 user32 shlwapi ole32 oleaut32)
set(VEXAL_SCRIPT_LIBRARIES vexal_win32_luajit)
