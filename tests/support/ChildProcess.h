// Programs run from a test as a shell command line, their output and exit status collected.
#pragma once

#include <cstdio>
#include <string>

// What a finished command left behind.
struct CommandRun {
    // The exit status; -1 when the command could not be started or was ended by a signal.
    int mStatus = -1;
    std::string mOutput;
};

// Where the command's standard error goes.
enum class ErrorOutput {
    Collected, // into mOutput, mixed with standard output as it comes
    Separate,  // wherever the command line sends it (the test's own by default)
};

// Runs commandLine with /bin/sh and waits for it to end, collecting its standard output in
// mOutput. Blocks the calling thread for as long as the command runs.
CommandRun RunCommand(const std::string& commandLine, ErrorOutput errors = ErrorOutput::Collected);

// Reads a stream to its end.
std::string ReadWholeStream(FILE* stream);
