// UTF-8 and UTF-16 at the Windows host's system calls: its own texts are UTF-8 as on Linux.
#pragma once

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

inline std::wstring Wide(const std::string& text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size_t(length > 0 ? length : 1), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], length);
    out.resize(wcslen(out.c_str()));
    return out;
}

inline std::string Narrow(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length > 0 ? length : 1), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}
