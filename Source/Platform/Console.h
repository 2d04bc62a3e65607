// The console (standard output) of the host process.
#pragma once

#include "Common/Types.h"

// Writes the text to standard output in the user's character set (characters it cannot express
// become "?"), then a line end when asked, and flushes every output stream. Any thread; the
// process's own locale is never changed.
void WriteConsoleText(const WideChar* text, bool endLine);
