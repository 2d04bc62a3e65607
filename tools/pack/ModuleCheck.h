// Checking a game module library the way the loader will load it, without loading it: an ELF
// shared object for x86-64 that exports the six required entry points and whose needed
// libraries the dynamic loader finds on this machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Where the module will sit when the loader loads it.
struct ModulePlace {
    std::string mName;                      // its file name in the package, relative to the cache folder
    std::string mFolder;                    // the cache folder on this machine; empty when not known
    std::vector<std::string> mPackageFiles; // the package's other files, written beside it by the loader
};

// Every reason the loader could not load the module, one line each; empty when none is found.
std::vector<std::string> CheckGameModule(const uint8_t* data, size_t size, const ModulePlace& place);
