// Background programs on Linux: fork and exec, the environment built before the fork.
#include "support/BackgroundProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

BackgroundProgram::~BackgroundProgram() { Kill(); }

BackgroundProgram::BackgroundProgram(BackgroundProgram&& other) noexcept : mProcess(other.mProcess) {
    other.mProcess = -1;
}

bool BackgroundProgram::Start(const ProgramLine& line, const std::string& outputPath) {
    if (line.mArguments.empty() || mProcess > 0)
        return false;
    // Everything the child needs is made here: only async-signal-safe calls follow the fork.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        const size_t length = equals != nullptr ? size_t(equals - *entry) + 1 : std::strlen(*entry);
        bool replaced = false;
        for (const std::string& given : line.mEnvironment)
            replaced = replaced || given.compare(0, length, *entry, length) == 0;
        if (!replaced)
            environment.push_back(*entry);
    }
    environment.insert(environment.end(), line.mEnvironment.begin(), line.mEnvironment.end());
    std::vector<char*> envp, argv;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    for (const std::string& argument : line.mArguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (output < 0 || input < 0) {
        if (output >= 0) close(output);
        if (input >= 0) close(input);
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(input, 0);
        dup2(output, 1);
        dup2(output, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(output);
    close(input);
    mProcess = pid;
    return pid > 0;
}

int BackgroundProgram::Wait(int timeoutSeconds, bool& timedOut) {
    timedOut = false;
    if (mProcess <= 0)
        return -1;
    const pid_t pid = pid_t(mProcess);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        timedOut = true;
        Kill();
        return -1;
    }
    mProcess = -1;
    return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BackgroundProgram::Kill() {
    if (mProcess <= 0)
        return;
    kill(pid_t(mProcess), SIGKILL);
    waitpid(pid_t(mProcess), nullptr, 0);
    mProcess = -1;
}
