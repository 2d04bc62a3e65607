// The few socket calls of the tests' servers, the same on every platform: Berkeley sockets on
// Linux, Windows Sockets on Windows (started once, handles kept in an int as they fit there).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <cstring>
typedef int socklen_t;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>

// A TCP socket, not inherited by programs the test starts; -1 when none can be made.
inline int OpenTestSocket(bool nonBlocking = false) {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) return -1;
    SOCKET handle = socket(AF_INET, SOCK_STREAM, 0);
    if (handle == INVALID_SOCKET) return -1;
    SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    if (nonBlocking) {
        u_long on = 1;
        ioctlsocket(handle, FIONBIO, &on);
    }
    return int(handle);
#else
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
#endif
}

inline int AcceptTestSocket(int listener) {
#ifdef _WIN32
    SOCKET handle = accept(SOCKET(listener), nullptr, nullptr);
    if (handle == INVALID_SOCKET) return -1;
    // Windows wakes a send blocked on a peer that stopped reading only when the socket is closed,
    // not at shutdown: a time limit keeps such a connection from holding the server's stop.
    DWORD limit = 5000;
    setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof(limit));
    return int(handle);
#else
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

inline void CloseTestSocket(int socket) {
#ifdef _WIN32
    closesocket(SOCKET(socket));
#else
    close(socket);
#endif
}

// Ends both directions; a thread blocked on the socket returns.
inline void ShutdownTestSocket(int socket) {
#ifdef _WIN32
    shutdown(SOCKET(socket), SD_BOTH);
#else
    shutdown(socket, SHUT_RDWR);
#endif
}

// Wakes a thread blocked in accept on the listener. Windows wakes it only when the socket is
// closed, so there the listener is closed here and -1 is returned; elsewhere it stays open.
inline int WakeTestListener(int listener) {
#ifdef _WIN32
    closesocket(SOCKET(listener));
    return -1;
#else
    shutdown(listener, SHUT_RDWR);
    return listener;
#endif
}

// Binds the socket to 127.0.0.1 at port (0: one the system picks) and, with a backlog of 0 or
// more, listens there. The port bound, or 0 when any step failed.
inline int BindLoopback(int socket, int backlog, uint16_t port = 0) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof(address);
    if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        (backlog >= 0 && listen(socket, backlog) != 0) ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Connects a socket to that port of 127.0.0.1 (blocking): true when the connection was made.
inline bool ConnectLoopback(int socket, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return socket >= 0 && connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

// Whether something takes connections at that port of 127.0.0.1 now.
inline bool LoopbackAccepts(int port) {
    const int socket = OpenTestSocket();
    const bool accepted = ConnectLoopback(socket, port);
    if (socket >= 0) CloseTestSocket(socket);
    return accepted;
}

inline void SetTestSocketOption(int socket, int level, int name, int value) {
    setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof(value));
}

inline long SendTestSocket(int socket, const char* data, size_t size) {
#ifdef _WIN32
    return send(SOCKET(socket), data, int(size), 0);
#else
    return send(socket, data, size, MSG_NOSIGNAL);
#endif
}

inline long ReceiveTestSocket(int socket, char* data, size_t size) {
#ifdef _WIN32
    return recv(SOCKET(socket), data, int(size), 0);
#else
    return recv(socket, data, size, 0);
#endif
}

// Waits up to milliseconds for the socket to become readable. 1 readable, 0 not yet, -1 when
// the peer has hung up or the wait failed.
inline int WaitTestSocketReadable(int socket, int milliseconds) {
#ifdef _WIN32
    WSAPOLLFD entry{SOCKET(socket), POLLRDNORM, 0};
    int ready = WSAPoll(&entry, 1, milliseconds);
    if (ready < 0) return -1;
    if (ready > 0 && (entry.revents & (POLLHUP | POLLERR))) return -1;
    return ready > 0 ? 1 : 0;
#else
    pollfd entry{socket, POLLIN | POLLRDHUP, 0};
    int ready = poll(&entry, 1, milliseconds);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR))) return -1;
    return ready > 0 ? 1 : 0;
#endif
}

inline bool SameTextIgnoringCase(const char* a, const char* b) {
#ifdef _WIN32
    return _stricmp(a, b) == 0;
#else
    return strcasecmp(a, b) == 0;
#endif
}
