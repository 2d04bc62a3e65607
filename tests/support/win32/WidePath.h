// The UTF-8 paths and texts of the tests as the UTF-16 of Windows' calls.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring WidePath(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
    return wide;
}
