// The engine's printf-style formatter over UTF-16, path helpers and list splitting.
#pragma once

#include <cstdarg>
#include "Common/Types.h"
#include "Common/Array.h"
#include "Source/Common/String.h"

// Conversions: %ls (const WideChar*, "(null)" for none), %s (const char*, UTF-8 bytes widened
// unit by unit through the UTF-8 decoder), %c, %d %i %u %x %X %o with h/l/ll/z lengths, %p
// (0x-less, zero-padded upper-case hex of pointer width), %f %e %g %F %E %G, %%; flags - + space
// # 0, width and precision including *. Writes at most size units; the last unit of the buffer
// is always 0. Returns the buffer. A missing buffer, size 0 or missing format is an assertion.
WideChar* FormatInto(WideChar* buffer, int32_t size, const WideChar* format, ...);
WideChar* FormatIntoV(WideChar* buffer, int32_t size, const WideChar* format, va_list arguments);
// FormatIntoV for texts that may carry names from a package or a server: every control character
// (C0 but the tab, DEL, C1) that a text conversion (%ls, %s, %c) brings in is written as an escape
// of four units ("\x1b"), so that no name can clear a terminal or forge a line; the format's own
// text is written as it stands.
WideChar* FormatPrintableIntoV(WideChar* buffer, int32_t size, const WideChar* format, va_list arguments);
// The text with every control character written as such an escape.
String PrintableText(const WideChar* text);
// Formats into an 8192-unit buffer (cut at 8191 units).
String Format(const WideChar* format, ...);
String FormatV(const WideChar* format, va_list arguments);
// "%5.3f"
String FloatToText(float value);

// Separators are "\\", "/" and ":".
String PathWithoutExtension(const WideChar* path);
String PathExtension(const WideChar* path);
String PathFolder(const WideChar* path);
String PathFileName(const WideChar* path, bool keepFolder, bool keepExtension);

// Splits text at any unit of delimiters (exact), trimming units of trimSet from each item.
// "a,,b" gives a, "", b; "" gives one empty item; a trailing item is kept only when not empty.
void Split(const WideChar* text, Array<String>& output, const WideChar* delimiters,
           const WideChar* trimSet);
