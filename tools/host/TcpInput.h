// How many bytes the process has received over TCP: the loader's downloads, which run on its own
// worker threads and are the host's only network traffic until the game module takes over.
#pragma once

#include <cstdint>
#include <map>

class TcpInput {
public:
    // Adds what each open TCP socket of the process has received since the last call (a socket
    // first seen counts whole) and returns the running total. Bytes a socket received after the
    // last call and before it was closed are not seen, so call it often (a hundred times a second).
    uint64_t Sample();

private:
    std::map<uint64_t, uint64_t> mReceived; // per socket (its inode): bytes at the last call
    uint64_t mTotal = 0;
};
