// The command line of vexal-screen.
#include "PreviewOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>

const char kPreviewUsage[] =
    "usage: vexal-screen [--size WxH] [--progress P | --seconds S] [--screenshot FILE@SECONDS]\n"
    "                    [--profile] [--slow MS] [--alloc N] [--assets DIR] SCRIPT.lua\n"
    "       vexal-screen [options] --assets DIR\n"
    "  --size WxH            window size (default 1024x768)\n"
    "  --progress P          fixed progress 0..1 (default 0.5)\n"
    "  --seconds S           progress from 0 to 1 over S seconds, then exit\n"
    "  --screenshot F@T      write the window as PNG file F at T seconds, then exit\n"
    "  --profile             profile script and native calls; dump the tables at exit\n"
    "  --slow MS             report every call that takes longer than MS milliseconds\n"
    "  --alloc N             track the script's allocations; list locations of >= N bytes at exit\n"
    "  --assets DIR          the files of DIR come before the embedded defaults, as a library built\n"
    "                        with -DVEXAL_SCREEN_ASSETS=DIR has them; without SCRIPT.lua the screen\n"
    "                        runs DIR's loading-gdi.lua (the default script when DIR has none)\n"
    "exit status: 0 done; 1 a script error, a file that cannot be read or a screenshot not written;\n"
    "2 usage error\n";

namespace {

bool ReadNumber(const char* text, double& value) {
    if (text == nullptr || *text == 0) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && *end == 0 && std::isfinite(value);
}

bool ReadInteger(const char* text, int32_t& value, int32_t minimum) {
    double number = 0;
    if (!ReadNumber(text, number) || number != std::floor(number) || number < minimum || number > 2147483647.0)
        return false;
    value = int32_t(number);
    return true;
}

} // namespace

bool ParsePreviewOptions(int argc, char** argv, PreviewOptions& options, std::string& message, bool& help) {
    help = false;
    for (int i = 0; i < argc; ++i) {
        std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto fail = [&](const char* what) {
            message = "vexal-screen: " + argument + ": " + what;
            return false;
        };
        if (argument == "--help" || argument == "-h") {
            help = true;
            message = kPreviewUsage;
            return false;
        } else if (argument == "--size") {
            int width = 0, height = 0;
            char tail = 0;
            if (!value || std::sscanf(value, "%dx%d%c", &width, &height, &tail) != 2 || width < 1 || height < 1 ||
                width > 8192 || height > 8192)
                return fail("expected WxH, 1 to 8192 each");
            options.mWidth = width;
            options.mHeight = height;
            ++i;
        } else if (argument == "--progress") {
            if (!ReadNumber(value, options.mProgress) || options.mProgress < 0 || options.mProgress > 1)
                return fail("expected a number from 0 to 1");
            ++i;
        } else if (argument == "--seconds") {
            if (!ReadNumber(value, options.mSeconds) || options.mSeconds <= 0 || options.mSeconds > 86400)
                return fail("expected a number of seconds above 0");
            ++i;
        } else if (argument == "--screenshot") {
            const char* at = value ? std::strrchr(value, '@') : nullptr;
            if (!at || at == value || !ReadNumber(at + 1, options.mScreenshotAt) || options.mScreenshotAt < 0)
                return fail("expected FILE@SECONDS");
            options.mScreenshot.assign(value, size_t(at - value));
            ++i;
        } else if (argument == "--assets") {
            if (!value || !*value) return fail("expected a folder");
            options.mAssets = value;
            ++i;
        } else if (argument == "--profile") {
            options.mProfile = true;
        } else if (argument == "--slow") {
            if (!ReadInteger(value, options.mSlowMs, 1)) return fail("expected milliseconds, 1 or more");
            ++i;
        } else if (argument == "--alloc") {
            if (!ReadInteger(value, options.mAllocMinimum, 1)) return fail("expected a number of bytes, 1 or more");
            ++i;
        } else if (argument.size() > 1 && argument[0] == '-') {
            return fail("unknown option");
        } else if (options.mScript.empty()) {
            options.mScript = argument;
        } else {
            return fail("only one script");
        }
    }
    if (options.mProgress >= 0 && options.mSeconds > 0) {
        message = "vexal-screen: --progress and --seconds exclude each other";
        return false;
    }
    if (options.mScript.empty() && options.mAssets.empty()) {
        message = std::string("vexal-screen: no script given\n") + kPreviewUsage;
        return false;
    }
    if (options.mProgress < 0 && options.mSeconds <= 0) options.mProgress = 0.5;
    return true;
}
