// The console (standard output) of the host process.
#pragma once

#include "Common/Types.h"

// Writes the text to standard output in the user's character set (characters it cannot express
// become "?"), then a line end when asked, and flushes every output stream. Any thread; the
// process's own locale is never changed.
void WriteConsoleText(const WideChar* text, bool endLine);

// The system's side of WriteConsoleText, on the calling thread: the user's character set made
// current for the text, count units of text converted into at most size bytes (how many were
// written), and the previous state restored.
void BeginConsoleText();
int32_t ConsoleBytes(char* bytes, int32_t size, const WideChar* text, int32_t count);
void EndConsoleText();
