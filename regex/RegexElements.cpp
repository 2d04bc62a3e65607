// The elements that test characters: empty, literal runs, classes, anchors, \G, back-references.
#include "regex/RegexElements.h"

#include <cwctype>

namespace {

WideChar UpperCase(WideChar unit) {
    return WideChar(std::towupper(wint_t(unit)));
}

WideChar LowerCase(WideChar unit) {
    return WideChar(std::towlower(wint_t(unit)));
}

bool IsWordUnit(WideChar unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9') ||
           unit == u'_';
}

// A one-unit element at the cursor: the unit after it (left-to-right) or before it.
template <typename Test>
bool MatchOne(RegexSearchState& state, bool rightToLeft, const Test& test) {
    int32_t position = state.mCursor;
    if (rightToLeft) {
        if (position <= 0 || position > state.mText.GetCount() || !test(state.mText[position - 1])) return false;
        state.mCursor = position - 1;
    } else {
        if (position < 0 || position >= state.mText.GetCount() || !test(state.mText[position])) return false;
        state.mCursor = position + 1;
    }
    return true;
}

} // namespace

// ---- empty ----

bool CEmptyElxT::TryMatch(RegexSearchState&) const { return true; }
bool CEmptyElxT::Backtrack(RegexSearchState&) const { return false; }

// ---- literal run ----

CStringElxT::CStringElxT(const WideChar* text, int32_t length, bool rightToLeft, bool ignoreCase)
    : mRightToLeft(rightToLeft), mIgnoreCase(ignoreCase) {
    if (mText.Append(text, length) && ignoreCase)
        for (int32_t i = 0; i < mText.GetCount(); ++i) mText[i] = UpperCase(mText[i]);
    mFixedWidth = length;
}

bool CStringElxT::TryMatch(RegexSearchState& state) const {
    int32_t length = mText.GetCount();
    int32_t from = mRightToLeft ? state.mCursor - length : state.mCursor;
    if (from < 0 || from > state.mText.GetCount() - length) return false;
    const WideChar* text = state.mText.GetData() + from;
    const WideChar* literal = mText.GetData();
    if (mIgnoreCase) {
        for (int32_t i = 0; i < length; ++i)
            if (text[i] != literal[i] && UpperCase(text[i]) != literal[i]) return false;
    } else {
        for (int32_t i = 0; i < length; ++i)
            if (text[i] != literal[i]) return false;
    }
    state.mCursor = mRightToLeft ? from : from + length;
    return true;
}

bool CStringElxT::Backtrack(RegexSearchState& state) const {
    state.mCursor += mRightToLeft ? mText.GetCount() : -mText.GetCount();
    return false;
}

// ---- POSIX class ----

namespace {

enum PosixKind {
    PosixUnknown = -1,
    PosixAlnum,
    PosixAlpha,
    PosixAscii,
    PosixBlank,
    PosixCntrl,
    PosixDigit,
    PosixGraph,
    PosixLower,
    PosixPrint,
    PosixPunct,
    PosixSpace,
    PosixUpper,
    PosixXdigit
};

const char* const kPosixNames[] = {"alnum", "alpha", "ascii", "blank", "cntrl", "digit", "graph",
                                   "lower", "print", "punct", "space", "upper", "xdigit"};

} // namespace

CPosixElxT::CPosixElxT(const WideChar* name, int32_t length, bool negated, bool rightToLeft)
    : mKind(PosixUnknown), mNegated(negated), mRightToLeft(rightToLeft) {
    mFixedWidth = 1;
    for (int32_t kind = 0; kind < int32_t(sizeof kPosixNames / sizeof kPosixNames[0]); ++kind) {
        const char* candidate = kPosixNames[kind];
        int32_t i = 0;
        while (i < length && candidate[i] && name[i] == WideChar(candidate[i])) ++i;
        if (i == length && !candidate[i]) {
            mKind = kind;
            break;
        }
    }
}

bool CPosixElxT::Contains(WideChar unit) const {
    wint_t c = wint_t(unit);
    bool in;
    switch (mKind) {
    case PosixAlnum: in = std::iswalnum(c); break;
    case PosixAlpha: in = std::iswalpha(c); break;
    case PosixAscii: in = unit < 128; break;
    case PosixBlank: in = unit == u' ' || unit == 9; break;
    case PosixCntrl: in = std::iswcntrl(c); break;
    case PosixDigit: in = std::iswdigit(c); break;
    case PosixGraph: in = std::iswgraph(c); break;
    case PosixLower: in = std::iswlower(c); break;
    case PosixPrint: in = std::iswprint(c); break;
    case PosixPunct: in = std::iswpunct(c); break;
    case PosixSpace: in = std::iswspace(c); break;
    case PosixUpper: in = std::iswupper(c); break;
    case PosixXdigit: in = std::iswxdigit(c); break;
    default: return false;
    }
    return in != mNegated;
}

bool CPosixElxT::TryMatch(RegexSearchState& state) const {
    return MatchOne(state, mRightToLeft, [this](WideChar unit) { return Contains(unit); });
}

bool CPosixElxT::Backtrack(RegexSearchState& state) const {
    state.mCursor += mRightToLeft ? 1 : -1;
    return false;
}

// ---- character class ----

CRangeElxT::CRangeElxT(bool negated, bool rightToLeft) : mNegated(negated), mRightToLeft(rightToLeft) {
    mFixedWidth = 1;
}

