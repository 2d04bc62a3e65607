// Programs run from a test on Windows: the command line goes to the system's command processor.
#include "support/ChildProcess.h"

#include <cstdio>

CommandRun RunCommand(const std::string& commandLine, ErrorOutput errors) {
    CommandRun run;
    const std::string line = errors == ErrorOutput::Collected ? commandLine + " 2>&1" : commandLine;
    FILE* pipe = _popen(line.c_str(), "rb");
    if (pipe == nullptr)
        return run;
    run.mOutput = ReadWholeStream(pipe);
    run.mStatus = _pclose(pipe);
    return run;
}
