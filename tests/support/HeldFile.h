// A file held open by another process, as a second copy of a game or a virus scanner holds it.
// On Windows the holder shares reading only: while it holds the file, no one can write, replace or
// delete it. On Linux an open file can be deleted and replaced all the same; only the holder keeps
// the old content.
#pragma once

#include <cstdint>
#include <string>

class HeldFile {
public:
    HeldFile() = default;
    // Ends the holding process.
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Starts a process that holds the file at path open; true once it does.
    bool Hold(const std::string& path);
    // Ends the holding process; the file is free again.
    void Release();

    // Whether a held file can be deleted and written anew on this system.
    static bool CanBeReplaced();

private:
    intptr_t mProcess = -1; // the holder's process id on Linux, its process handle on Windows
};
