// A private temporary folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdio>
#include <string>

#include "Source/Common/String.h"

class ScratchFolder {
public:
    // Creates a fresh folder under $TMPDIR (or /tmp). Check IsValid.
    ScratchFolder();
    // Removes the folder and its contents (read-only entries included).
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool IsValid() const { return !mPath.empty(); }
    // The folder, or a name inside it ("a/b.txt"), as a native path and as an engine path.
    std::string Native(const std::string& name = "") const;
    String Wide(const std::string& name = "") const;

private:
    std::string mPath;
};

// Opens a native file in binary mode, for writing (created or truncated) or reading; nullptr when
// it cannot be opened.
FILE* OpenNativeFile(const std::string& path, bool write);
// Reads a native file whole; empty when it cannot be read.
std::string ReadNativeFile(const std::string& path);
// Writes a native file whole; false on failure.
bool WriteNativeFile(const std::string& path, const std::string& bytes);
// A wide copy of an ASCII or UTF-8 text.
String WideText(const std::string& text);
// A narrow (UTF-8) copy of an engine text.
std::string NarrowText(const WideChar* text);
