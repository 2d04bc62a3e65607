// Compiling a pattern and running searches over a text.
#include "regex/RegexPattern.h"

#include <cstring>
#include "regex/RegexElements.h"
#include "regex/RegexParser.h"

RegexPattern::RegexPattern() : mRoot(_null), mFlags(FlagNone), mHighestGroup(0), mTooDeep(false) {
    for (ElxInterface*& cached : mClassCache) cached = _null;
}

RegexPattern::RegexPattern(const WideChar* pattern, int32_t flags, int32_t length) : RegexPattern() {
    Compile(pattern, flags, length);
}

RegexPattern::~RegexPattern() { Clear(); }

void RegexPattern::Clear() {
    // Elements are freed from the flat list, never by walking the tree.
    for (int32_t i = 0; i < mElements.GetCount(); ++i) delete mElements[i];
    mElements.Release();
    mGroups.Release();
    mLeadingLiteral.Release();
    for (ElxInterface*& cached : mClassCache) cached = _null;
    mRoot = _null;
    mFlags = FlagNone;
    mHighestGroup = 0;
    mTooDeep = false;
}

bool RegexPattern::Compile(const WideChar* pattern, int32_t flags, int32_t length) {
    Clear();
    if (!pattern) return false;
    if (length < 0) {
        length = 0;
        while (pattern[length]) ++length;
    }
    mFlags = flags;
    RegexParser parser(*this, pattern, length, flags);
    ElxInterface* root = parser.Parse();
    if (!root) {
        Clear();
        return false;
    }
    mRoot = root;
    FindLeadingLiteral();
    return true;
}

// When every match must begin with a case-sensitive literal, searches skip straight to its
// occurrences instead of trying the whole pattern at every position.
void RegexPattern::FindLeadingLiteral() {
    if (mFlags & FlagRightToLeft) return;
    const ElxInterface* first = mRoot;
    if (const CListElxT* list = dynamic_cast<const CListElxT*>(first)) {
        if (list->IsRightToLeft() || list->GetChildren().GetCount() == 0) return;
        first = list->GetChildren()[0];
    }
    const CStringElxT* literal = dynamic_cast<const CStringElxT*>(first);
    if (!literal || literal->IsRightToLeft() || literal->IsIgnoreCase()) return;
    if (!mLeadingLiteral.Append(literal->GetText().GetData(), literal->GetText().GetCount()))
        mLeadingLiteral.Release();
}

// The first position at or after from where the leading literal occurs; -1 when none.
int32_t RegexPattern::FindLiteral(const CBufferRefT<WideChar>& text, int32_t from) const {
    const WideChar* literal = mLeadingLiteral.GetData();
    int32_t length = mLeadingLiteral.GetCount();
    const WideChar* data = text.GetData();
    int32_t last = text.GetCount() - length;
    WideChar head = literal[0];
    for (int32_t at = from; at <= last; ++at) {
        if (data[at] != head) continue;
        if (std::memcmp(data + at + 1, literal + 1, size_t(length - 1) * sizeof(WideChar)) == 0) return at;
    }
    return -1;
}

RegexSearchState RegexPattern::BeginSearch(const WideChar* text, int32_t length, int32_t start) const {
    RegexSearchState state;
    if (!text || length < 0) length = 0;
    state.mText = CBufferRefT<WideChar>(text, length);
    bool rightToLeft = (mFlags & FlagRightToLeft) != 0;
    if (start < 0) start = rightToLeft ? length : 0;
    if (start > length) start = rightToLeft ? length : length + 1;
    state.mNextStart = start;
    state.mSearchStart = start;
    state.mCursor = start;
    return state;
}

RegexMatch RegexPattern::FindNext(RegexSearchState& state) const {
    RegexMatch result;
    bool rightToLeft = (mFlags & FlagRightToLeft) != 0;
    int32_t length = state.mText.GetCount();
    int32_t step = rightToLeft ? -1 : 1;
    int32_t stop = rightToLeft ? -1 : length + 1;
    int32_t cursor = state.mNextStart;
    if (!mRoot || cursor < -1 || cursor > length + 1) {
        state.mNextStart = stop;
        return result;
    }
    state.mSearchStart = cursor;
    bool leading = mLeadingLiteral.GetCount() > 0;
    while (cursor != stop) {
        if (leading) {
            cursor = FindLiteral(state.mText, cursor);
            if (cursor < 0) break;
        }
        state.ResetAttempt(mHighestGroup);
        state.CountSteps(1);
        if (state.mAbort) break;
        state.mCursor = cursor;
        state.OpenGroup(0);
        bool matched = !state.mAbort && mRoot->TryMatch(state);
        if (state.mAbort) break; // a stack could not grow: the search ends without a match
        if (matched) {
            state.CloseGroup(0);
            int32_t end = state.mCursor;
            // The next search starts past this one: at its end when the match went the search's
            // way, else (an empty match, or one a recursion or conditional ended behind its
            // start) one step on, so that no search repeats a match or stalls.
            const bool advanced = rightToLeft ? end < cursor : end > cursor;
            state.mNextStart = advanced ? end : cursor + step;
            CBufferT<int32_t>& values = result.GetValues();
            if (!values.Resize(2 + 2 * (mHighestGroup + 1), -1)) return RegexMatch();
            values[0] = 1;
            values[1] = mHighestGroup;
            for (int32_t group = 0; group <= mHighestGroup; ++group) {
                int32_t start, finish;
                if (state.GetGroupSpan(group, start, finish)) {
                    values[2 + 2 * group] = start;
                    values[3 + 2 * group] = finish;
                }
            }
            return result;
        }
        cursor += step;
    }
    state.mNextStart = stop;
    state.mStack.Clear();
    state.mJournal.Clear();
    return result;
}

RegexMatch RegexPattern::Match(const WideChar* text, int32_t length, int32_t start) const {
    RegexSearchState state = BeginSearch(text, length, start);
    return FindNext(state);
}
