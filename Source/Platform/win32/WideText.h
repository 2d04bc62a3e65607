// The engine's UTF-16 text at the Windows interface: wchar_t is 16-bit there, so the units are
// the same and only the pointer type changes.
#pragma once

#include "Common/Types.h"

static_assert(sizeof(wchar_t) == sizeof(WideChar), "wchar_t holds UTF-16 units on Windows");

inline const wchar_t* SystemText(const WideChar* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* SystemText(WideChar* text) {
    return reinterpret_cast<wchar_t*>(text);
}
inline const WideChar* EngineText(const wchar_t* text) {
    return reinterpret_cast<const WideChar*>(text);
}
