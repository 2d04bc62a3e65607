// The private nginx's configuration, the same for the Linux runs and for those under Wine. In a
// header, so that every program built from one of the servers' sources alone has it too.
#pragma once

#include <string>

// The server's configuration: root and work are the folders as nginx names them; the logs go
// to work/logs, nginx's own temporary folders to work/temp.
inline std::string NginxConfiguration(const std::string& root, const std::string& work, int port, long rateLimit, bool runAsRoot) {
    std::string text;
    if (runAsRoot) text += "user root;\n";
    text += "daemon off;\n"
            "worker_processes 1;\n"
            "pid " +
            work + "/nginx.pid;\n"
                   "error_log " +
            work + "/logs/error.log warn;\n"
                   "events { worker_connections 256; }\n"
                   "http {\n"
                   "  default_type application/octet-stream;\n"
                   "  sendfile on;\n"
                   "  tcp_nopush on;\n"
                   // nginx's combined format, and the bytes sent (headers included) last.
                   "  log_format sent '$remote_addr - $remote_user [$time_local] \"$request\" "
                   "$status $body_bytes_sent \"$http_referer\" \"$http_user_agent\" $bytes_sent';\n"
                   "  access_log " +
            work + "/logs/access.log sent;\n";
    if (rateLimit > 0) text += "  limit_rate " + std::to_string(rateLimit) + ";\n";
    for (const char* temporary : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        const std::string name = temporary;
        text += "  " + name + "_temp_path " + work + "/temp/" + (name == "client_body" ? "body" : name) + ";\n";
    }
    text += "  server {\n"
            "    listen 127.0.0.1:" +
            std::to_string(port) +
            ";\n"
            "    root " +
            root +
            ";\n"
            "    location /tick { access_log " +
            work +
            "/logs/tick.log; return 204; }\n"
            "  }\n"
            "}\n";
    return text;
}
