// Cache folders whose disk refuses the loader's writes, for whole host runs: one that fills up
// after a given number of bytes, one that takes no new file. Each system produces them its own
// way (a mount namespace of the host's own on Linux, folders mounted for the test run under
// Wine); the test sees only the folder, the wrapped command and the system's words for the
// refusal.
#pragma once

#include <functional>
#include <string>

#include "support/BackgroundProgram.h"

struct DiskFault {
    // Why the fault cannot be produced on this machine; empty when it can.
    std::string mSkip;
    // How it is produced, for the test's printed summary.
    std::string mDescription;
    // The folder the host runs in, holding the cache folder's files.
    std::string mFolder;
    // Where the folder's files are found after the run.
    std::string mAfter;
    // The system's words for the refused write, as the loader's log gives them.
    std::string mReason;
    // The host's command, placed in the fault's surroundings.
    std::function<ProgramLine(const ProgramLine&)> mWrap;
};

// The folder cache, with its files, on a disk that takes room more bytes and then refuses them.
// scratch is an empty folder for the fault's own files.
DiskFault FullFolderFault(const std::string& cache, const std::string& scratch, size_t room);

// The folder cache, with its files, refusing every new file.
DiskFault ReadOnlyFolderFault(const std::string& cache, const std::string& scratch);
