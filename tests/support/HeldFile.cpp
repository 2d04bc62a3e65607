// Files held by another process on Linux: a child opens the file for reading and waits.
#include "support/HeldFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

HeldFile::~HeldFile() { Release(); }

bool HeldFile::Hold(const std::string& path) {
    Release();
    int ready[2];
    if (pipe(ready) != 0)
        return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        const char held = open(path.c_str(), O_RDONLY) >= 0 ? 1 : 0;
        if (write(ready[1], &held, 1) != 1 || held == 0)
            _exit(1);
        close(ready[1]);
        for (;;) pause();
    }
    close(ready[1]);
    char held = 0;
    const bool answered = pid > 0 && read(ready[0], &held, 1) == 1;
    close(ready[0]);
    if (pid > 0)
        mProcess = pid;
    if (!answered || held == 0) {
        Release();
        return false;
    }
    return true;
}

void HeldFile::Release() {
    if (mProcess <= 0)
        return;
    kill(pid_t(mProcess), SIGKILL);
    waitpid(pid_t(mProcess), nullptr, 0);
    mProcess = -1;
}

bool HeldFile::CanBeReplaced() { return true; }
