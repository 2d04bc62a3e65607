// An nginx instance of the benchmark's own: a temporary folder with its configuration and the
// files it serves, listening on 127.0.0.1 at a free port, stopped and removed at the end.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

class NginxServer {
public:
    NginxServer() = default;
    ~NginxServer() { Stop(); }
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Writes `name` (size bytes of a fixed pattern) and the configuration, starts nginx and waits
    // until it accepts connections. False (with a message on stderr) when any step fails.
    bool Start(const std::string& name, size_t size);
    // Stops nginx (waits for it) and removes the folder.
    void Stop();

    std::string Url() const { return mUrl; }
    uint16_t Port() const { return mPort; }

private:
    std::string mFolder;
    std::string mUrl;
    uint16_t mPort = 0;
    pid_t mProcess = -1;
};
