// A private nginx on 127.0.0.1 for end-to-end runs: serves one folder (byte ranges included),
// logs every request, and answers the tick location with its own access log.
#pragma once

#include <cstdint>
#include <string>

class NginxServer {
public:
    NginxServer() = default;
    // Stops the server if it still runs.
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Writes a configuration into workFolder (which also receives the logs and nginx's temporary
    // folders) and starts nginx serving root on a free port of 127.0.0.1. Requests for /tick are
    // answered 204 and logged in TickLogPath; all others in AccessLogPath. False with a reason
    // in error when nginx is missing or does not come up within five seconds. The server process
    // ends with this object, or with the calling process if that dies first.
    bool Start(const std::string& root, const std::string& workFolder, std::string& error);
    // Answers every later started server's requests at most this many bytes per second (0: no
    // limit). Takes effect at the next Start.
    void LimitRate(long bytesPerSecond) { mRateLimit = bytesPerSecond; }
    // Shuts the server down and waits for it (its logs are complete afterwards).
    void Stop();

    int Port() const { return mPort; }
    // "http://127.0.0.1:<port>" followed by path (which should begin with "/").
    std::string Url(const std::string& path) const;
    // nginx's combined format with $bytes_sent (status line, headers and body) as the last field.
    std::string AccessLogPath() const { return mWork + "/logs/access.log"; }
    std::string TickLogPath() const { return mWork + "/logs/tick.log"; }
    std::string ErrorLogPath() const { return mWork + "/logs/error.log"; }

private:
    // Linux: nginx's process id. Windows: the test's end of the connection whose closing ends
    // nginx (it runs on the Linux side under Wine, out of reach of the Windows process calls).
    intptr_t mProcess = -1;
    int mPort = 0;
    long mRateLimit = 0;
    std::string mWork;
};

// The nginx program to run: $VEXAL_NGINX, else /usr/sbin/nginx, else "nginx" from the PATH.
std::string NginxProgram();
