// Received bytes of the process's TCP sockets, read through /proc/self/fd and TCP_INFO.
#include "TcpInput.h"

#include <dirent.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

uint64_t TcpInput::Sample() {
    std::map<uint64_t, uint64_t> seen;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return mTotal;
    const int own = dirfd(folder);
    while (dirent* entry = readdir(folder)) {
        char* end = nullptr;
        long fd = strtol(entry->d_name, &end, 10);
        if (*end != 0 || end == entry->d_name || fd == own) continue;
        char target[64];
        std::string link = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
        if (length <= 0) continue;
        target[length] = 0;
        if (std::strncmp(target, "socket:[", 8) != 0) continue;
        uint64_t inode = std::strtoull(target + 8, nullptr, 10);
        tcp_info info;
        socklen_t size = sizeof(info);
        std::memset(&info, 0, sizeof(info));
        // Other sockets (the display connection) are not TCP and refuse the option.
        if (getsockopt(int(fd), IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
            size < offsetof(tcp_info, tcpi_bytes_received) + sizeof(info.tcpi_bytes_received))
            continue;
        uint64_t received = info.tcpi_bytes_received;
        auto known = mReceived.find(inode);
        uint64_t before = known == mReceived.end() ? 0 : known->second;
        if (received > before) mTotal += received - before;
        seen[inode] = received > before ? received : before;
    }
    closedir(folder);
    mReceived.swap(seen);
    return mTotal;
}
