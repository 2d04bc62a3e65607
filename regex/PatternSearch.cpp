// Pattern search over the regular-expression engine.
#include "regex/PatternSearch.h"

#include <new>
#include "regex/RegexPattern.h"

PatternSearch::PatternSearch(uint32_t options) : mPattern(_null), mOptions(options) {}

PatternSearch::~PatternSearch() { delete mPattern; }

bool PatternSearch::Compile(const String& pattern) {
    delete mPattern;
    mPattern = new (std::nothrow) RegexPattern();
    if (!mPattern) return false;
    int32_t flags = (mOptions & OptionIgnoreCase) ? FlagIgnoreCase : FlagNone;
    if (!mPattern->Compile(pattern.Data(), flags, pattern.GetLength())) {
        delete mPattern;
        mPattern = _null;
        return false;
    }
    return true;
}

int32_t PatternSearch::Search(const String& text, int32_t* starts, int32_t* ends, int32_t capacity,
                              bool findAll) const {
    return Search(text.Data(), text.GetLength(), starts, ends, capacity, findAll);
}

int32_t PatternSearch::Search(const WideChar* text, int32_t length, int32_t* starts, int32_t* ends,
                              int32_t capacity, bool findAll) const {
    mStopped = false;
    // Without room for a match nothing is searched: the arrays are never written past capacity.
    if (!mPattern || !starts || !ends || capacity <= 0) return 0;
    RegexSearchState state = mPattern->BeginSearch(text, length, -1);
    state.SetStepLimit(mStepLimit);
    int32_t count = 0;
    while (count < capacity) {
        RegexMatch match = mPattern->FindNext(state);
        if (!match.IsMatched() || match.GetStart() < 0 || match.GetEnd() < 0) break;
        starts[count] = match.GetStart();
        ends[count] = match.GetEnd();
        ++count;
        if (!findAll) break;
    }
    mStopped = state.IsStepLimitReached();
    return count;
}
