// Helpers for the regex tests: matches written as "start,end start,end ..." per match.
#pragma once

#include <string>
#include "regex/RegexPattern.h"

namespace RegexTest {

inline std::string Spans(const RegexMatch& match) {
    std::string text;
    for (int32_t group = 0; group < match.GetGroupCount(); ++group) {
        if (group) text += ' ';
        text += std::to_string(match.GetGroupStart(group)) + "," + std::to_string(match.GetGroupEnd(group));
    }
    return text;
}

// The first match ("" without one), or every match of repeated FindNext calls joined by "|".
inline std::string Find(const std::u16string& pattern, const std::u16string& text, int32_t flags = FlagNone,
                        bool all = false, int32_t start = -1) {
    RegexPattern regex;
    regex.Compile(pattern.c_str(), flags, int32_t(pattern.size()));
    RegexSearchState state = regex.BeginSearch(text.data(), int32_t(text.size()), start);
    std::string result;
    for (int guard = 0; guard < 10000; ++guard) {
        RegexMatch match = regex.FindNext(state);
        if (!match.IsMatched()) break;
        if (guard) result += '|';
        result += Spans(match);
        if (!all) break;
    }
    return result;
}

inline std::string FindAll(const std::u16string& pattern, const std::u16string& text, int32_t flags = FlagNone) {
    return Find(pattern, text, flags, true);
}

} // namespace RegexTest
