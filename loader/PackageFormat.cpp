// The loader's reading of package header entries.
#include <cstring>
#include "loader/PackageFormat.h"

uint32_t ModuleSizeTotal(const PackageHeader& header)
{
    uint32_t total = 0;
    for (const ModuleEntry& entry : header.modules)
        total += entry.size;
    return total;
}

String ModuleFileName(const ModuleEntry& entry)
{
    int32_t length = 0;
    while (length < VEXAL_HEADER_TEXT_UNITS && entry.fileName[length] != 0)
        ++length;
    return String(entry.fileName, length);
}

bool ModuleHasFile(const ModuleEntry& entry)
{
    return entry.fileName[0] != 0 && entry.fileName[0] != u'@';
}

bool IsSafeCacheName(const WideChar* name)
{
    if (name == _null || name[0] == 0)
        return false;
    if ((name[0] == u'.' && name[1] == 0) || (name[0] == u'.' && name[1] == u'.' && name[2] == 0))
        return false;
    for (const WideChar* cursor = name; *cursor != 0; ++cursor) {
        if (*cursor == u'/' || *cursor == u'\\')
            return false;
    }
    return true;
}

Digest DigestFromWords(const void* words)
{
    // The words sit in a packed header record, so they may be at any address.
    uint32_t aligned[4];
    std::memcpy(aligned, words, sizeof aligned);
    return Digest{aligned[0], aligned[1], aligned[2], aligned[3]};
}
