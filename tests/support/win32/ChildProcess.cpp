// Programs run from a test on Windows: the command line goes to the system's command processor.
#include "support/ChildProcess.h"

#include <cstdio>

CommandRun RunCommand(const std::string& commandLine, ErrorOutput errors) {
    CommandRun run;
    const std::string line = errors == ErrorOutput::Collected ? commandLine + " 2>&1" : commandLine;
    // The command processor takes away the first and the last quote of a line that starts with
    // one (a quoted program name): the line goes in one more pair of them.
    FILE* pipe = _popen(("\"" + line + "\"").c_str(), "rb");
    if (pipe == nullptr)
        return run;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.mOutput.append(chunk, got);
    run.mStatus = _pclose(pipe);
    return run;
}

// Each word in quotes, as the C runtime splits a command line: a quote inside is escaped, and so
// are the backslashes just before a quote. The command processor leaves quoted text alone.
std::string CommandLineOf(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty())
            line += ' ';
        line += '"';
        size_t backslashes = 0;
        for (char c : word) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}
