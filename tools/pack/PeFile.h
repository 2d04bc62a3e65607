// Reading what the Windows loader would read of a PE file, from its bytes alone: the file is
// never loaded or run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

constexpr uint16_t kPeMachineI386 = 0x014C;

struct PeSummary {
    uint16_t mMachine = 0;            // 0x014C: i386, 0x8664: x86-64, ...
    uint16_t mMagic = 0;              // 0x10B: PE32, 0x20B: PE32+
    bool mIsDll = false;              // the file header's DLL flag
    std::set<std::string> mExports;   // names of the export directory
    std::vector<std::string> mNeeded; // DLLs of the import directory, in order
};

// True when the bytes start like a DOS/PE executable ("MZ").
bool LooksLikePe(const uint8_t* data, size_t size);

// Reads the headers, the export names and the imported DLLs. False with a reason when the bytes
// are no PE file or a table is cut short or points outside the file; the fields read so far
// stay in summary.
bool ReadPeSummary(const uint8_t* data, size_t size, PeSummary& summary, std::string& error);
