// Basic types shared by every engine module: the wide text unit and the null constant.
#pragma once

#include <cstddef>
#include <cstdint>

// The engine's wide text unit is UTF-16 on every platform; the platform's own wchar_t is never
// used for engine text. Literals are written u"...".
typedef char16_t WideChar;

// The engine writes its null pointer as _null.
#define _null nullptr
