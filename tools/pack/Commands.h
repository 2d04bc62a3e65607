// The package tool's commands and the helpers they share.
#pragma once

#include <cstdio>
#include <string>

#include "Source/Common/String.h"

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A command receives the arguments after its name (argv[0] is the first of them) and returns an
// exit status. A usage error prints the command's usage line on standard error and returns
// kExitUsage.
typedef int (*CommandFunction)(int argc, char** argv);

struct Command {
    const char* name;
    const char* usage;   // the arguments, as the usage text shows them
    const char* summary; // one line for the usage text
    CommandFunction run;
};

// The file commands (CommandsFile.cpp).
int RunDigest(int argc, char** argv);
int RunPack(int argc, char** argv);
int RunUnpack(int argc, char** argv);

// Prints "usage: vexal-pack <name> <usage>" for the named command on standard error and returns
// kExitUsage.
int UsageOf(const char* name);

// What a usable cache name is, for the refusals of build and sign.
constexpr const char* kCacheNameRule =
    "it names a folder of its own, so it must be one plain name (no \"/\", \"\\\", \":\", \".\" or \"..\", "
    "no device name, not ending in a dot or a blank)";

// A UTF-8 text for printing: every control character written as an escape ("\x1b").
std::string PrintableText(const std::string& text);

// A command-line argument (UTF-8) as an engine path.
String PathArgument(const char* argument);
// The first `limit` bytes of the file named by a command-line argument (fewer when it is
// shorter) into bytes; false, with bytes empty, when it cannot be opened.
bool ReadFileStart(const char* path, uint32_t limit, std::string& bytes);
