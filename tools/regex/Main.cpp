// vexal-regex: matches a pattern against a UTF-8 text and prints the spans of every group.
//
//   vexal-regex [-i] [-s] [-m] [-x] [-r] [-g] [-a] PATTERN [FILE]
//
// One line per match: "start,end" for groups 0 to the highest, separated by single spaces,
// "-1,-1" for a group that took no part; positions count UTF-16 units. Without FILE the text is
// read from standard input. Exit status: 0 with a match, 1 without, 2 on a usage error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "regex/RegexPattern.h"
#include "tools/regex/Utf8Text.h"

namespace {

const char kUsage[] =
    "usage: vexal-regex [-i] [-s] [-m] [-x] [-r] [-g] [-a] PATTERN [FILE]\n"
    "  -i ignore case   -s dot matches newline   -m ^ and $ at line breaks\n"
    "  -x extended (blanks ignored, # comments)   -r right to left   -g \\G active\n"
    "  -a every match (default: the first)\n";

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "vexal-regex: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

// Asked for with -h or --help: the usage text is the answer, not an error.
int Help() {
    std::fputs(kUsage, stdout);
    return 0;
}

bool ReadAll(std::FILE* file, std::string& text) {
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    return !std::ferror(file);
}

void PrintMatch(const RegexMatch& match) {
    std::string line;
    char span[32];
    for (int32_t group = 0; group < match.GetGroupCount(); ++group) {
        std::snprintf(span, sizeof span, "%s%d,%d", group ? " " : "", int(match.GetGroupStart(group)),
                      int(match.GetGroupEnd(group)));
        line += span;
    }
    line += '\n';
    std::fputs(line.c_str(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    int32_t flags = FlagNone;
    bool all = false;
    int index = 1;
    for (; index < argc && argv[index][0] == '-' && argv[index][1]; ++index) {
        if (std::strcmp(argv[index], "--") == 0) {
            ++index;
            break;
        }
        if (std::strcmp(argv[index], "--help") == 0) return Help();
        for (const char* letter = argv[index] + 1; *letter; ++letter) {
            switch (*letter) {
            case 'i': flags |= FlagIgnoreCase; break;
            case 's': flags |= FlagDotAll; break;
            case 'm': flags |= FlagMultiLine; break;
            case 'x': flags |= FlagExtended; break;
            case 'r': flags |= FlagRightToLeft; break;
            case 'g': flags |= FlagContinue; break;
            case 'a': all = true; break;
            case 'h': return Help();
            default: {
                std::string problem = std::string("unknown option -") + *letter;
                return Usage(problem.c_str());
            }
            }
        }
    }
    if (index >= argc) return Usage("missing PATTERN");
    if (argc - index > 2) return Usage("too many arguments");
    std::u16string pattern = DecodeUtf8(argv[index]);

    std::string bytes;
    if (argc - index == 2) {
        std::FILE* file = std::fopen(argv[index + 1], "rb");
        if (!file) {
            std::fprintf(stderr, "vexal-regex: cannot open %s: %s\n", argv[index + 1], std::strerror(errno));
            return 2;
        }
        bool read = ReadAll(file, bytes);
        std::fclose(file);
        if (!read) {
            std::fprintf(stderr, "vexal-regex: cannot read %s\n", argv[index + 1]);
            return 2;
        }
    } else if (!ReadAll(stdin, bytes)) {
        std::fputs("vexal-regex: cannot read standard input\n", stderr);
        return 2;
    }
    std::u16string text = DecodeUtf8(bytes);
    if (text.size() > 0x7FFFFFF0u) {
        std::fputs("vexal-regex: text too large\n", stderr);
        return 2;
    }

    RegexPattern regex;
    regex.Compile(pattern.data(), flags, int32_t(pattern.size()));
    RegexSearchState state = regex.BeginSearch(text.data(), int32_t(text.size()), -1);
    int found = 0;
    for (;;) {
        RegexMatch match = regex.FindNext(state);
        if (!match.IsMatched()) break;
        PrintMatch(match);
        ++found;
        if (!all) break;
    }
    return found ? 0 : 1;
}