bool CRangeElxT::AddRange(WideChar low, WideChar high) { return mRanges.Push(low) && mRanges.Push(high); }
bool CRangeElxT::AddChar(WideChar unit) { return mChars.Push(unit); }
bool CRangeElxT::AddNested(const CRangeElxT* nested) { return mNestedRanges.Push(nested); }
bool CRangeElxT::AddNested(const CPosixElxT* nested) { return mNestedPosix.Push(nested); }

bool CRangeElxT::ContainsDirect(WideChar unit) const {
    for (int32_t i = 0; i < mRanges.GetCount(); i += 2)
        if (unit >= mRanges[i] && unit <= mRanges[i + 1]) return true;
    for (int32_t i = 0; i < mChars.GetCount(); ++i)
        if (unit == mChars[i]) return true;
    return false;
}

bool CRangeElxT::Contains(WideChar unit) const {
    bool in = ContainsDirect(unit);
    for (int32_t i = 0; !in && i < mNestedRanges.GetCount(); ++i) in = mNestedRanges[i]->Contains(unit);
    for (int32_t i = 0; !in && i < mNestedPosix.GetCount(); ++i) in = mNestedPosix[i]->Contains(unit);
    return in != mNegated;
}

bool CRangeElxT::WidenCase() {
    int32_t ranges = mRanges.GetCount();
    for (int32_t i = 0; i < ranges; i += 2) {
        WideChar low = mRanges[i], high = mRanges[i + 1];
        // The part overlapping A-Z maps to a-z and the other way round (a distance of 32).
        const WideChar bounds[2][2] = {{u'A', u'Z'}, {u'a', u'z'}};
        for (int32_t side = 0; side < 2; ++side) {
            WideChar from = low > bounds[side][0] ? low : bounds[side][0];
            WideChar to = high < bounds[side][1] ? high : bounds[side][1];
            if (from > to) continue;
            WideChar mappedFrom = side == 0 ? WideChar(from + 32) : WideChar(from - 32);
            WideChar mappedTo = side == 0 ? WideChar(to + 32) : WideChar(to - 32);
            bool covered = false;
            for (int32_t j = 0; j < mRanges.GetCount() && !covered; j += 2)
                covered = mappedFrom >= mRanges[j] && mappedTo <= mRanges[j + 1];
            if (!covered && !AddRange(mappedFrom, mappedTo)) return false;
        }
    }
    int32_t chars = mChars.GetCount();
    for (int32_t i = 0; i < chars; ++i) {
        WideChar unit = mChars[i];
        WideChar partner = UpperCase(unit);
        if (partner == unit) partner = LowerCase(unit);
        if (partner != unit && !ContainsDirect(partner) && !AddChar(partner)) return false;
    }
    return true;
}

bool CRangeElxT::TryMatch(RegexSearchState& state) const {
    return MatchOne(state, mRightToLeft, [this](WideChar unit) { return Contains(unit); });
}

bool CRangeElxT::Backtrack(RegexSearchState& state) const {
    state.mCursor += mRightToLeft ? 1 : -1;
    return false;
}

// ---- anchors ----

CBoundaryElxT::CBoundaryElxT(Kind kind, bool negated, bool multiLine)
    : mKind(kind), mNegated(negated), mMultiLine(multiLine) {
    mFixedWidth = 0;
}

bool CBoundaryElxT::Test(const RegexSearchState& state) const {
    const CBufferRefT<WideChar>& text = state.mText;
    int32_t length = text.GetCount();
    int32_t at = state.mCursor;
    if (at < 0 || at > length) return false;
    switch (mKind) {
    case LineStart:
        if (at == 0) return true;
        if (!mMultiLine) return false;
        return text[at - 1] == 10 || (text[at - 1] == 13 && (at == length || text[at] != 10));
    case LineEnd:
        if (at == length) return true;
        if (!mMultiLine) return false;
        return text[at] == 13 || (text[at] == 10 && (at == 0 || text[at - 1] != 13));
    case TextStart:
        return at == 0;
    case TextEnd:
        return at == length;
    case TextEndOrFinalBreak:
        return at == length || (at == length - 1 && text[at] == 10) ||
               (at == length - 2 && text[at] == 13 && text[at + 1] == 10);
    case WordBoundary: {
        bool before = at > 0 && IsWordUnit(text[at - 1]);
        bool after = at < length && IsWordUnit(text[at]);
        return before != after;
    }
    }
    return false;
}

bool CBoundaryElxT::TryMatch(RegexSearchState& state) const { return Test(state) != mNegated; }
bool CBoundaryElxT::Backtrack(RegexSearchState&) const { return false; }

// ---- \G ----

bool CGlobalElxT::TryMatch(RegexSearchState& state) const { return state.mCursor == state.mSearchStart; }
bool CGlobalElxT::Backtrack(RegexSearchState&) const { return false; }

// ---- back-reference ----

bool CBackrefElxT::TryMatch(RegexSearchState& state) const {
    int32_t start, end;
    if (mNumber < 0 || !state.GetGroupSpan(mNumber, start, end)) return false;
    int32_t length = end - start;
    int32_t from = mRightToLeft ? state.mCursor - length : state.mCursor;
    if (from < 0 || from > state.mText.GetCount() - length) return false;
    const WideChar* text = state.mText.GetData();
    for (int32_t i = 0; i < length; ++i) {
        WideChar a = text[from + i], b = text[start + i];
        if (a != b && (!mIgnoreCase || UpperCase(a) != UpperCase(b))) return false;
    }
    state.mCursor = mRightToLeft ? from : from + length;
    state.Push(length);
    return true;
}

bool CBackrefElxT::Backtrack(RegexSearchState& state) const {
    if (state.mAbort) return false;
    int32_t length = state.Pop();
    state.mCursor += mRightToLeft ? length : -length;
    return false;
}
