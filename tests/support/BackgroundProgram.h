// Programs a test starts and lets run beside it: their output goes to a file, their environment is
// the test's own plus the variables given, and a program that outlives the test's time limit (a
// hang, or a crash that waits for a debugger as under Wine) is killed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What to start.
struct ProgramLine {
    std::vector<std::string> mEnvironment; // "NAME=value", added to (or replacing) the test's own
    std::vector<std::string> mArguments;   // the program first, then its arguments
};

class BackgroundProgram {
public:
    BackgroundProgram() = default;
    // Kills the program if it still runs.
    ~BackgroundProgram();
    BackgroundProgram(BackgroundProgram&& other) noexcept;
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    // Starts the program with its standard output and error in outputPath (created or emptied)
    // and no standard input. False when it cannot be started.
    bool Start(const ProgramLine& line, const std::string& outputPath);
    // Waits up to timeoutSeconds for the program to end. Its exit status; -1 when it was killed
    // (timedOut then says whether the time limit did it) or was never started.
    int Wait(int timeoutSeconds, bool& timedOut);

private:
    void Kill();

    intptr_t mProcess = -1; // a process id on Linux, a process handle on Windows
};
