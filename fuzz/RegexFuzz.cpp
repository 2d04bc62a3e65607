// Regular expressions: any pattern with any flags compiled and searched over a text, match by
// match; then the same through the pattern search the server-data reader uses. Every search is
// bounded in steps, as the server-data reader bounds its own, so a pattern that backtracks
// without end ends at the bound instead.
#include <vector>

#include "FuzzSupport.h"
#include "regex/PatternSearch.h"
#include "regex/RegexPattern.h"

namespace {

constexpr int32_t kMaxPatternUnits = 64;
constexpr int32_t kMaxTextUnits = 256;
constexpr int64_t kStepLimit = 200000;

void CheckMatch(const RegexPattern& pattern, const RegexMatch& match, int32_t textLength) {
    FUZZ_CHECK(match.GetGroupCount() == pattern.GetHighestGroup() + 1);
    for (int32_t group = 0; group < match.GetGroupCount(); ++group) {
        const int32_t start = match.GetGroupStart(group), end = match.GetGroupEnd(group);
        if (group == 0 || start != -1 || end != -1) {
            FUZZ_CHECK(start >= 0 && start <= end && end <= textLength);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size < 2) return -1;
    const int32_t flags = data[0] & 0x3F;
    std::vector<WideChar> units = WideUnits(data + 2, size - 2);
    const int32_t unitCount = int32_t((size - 2) / 2);
    const int32_t patternLength = unitCount < data[1] % (kMaxPatternUnits + 1) ? unitCount : data[1] % (kMaxPatternUnits + 1);
    const int32_t textLength = unitCount - patternLength;
    if (textLength > kMaxTextUnits) return -1;
    // Exact-size copies without terminators: reading past a count is caught.
    const std::vector<WideChar> patternCopy(units.begin(), units.begin() + patternLength);
    const std::vector<WideChar> textCopy(units.begin() + patternLength, units.begin() + unitCount);
    const WideChar* patternText = patternLength > 0 ? patternCopy.data() : u"";
    const WideChar* text = textLength > 0 ? textCopy.data() : u"";

    // Counted pattern: the units after it are not read.
    RegexPattern pattern;
    FUZZ_CHECK(pattern.Compile(patternText, flags, patternLength));
    RegexSearchState state = pattern.BeginSearch(text, textLength);
    state.SetStepLimit(kStepLimit);
    for (int32_t found = 0; found <= textLength + 1; ++found) {
        const RegexMatch match = pattern.FindNext(state);
        if (!match.IsMatched()) break;
        CheckMatch(pattern, match, textLength);
        FUZZ_CHECK(found < textLength + 1);
    }
    // A search from a given start, and from past the end.
    const int32_t from = textLength > 0 ? data[1] % (textLength + 2) : 0;
    RegexSearchState fromState = pattern.BeginSearch(text, textLength, from);
    fromState.SetStepLimit(kStepLimit);
    const RegexMatch fromMatch = pattern.FindNext(fromState);
    if (fromMatch.IsMatched()) {
        CheckMatch(pattern, fromMatch, textLength);
        if ((flags & FlagRightToLeft) == 0) FUZZ_CHECK(fromMatch.GetStart() >= from);
    }

    // The server-data reader's way: a String pattern, first match or all matches.
    PatternSearch search((flags & FlagIgnoreCase) != 0 ? PatternSearch::OptionIgnoreCase : 0);
    FUZZ_CHECK(search.Compile(String(patternText, patternLength)));
    search.SetStepLimit(kStepLimit);
    int32_t starts[8], ends[8];
    const int32_t count = search.Search(text, textLength, starts, ends, 8, (data[0] & 0x40) != 0);
    FUZZ_CHECK(count >= 0 && count <= 8);
    for (int32_t i = 0; i < count; ++i) {
        FUZZ_CHECK(starts[i] >= 0 && starts[i] <= ends[i] && ends[i] <= textLength);
        if (i > 0) FUZZ_CHECK(starts[i] >= ends[i - 1]);
    }
    return 0;
}
