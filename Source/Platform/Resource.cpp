// Lookup of the data embedded at build time: a chain of generated tables searched by name.
#include "Source/Platform/Resource.h"

#include "Source/Common/Buffer.h"

namespace {

// Constant-initialised, so generated tables may register from any static initialiser. Tables
// are only added before main runs; lookups never write.
EmbeddedResourceTable* gFirstTable = _null;

// Compares a wide name with a table's UTF-8 name, folding only A-Z / a-z. A wide unit above
// 0x7F never matches a byte of a multi-byte sequence one to one, so names with such characters
// are compared through their UTF-8 bytes.
bool SameName(const WideChar* wide, const char* narrow) {
    uint8_t encoded[4];
    while (*wide != 0) {
        uint32_t unit = *wide++;
        int32_t count;
        if (unit < 0x80) {
            encoded[0] = uint8_t(unit);
            count = 1;
        } else if (unit < 0x800) {
            encoded[0] = uint8_t(0xC0 | (unit >> 6));
            encoded[1] = uint8_t(0x80 | (unit & 0x3F));
            count = 2;
        } else {
            encoded[0] = uint8_t(0xE0 | (unit >> 12));
            encoded[1] = uint8_t(0x80 | ((unit >> 6) & 0x3F));
            encoded[2] = uint8_t(0x80 | (unit & 0x3F));
            count = 3;
        }
        for (int32_t i = 0; i < count; ++i) {
            uint8_t have = uint8_t(*narrow++);
            uint8_t want = encoded[i];
            if (have >= 'a' && have <= 'z')
                have = uint8_t(have - 'a' + 'A');
            if (want >= 'a' && want <= 'z')
                want = uint8_t(want - 'a' + 'A');
            if (have != want)
                return false;
        }
    }
    return *narrow == 0;
}

} // namespace

void RegisterEmbeddedResources(EmbeddedResourceTable* table, bool ahead) {
    if (table == _null)
        return;
    if (ahead) {
        table->next = gFirstTable;
        gFirstTable = table;
        return;
    }
    table->next = _null;
    EmbeddedResourceTable** link = &gFirstTable;
    while (*link != _null)
        link = &(*link)->next;
    *link = table;
}

bool LoadEmbeddedResource(const WideChar* name, Buffer& buffer) {
    if (name == _null || name[0] == 0)
        return false;
    for (const EmbeddedResourceTable* table = gFirstTable; table != _null; table = table->next) {
        for (uint32_t i = 0; i < table->count; ++i) {
            const EmbeddedResource& entry = table->entries[i];
            if (!SameName(name, entry.name))
                continue;
            if (entry.size == 0)
                return false;
            // Copied aside first so that a failed allocation leaves the buffer as it was.
            Buffer copy;
            if (!copy.Set(entry.data, entry.size, true))
                return false;
            copy.SetName(buffer.GetName());
            buffer.Swap(copy);
            return true;
        }
    }
    return false;
}
