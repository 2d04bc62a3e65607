// Command line of vexal-host.
#include "HostOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

namespace {

bool ReadInteger(const char* text, long minimum, long maximum, long& value) {
    if (text == nullptr || *text == 0) return false;
    errno = 0;
    char* end = nullptr;
    long read = strtol(text, &end, 10);
    if (errno != 0 || *end != 0 || read < minimum || read > maximum) return false;
    value = read;
    return true;
}

bool ReadSeconds(const char* text, double& value) {
    if (text == nullptr || *text == 0) return false;
    errno = 0;
    char* end = nullptr;
    double read = strtod(text, &end);
    if (errno != 0 || *end != 0 || !(read >= 0.0) || read > 1e9) return false;
    value = read;
    return true;
}

bool ReadSize(const char* text, int32_t& width, int32_t& height) {
    const char* x = text ? strchr(text, 'x') : nullptr;
    if (x == nullptr) return false;
    std::string left(text, size_t(x - text));
    long w = 0, h = 0;
    if (!ReadInteger(left.c_str(), 1, 16384, w) || !ReadInteger(x + 1, 1, 16384, h)) return false;
    width = int32_t(w);
    height = int32_t(h);
    return true;
}

// The names the loader acts on, "loadervar" included (its loading screen takes it). The host
// links nothing of the loader, so this list follows the loader's Setup by hand: a name added
// there belongs here too.
const char* const kKnownParameters[] = {"voaurl", "voaparam", "commonvoaparam", "serverdataurl", "serverdata",
                                        "selectedserver", "reporturl", "appversion", "flashversion", "delay",
                                        "errurl", "tickurl", "tickinterval", "voatimeout", "cdnip",
                                        "voakey", "voagame", "loadervar"};

std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// Edits (insert, delete, replace, swap of neighbours) turning one name into the other.
size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// Whether the loader finds a number in a value: digits after blanks and one sign.
bool HasNumber(const std::string& value) {
    size_t at = value.find_first_not_of(" \t\n\v\f\r");
    if (at != std::string::npos && (value[at] == '+' || value[at] == '-')) ++at;
    return at < value.size() && value[at] >= '0' && value[at] <= '9';
}

} // namespace

std::vector<std::string> LaunchParameterWarnings(const HostOptions& options) {
    std::vector<std::string> warnings;
    bool packageAddress = false;
    bool keys = false;
    bool game = false;
    for (const auto& parameter : options.mParameters) {
        std::string name = Lower(parameter.first);
        if (name == "voaurl" || name == "serverdataurl" || name == "serverdata") packageAddress = true;
        keys = keys || name == "voakey";
        game = game || name == "voagame";
        const char* closest = nullptr;
        size_t best = 3; // further than two edits is no likely slip
        bool known = false;
        for (const char* candidate : kKnownParameters) {
            if (name == candidate) known = true;
            size_t distance = EditDistance(name, candidate);
            if (distance < best) {
                best = distance;
                closest = candidate;
            }
        }
        if (known) {
            if ((name == "tickinterval" || name == "voatimeout" || name == "delay") && !parameter.second.empty() &&
                !HasNumber(parameter.second))
                warnings.push_back("the loader reads no number in " + parameter.first + "=\"" + parameter.second +
                                   "\" and takes 0");
            continue;
        }
        std::string line = "the loader knows no launch parameter \"" + parameter.first + "\" and ignores it";
        if (closest != nullptr) line += std::string(" (did you mean ") + closest + "?)";
        warnings.push_back(line);
    }
    if (keys && !game)
        warnings.push_back("voakey without voagame: signed runs are held to the first signed game accepted in this "
                           "folder; pass voagame=<the game's cache name> to name it");
    if (!packageAddress)
        warnings.push_back("no package address (voaurl, serverdataurl or serverdata): the loader will only show its "
                           "loading screen");
    return warnings;
}

bool ParseScreenshotTime(const std::string& text, HostScreenshot& shot) {
    double value = 0.0;
    if (text.rfind("ready+", 0) == 0) {
        if (!ReadSeconds(text.c_str() + 6, value)) return false;
        shot.mTrigger = HostScreenshot::Trigger::AfterReady;
        shot.mSeconds = value;
        return true;
    }
    if (!text.empty() && text.back() == '%') {
        std::string number = text.substr(0, text.size() - 1);
        if (!ReadSeconds(number.c_str(), value) || value > 100.0) return false;
        shot.mTrigger = HostScreenshot::Trigger::Progress;
        shot.mProgress = value / 100.0;
        return true;
    }
    if (!ReadSeconds(text.c_str(), value)) return false;
    shot.mTrigger = HostScreenshot::Trigger::Seconds;
    shot.mSeconds = value;
    return true;
}

