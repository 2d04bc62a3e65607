// What the package tool finds in a package file's header: the header as the loader reads it and
// every reason the loader would refuse it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Source/Common/String.h"
#include "Vexal3DLoader.h"

struct PackageReport {
    PackageHeader mHeader = {};
    uint64_t mFileSize = 0;
    uint32_t mExpectedSize = 0; // the package size the loader expects from the header
    bool mKeyRight = false;
    std::vector<std::string> mRejections; // the loader would fall back to another address
    std::vector<std::string> mProblems;   // accepted, but the run cannot complete
    std::vector<std::string> mWarnings;   // accepted and loadable, worth knowing
};

// Reads the first 1132 bytes of the file the way the loader does and checks them against the
// file's size. False with a reason in error only when the file cannot be read at all.
bool ReadPackageReport(const char* path, PackageReport& report, std::string& error);

// UTF-16 text (at most count units, stopping at a 0 unit) as UTF-8 for printing, its control
// characters written as escapes ("\x1b"): names come from packages anyone may have built.
std::string NarrowText(const char16_t* text, int32_t count = -1);
// The digest text of four stored digest words.
std::string DigestWordsText(const uint32_t words[4]);
