// The files behind the log channels: created through missing folders, written unbuffered.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

// Creates the file for writing: missing folders are made, an existing file is made writable by
// its owner and truncated. Other processes may read it while it is open. None on failure.
void* CreateLogFile(const WideChar* path);
// Writes the bytes straight to the file (no buffering); failures are ignored.
void WriteLogFile(void* file, const void* bytes, uint32_t count);
void CloseLogFile(void* file);
// The current directory and the host executable's path; empty when unknown.
String LogCurrentDirectory();
String LogHostExecutablePath();
