// vexal-ticks: the loading funnel from web server access logs that hold the loader's ticks.
//
//   vexal-ticks [--json] [--svg FILE] [--idle SECONDS] [FILE...]
//
// Exit status: 0 when every input was read, 1 when one could not be read to its end (the
// figures of everything read are still written), 2 on a usage error.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/ticks/TickFunnel.h"
#include "tools/ticks/TickInput.h"
#include "tools/ticks/TickReport.h"

namespace {

const char kUsage[] =
    "usage: vexal-ticks [--json] [--svg FILE] [--idle SECONDS] [FILE...]\n"
    "Reads web server access logs (nginx and Apache common or combined format, or lines that\n"
    "begin with nginx's $msec), plain or gzip-compressed, and reports how the loader's runs went:\n"
    "per app version and in total, the runs that reached each state, those lost there, the time\n"
    "from a run's first tick to each state (median and 90th percentile), the last progress of the\n"
    "runs lost, and the warm runs (game module created within a second of fetching module files).\n"
    "Without FILE, or with -, standard input is read. Give rotated logs oldest first.\n"
    "  --json          the figures as JSON instead of a table\n"
    "  --svg FILE      also draw the funnel and the times to each state into an SVG file\n"
    "  --idle SECONDS  a run silent this long has stopped (default 1800)\n"
    "  -h, --help      this text\n"
    "Exit status: 0 all input read, 1 an input could not be read to its end, 2 usage error.\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "vexal-ticks: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    bool json = false;
    std::string svg;
    long idleSeconds = 1800;
    std::vector<std::string> inputs;
    for (int index = 1; index < argc; ++index) {
        const std::string arg = argv[index];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--svg") {
            if (++index >= argc) return Usage("--svg needs a FILE");
            svg = argv[index];
        } else if (arg == "--idle") {
            char* end = nullptr;
            if (++index >= argc) return Usage("--idle needs a number of seconds");
            errno = 0;
            idleSeconds = std::strtol(argv[index], &end, 10);
            if (errno || end == argv[index] || *end || idleSeconds < 1 || idleSeconds > 30L * 86400)
                return Usage("--idle takes whole seconds from 1 to 2592000");
        } else if (arg == "--") {
            for (++index; index < argc; ++index) inputs.push_back(argv[index]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else {
            inputs.push_back(arg);
        }
    }
    if (inputs.empty()) inputs.push_back("-");

    TickFunnel funnel(int64_t(idleSeconds) * 1000);
    int status = 0;
    for (const std::string& input : inputs) {
        const bool standardInput = input == "-";
        const int fd = standardInput ? 0 : open(input.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "vexal-ticks: cannot open %s: %s\n", input.c_str(), std::strerror(errno));
            status = 1;
            continue;
        }
        std::string problem;
        if (!ReadLog(fd, funnel, problem)) {
            std::fprintf(stderr, "vexal-ticks: %s: %s; the lines before are counted\n",
                         standardInput ? "standard input" : input.c_str(), problem.c_str());
            status = 1;
        }
        if (!standardInput) close(fd);
    }
    funnel.Finish();
    if (funnel.TimeWentBack())
        std::fprintf(stderr, "vexal-ticks: the log's time went back by more than the idle time; runs may be split "
                             "in two (give rotated logs oldest first)\n");

    if (json)
        PrintJson(stdout, funnel);
    else
        PrintTable(stdout, funnel);
    if (!svg.empty()) {
        std::string problem;
        if (!WriteSvg(svg, funnel, problem)) {
            std::fprintf(stderr, "vexal-ticks: cannot write %s: %s\n", svg.c_str(), problem.c_str());
            status = 1;
        }
    }
    if (std::fflush(stdout) != 0) status = 1;
    return status;
}
