#include "support/ChildProcess.h"

#include <sys/wait.h>

#include <cstdio>

CommandRun RunCommand(const std::string& commandLine, ErrorOutput errors) {
    CommandRun run;
    const std::string line = errors == ErrorOutput::Collected ? commandLine + " 2>&1" : commandLine;
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr)
        return run;
    run.mOutput = ReadWholeStream(pipe);
    const int status = pclose(pipe);
    run.mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
