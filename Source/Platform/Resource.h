// Data compiled into the program at build time (the "VEXALRES" resources): the loading screen's
// movie, script and images, looked up by name.
#pragma once

#include "Common/Types.h"

class Buffer;

// Finds the embedded resource with that name (compared without regard to case, so
// "loading.swf" finds LOADING.SWF) and copies its bytes into the buffer, which owns the copy.
// An empty or missing name, an unknown name or a resource of 0 bytes gives false and leaves the
// buffer as it was. Any thread may call.
bool LoadEmbeddedResource(const WideChar* name, Buffer& buffer);

// One table of embedded files, generated at build time for each target that embeds a folder.
struct EmbeddedResource {
    const char* name;    // the file's name inside the folder (ASCII or UTF-8)
    const uint8_t* data; // its bytes
    uint32_t size;       // its size in bytes
};

struct EmbeddedResourceTable {
    const EmbeddedResource* entries;
    uint32_t count;
    EmbeddedResourceTable* next; // kept by the registry
};

// Adds a table to the lookup. The generated code calls this from a static initialiser; the table
// must live for the rest of the process. Tables registered earlier win on equal names.
void RegisterEmbeddedResources(EmbeddedResourceTable* table);
