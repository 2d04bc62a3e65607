// Reading what the dynamic loader would read of an ELF file, from its bytes alone: the file is
// never loaded or run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr uint16_t kElfMachineX86_64 = 62;
constexpr uint16_t kElfTypeShared = 3;

struct ElfSummary {
    uint8_t mClass = 0;       // 1: 32-bit, 2: 64-bit
    uint8_t mEncoding = 0;    // 1: little-endian, 2: big-endian
    uint16_t mType = 0;       // 2: executable, 3: shared object (or position-independent executable)
    uint16_t mMachine = 0;    // 62: x86-64, 3: x86, 183: AArch64, ...
    bool mHasDynamic = false; // a dynamic section the dynamic loader reads
    // The symbols the file defines and exports through its dynamic symbol table (global or weak,
    // visible to other objects), with true for a function.
    std::map<std::string, bool> mExports;
    std::vector<std::string> mNeeded;  // DT_NEEDED, in order
    std::vector<std::string> mRunPath; // DT_RUNPATH folders, in order, tokens such as $ORIGIN kept
    std::vector<std::string> mRPath;   // DT_RPATH folders (the dynamic loader ignores them with a RUNPATH)
};

// Reads the ELF header and, for a little-endian 64-bit file, its dynamic section and dynamic
// symbols. False with a reason when the bytes are no ELF file, or when the tables the dynamic
// loader needs are cut short or point outside the file; the fields read so far stay in summary.
// Only the header is read of 32-bit and big-endian files (they are refused on this machine
// anyway).
bool ReadElfSummary(const uint8_t* data, size_t size, ElfSummary& summary, std::string& error);

// A machine number as a name ("x86-64", "x86 (32-bit)", "AArch64", or "machine N").
std::string ElfMachineName(uint16_t machine);
