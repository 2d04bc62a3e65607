// Programs run from a test on Windows: the command line goes to the system's command processor.
#include "support/ChildProcess.h"

#include <cstdio>

CommandRun RunCommand(const std::string& commandLine, ErrorOutput errors) {
    CommandRun run;
    const std::string line = errors == ErrorOutput::Collected ? commandLine + " 2>&1" : commandLine;
    FILE* pipe = _popen(line.c_str(), "rb");
    if (pipe == nullptr)
        return run;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.mOutput.append(chunk, got);
    run.mStatus = _pclose(pipe);
    return run;
}
