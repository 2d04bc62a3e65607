// This process's own figures as its system counts them, for tests that look for growth over many
// runs: open handles, threads, memory, and whether a file is still held.
#pragma once

#include <string>

struct ProcessFigures {
    int mHandles = 0;      // descriptors (/proc/self/fd), or handles
    int mThreads = 0;      // /proc/self/task, or the process's threads in a Toolhelp snapshot
    long mResidentKiB = 0; // resident set, or working set
    long mPrivateKiB = 0;  // anonymous resident memory (RssAnon), or committed private memory
};

ProcessFigures CurrentProcessFigures();

// Whether this process holds the file at path open. On Linux a descriptor's target names it; on
// Windows the file cannot be opened without sharing while any handle to it is open.
bool HoldsNativeFile(const std::string& path);

// The handles this thread is left with after the library at path has been loaded and unloaded
// once. 0 on Linux. On Windows a 32-bit mingw-w64 DLL keeps two (a handle to the loading thread
// and an event: its static threads library registers the exception tables at load and never
// frees that record), so each load of such a game module adds them.
int HandlesKeptByLoadingLibrary(const std::string& path);