const char* HostUsageText() {
    return "usage: vexal-host [options] [name=value ...]\n"
           "  --library PATH           loader library (default: Vexal3DLoader-Flash.so beside this program,\n"
           "                           else the installed one)\n"
           "  --size WxH               window size (default 1280x720)\n"
           "  --headless               no window: the loader gets a null window\n"
           "  --fps N                  update and render rate (default 60)\n"
           "  --seconds S              stop after S seconds (default: when the window closes)\n"
           "  --until-ready            stop half a second after the progress has reached 1 and\n"
           "                           every screenshot waiting for the progress is taken\n"
           "  --run-mode N             the loader's run mode (default 0)\n"
           "  --cwd DIR                run in DIR, the module cache (created when missing)\n"
           "  --screenshot FILE@S      write a PNG of the window after S seconds (repeatable);\n"
           "                           FILE@P% when the progress first reaches P percent,\n"
           "                           FILE@ready+S S seconds after the progress reached 1\n"
           "  name=value               a launch parameter, passed in order (the value may be empty)\n"
           "exit status: 0 done; 1 the library or folder could not be used, a run with --seconds or\n"
           "--until-ready ended before the progress reached 1, or a screenshot was not written; 2 usage\n";
}

bool ParseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        std::string option = arg;
        // Options that take a value accept both "--name value" and "--name=value".
        std::string inlineValue;
        bool hasInline = false;
        if (option.rfind("--", 0) == 0) {
            size_t equals = option.find('=');
            if (equals != std::string::npos) {
                inlineValue = option.substr(equals + 1);
                option.resize(equals);
                hasInline = true;
            }
        }
        auto takeValue = [&](const char*& value) -> bool {
            if (hasInline) {
                value = argv[i] + option.size() + 1;
                return true;
            }
            if (i + 1 >= argc) {
                error = option + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        const char* value = nullptr;
        if (option == "--help" || option == "-h") {
            options.mHelp = true;
            return true;
        } else if (option == "--headless" && !hasInline) {
            options.mHeadless = true;
        } else if (option == "--until-ready" && !hasInline) {
            options.mUntilReady = true;
        } else if (option == "--library") {
            if (!takeValue(value)) return false;
            options.mLibrary = value;
            if (options.mLibrary.empty()) {
                error = "--library needs a path";
                return false;
            }
        } else if (option == "--size") {
            if (!takeValue(value)) return false;
            if (!ReadSize(value, options.mWidth, options.mHeight)) {
                error = std::string("--size expects WxH, got \"") + value + "\"";
                return false;
            }
        } else if (option == "--fps") {
            if (!takeValue(value)) return false;
            long fps = 0;
            if (!ReadInteger(value, 1, 1000, fps)) {
                error = std::string("--fps expects 1..1000, got \"") + value + "\"";
                return false;
            }
            options.mFps = int32_t(fps);
        } else if (option == "--seconds") {
            if (!takeValue(value)) return false;
            if (!ReadSeconds(value, options.mSeconds)) {
                error = std::string("--seconds expects a non-negative number, got \"") + value + "\"";
                return false;
            }
        } else if (option == "--run-mode") {
            if (!takeValue(value)) return false;
            long mode = 0;
            if (!ReadInteger(value, 0, 0xFFFFFFFFL, mode)) {
                error = std::string("--run-mode expects a number, got \"") + value + "\"";
                return false;
            }
            options.mRunMode = uint32_t(mode);
        } else if (option == "--cwd") {
            if (!takeValue(value)) return false;
            options.mWorkingDirectory = value;
            if (options.mWorkingDirectory.empty()) {
                error = "--cwd needs a folder";
                return false;
            }
        } else if (option == "--screenshot") {
            if (!takeValue(value)) return false;
            std::string text = value;
            size_t at = text.rfind('@');
            HostScreenshot shot;
            if (at == std::string::npos || at == 0 || !ParseScreenshotTime(text.substr(at + 1), shot)) {
                error = "--screenshot expects FILE@SECONDS, FILE@P% or FILE@ready+SECONDS, got \"" + text + "\"";
                return false;
            }
            shot.mPath = text.substr(0, at);
            options.mScreenshots.push_back(shot);
        } else if (option.rfind("-", 0) == 0) {
            error = "unknown option " + option;
            return false;
        } else {
            const char* equals = strchr(arg, '=');
            if (equals == nullptr || equals == arg) {
                error = std::string("a launch parameter is written name=value, got \"") + arg + "\"";
                return false;
            }
            options.mParameters.emplace_back(std::string(arg, size_t(equals - arg)), std::string(equals + 1));
        }
    }
    return true;
}
