// Disk faults on Linux: a small tmpfs, or a read-only bind mount, in a private mount namespace of
// the host's own (unshare); where no namespace can be had, a file size limit on the host stands in
// for the full disk and plain permissions for the read-only folder.
#include "support/DiskFaults.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

// The command as shell text, its variables set by env.
std::string ShellText(const ProgramLine& line) {
    std::string text = "env";
    for (const std::string& entry : line.mEnvironment) text += " " + Quote(entry);
    for (const std::string& argument : line.mArguments) text += " " + Quote(argument);
    return text;
}

// "unshare -m" as root, "unshare -rm" (a user namespace of our own) otherwise; empty when
// neither can mount here.
std::vector<std::string> MountNamespace(const std::string& scratch) {
    const std::string probe = scratch + "/mount-probe";
    mkdir(probe.c_str(), 0755);
    for (const char* option : {"-m", "-rm"}) {
        const std::string command = std::string("unshare ") + option + " sh -c 'mount -t tmpfs -o size=64k tmpfs \"" +
                                    probe + "\"' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            return {"unshare", option};
    }
    return {};
}

ProgramLine InNamespace(const std::vector<std::string>& unshare, const std::string& script) {
    ProgramLine line;
    line.mArguments = unshare;
    line.mArguments.insert(line.mArguments.end(), {"sh", "-c", script});
    return line;
}

} // namespace

DiskFault FullFolderFault(const std::string& cache, const std::string& scratch, size_t room) {
    DiskFault fault;
    fault.mFolder = cache;
    fault.mAfter = cache;
    const std::vector<std::string> unshare = MountNamespace(scratch);
    if (unshare.empty()) {
        fault.mDescription = "a file size limit of " + std::to_string(room) + " bytes on the host";
        fault.mReason = "File too large";
        // SIGXFSZ ignored: a write past the limit fails with EFBIG, as one past a full disk would.
        fault.mWrap = [room](const ProgramLine& host) {
            ProgramLine line;
            line.mArguments = {"sh", "-c", "trap '' XFSZ; exec prlimit --fsize=" + std::to_string(room) + " -- " + ShellText(host)};
            return line;
        };
        return fault;
    }
    fault.mDescription = "a tmpfs of " + std::to_string(room / 1024) + " KiB in a private mount namespace";
    fault.mReason = "No space left on device";
    // The folder's files move onto the tmpfs for the run and are copied out afterwards.
    const std::string before = scratch + "/before";
    fault.mAfter = scratch + "/after";
    mkdir(before.c_str(), 0755);
    mkdir(fault.mAfter.c_str(), 0755);
    const std::string after = fault.mAfter;
    fault.mWrap = [=](const ProgramLine& host) {
        return InNamespace(unshare, "cp -a " + Quote(cache + "/.") + " " + Quote(before) + " && mount -t tmpfs -o size=" +
                                        std::to_string(room / 1024) + "k tmpfs " + Quote(cache) + " && cp -a " +
                                        Quote(before + "/.") + " " + Quote(cache) + " && " + ShellText(host) +
                                        "; status=$?; cp -a " + Quote(cache + "/.") + " " + Quote(after) + "; exit $status");
    };
    return fault;
}

DiskFault ReadOnlyFolderFault(const std::string& cache, const std::string& scratch) {
    DiskFault fault;
    fault.mFolder = cache;
    fault.mAfter = cache;
    if (geteuid() != 0) {
        fault.mDescription = "permissions 0555";
        fault.mReason = "Permission denied";
        chmod(cache.c_str(), 0555);
        fault.mWrap = [](const ProgramLine& host) { return host; };
        return fault;
    }
    // Root writes through permissions: the folder is remounted read-only in a namespace.
    const std::vector<std::string> unshare = MountNamespace(scratch);
    if (unshare.empty()) {
        fault.mSkip = "running as root without mount namespaces: no way to make a folder read-only";
        return fault;
    }
    fault.mDescription = "a read-only bind mount in a private mount namespace";
    fault.mReason = "Read-only file system";
    fault.mWrap = [=](const ProgramLine& host) {
        return InNamespace(unshare, "mount --bind " + Quote(cache) + " " + Quote(cache) + " && mount -o remount,bind,ro " +
                                        Quote(cache) + " && exec " + ShellText(host));
    };
    return fault;
}
