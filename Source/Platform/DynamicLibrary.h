// Loading shared libraries at run time and looking up their exported functions.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

// An opaque handle of a loaded library; _null for none.
typedef void* LibraryHandle;

// Loads the library at path with every symbol resolved at once and its symbols kept local to it.
// _null when it cannot be loaded; reason (when given) then receives the dynamic loader's own
// words for it (a missing dependency, a file that is not a library, the wrong architecture), or
// stays empty when it gave none. The caller unloads it with UnloadDynamicLibrary.
LibraryHandle LoadDynamicLibrary(const WideChar* path, String* reason = _null);

// The address of the exported symbol of that name (8-bit text); _null when the library is none
// or does not export it.
void* FindLibrarySymbol(LibraryHandle library, const char* name);

// Unloads a library from LoadDynamicLibrary; _null is ignored.
void UnloadDynamicLibrary(LibraryHandle library);

// The base address of the loaded module (library or executable) that contains the given code or
// data address; _null when it is in none.
void* ModuleBaseOf(const void* address);
