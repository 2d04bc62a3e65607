// The loader's reading of package header entries: file names, digests and the cache name.
#pragma once

#include "Vexal3DLoader.h"
#include "Common/Types.h"
#include "Source/Common/Digest.h"
#include "Source/Common/String.h"

// The sum of the eight module sizes (32-bit, wrapping).
uint32_t ModuleSizeTotal(const PackageHeader& header);

// The entry's file name: the units up to the first 0, at most 32 (a name that fills its field is
// not read past it).
String ModuleFileName(const ModuleEntry& entry);

// True when the entry has a file: its name is not empty and does not begin with "@".
bool ModuleHasFile(const ModuleEntry& entry);

// A cache name is safe as a single folder and file name: not empty, not "." or "..", and without
// "/" or "\".
bool IsSafeCacheName(const WideChar* name);

// Digest words as stored in the header (words A, B, C, D).
Digest DigestFromWords(const void* words);
