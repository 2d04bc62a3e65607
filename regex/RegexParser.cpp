// Pattern tokenizer and recursive-descent parser.
#include "regex/RegexParser.h"

#include <cwctype>
#include <new>

namespace {

const int32_t kInfinite = 0x7FFFFFFF;
// Group numbers written in the pattern (names made of digits) above this are plain names, so a
// pattern cannot make every search allocate a huge group table.
const int32_t kMaxGroupNumber = 0xFFFF;
// The recursion budget counted in nested group levels: deep patterns recurse less deeply, so
// the native nesting of a match stays bounded.
const int32_t kNestingBudget = 2000;

// Stands in for an element that could not be allocated; the pattern is then cleared.
CEmptyElxT gFallback;

bool IsSpace(WideChar c) { return c == u' ' || (c >= 9 && c <= 13); }
bool IsDigit(WideChar c) { return c >= u'0' && c <= u'9'; }
bool IsLetter(WideChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

int32_t HexValue(WideChar c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool IsSpecialOutside(WideChar c) {
    switch (c) {
    case u'$':
    case u'(':
    case u')':
    case u'*':
    case u'+':
    case u'.':
    case u'?':
    case u'[':
    case u'^':
    case u'{':
    case u'|':
    case u'}':
        return true;
    default:
        return false;
    }
}

WideChar FoldAscii(WideChar c) { return c >= u'a' && c <= u'z' ? WideChar(c - 32) : c; }

} // namespace

RegexParser::RegexParser(RegexPattern& pattern, const WideChar* text, int32_t length, int32_t flags)
    : mPattern(pattern), mText(text), mLength(length), mPos(0), mQuote(QuoteNone), mCompileFlags(flags),
      mFlags(flags & (FlagDotAll | FlagMultiLine | FlagContinue | FlagIgnoreCase)),
      mRightToLeft((flags & FlagRightToLeft) != 0), mDepth(0), mMaxDepth(0), mGroupCount(0),
      mOutOfMemory(false) {}

template <typename T, typename... Args>
T* RegexParser::Make(Args&&... args) {
    T* element = new (std::nothrow) T(static_cast<Args&&>(args)...);
    if (!element || !mPattern.mElements.Push(element)) {
        delete element;
        mOutOfMemory = true;
        return _null;
    }
    return element;
}

ElxInterface* RegexParser::Empty() { return Cached(-1, false); }

ElxInterface* RegexParser::Cached(int32_t kind, bool rightToLeft) {
    int32_t index = kind < 0 ? 0 : 1 + 2 * kind + (rightToLeft ? 1 : 0);
    if (mPattern.mClassCache[index]) return mPattern.mClassCache[index];
    ElxInterface* element;
    if (kind < 0) {
        element = Make<CEmptyElxT>();
    } else {
        bool negated = kind == ClassDotAll || kind == ClassDot || kind == ClassNotWord || kind == ClassNotSpace ||
                       kind == ClassNotDigit;
        CRangeElxT* range = Make<CRangeElxT>(negated, rightToLeft);
        bool built = range != _null;
        if (built) {
            switch (kind) {
            case ClassDot: built = range->AddChar(10); break;
            case ClassWord:
            case ClassNotWord:
                built = range->AddRange(u'A', u'Z') && range->AddRange(u'a', u'z') &&
                        range->AddRange(u'0', u'9') && range->AddChar(u'_');
                break;
            case ClassSpace:
            case ClassNotSpace:
                built = range->AddRange(9, 13) && range->AddChar(u' ');
                break;
            case ClassDigit:
            case ClassNotDigit: built = range->AddRange(u'0', u'9'); break;
            default: break;
            }
        }
        if (!built) mOutOfMemory = true;
        element = range;
    }
    if (!element) return &gFallback;
    mPattern.mClassCache[index] = element;
    return element;
}

// ---------------------------------------------------------------- tokenizer

RegexParser::Token RegexParser::Read(bool inClass) {
    for (;;) {
        Token token;
        token.pos = mPos;
        if (mPos >= mLength) return token;
        WideChar c = mText[mPos];
        if (mQuote != QuoteNone) {
            if (c == u'\\' && At(mPos + 1) == u'E') {
                mQuote = QuoteNone;
                mPos += 2;
                continue;
            }
            if (mQuote == QuoteLower) c = WideChar(std::towlower(wint_t(c)));
            if (mQuote == QuoteUpper) c = WideChar(std::towupper(wint_t(c)));
            token.ch = c;
            token.special = false;
            token.len = 1;
            ++mPos;
            return token;
        }
        if (!inClass && (mCompileFlags & FlagExtended)) {
            if (IsSpace(c)) {
                ++mPos;
                continue;
            }
            if (c == u'#') {
                while (mPos < mLength && mText[mPos] != 10) ++mPos;
                continue;
            }
        }
        if (c == u'\\') {
            if (ReadEscape(inClass, token)) return token;
            continue;
        }
        token.ch = c;
        token.len = 1;
        ++mPos;
        token.special = inClass ? (c == u']' || c == u'-' || (c == u'[' && At(mPos) == u':')) : IsSpecialOutside(c);
        return token;
    }
}

RegexParser::Token RegexParser::Peek(bool inClass) {
    Mark mark = Save();
    Token token = Read(inClass);
    Restore(mark);
    return token;
}

// Reads up to maxDigits hex digits at the position (or up to 8 between braces). False, with
// nothing read, when there is no digit.
bool RegexParser::ReadHex(int32_t maxDigits, int32_t& value) {
    value = 0;
    if (At(mPos) == u'{') {
        int32_t at = mPos + 1, digits = 0;
        uint32_t result = 0;
        while (digits < 8 && HexValue(At(at)) >= 0) result = result * 16 + uint32_t(HexValue(At(at++))), ++digits;
        if (digits == 0 || At(at) != u'}') return false;
        mPos = at + 1;
        value = int32_t(result & 0xFFFF);
        return true;
    }
    int32_t digits = 0;
    while (digits < maxDigits && HexValue(At(mPos)) >= 0) value = value * 16 + HexValue(At(mPos++)), ++digits;
    return digits > 0;
}

// The position after a name that ends with close, or -1 when the pattern ends first.
int32_t RegexParser::ScanName(int32_t from, WideChar close) const {
    for (int32_t at = from; at < mLength; ++at)
        if (mText[at] == close) return at;
    return -1;
}

// Reads the escape at the backslash. False when it yields no token (quote switches, \E, \G in a
// class).
bool RegexParser::ReadEscape(bool inClass, Token& token) {
    token.pos = mPos;
    if (mPos + 1 >= mLength) {
        token.ch = u'\\';
        token.special = false;
        token.len = 1;
        ++mPos;
        return true;
    }
    WideChar e = mText[mPos + 1];
    mPos += 2;
    token.ch = e;
    token.special = false;
    token.len = 2;
    switch (e) {
    case u'a': token.ch = 7; break;
    case u'e': token.ch = 27; break;
    case u'f': token.ch = 12; break;
    case u'n': token.ch = 10; break;
    case u'r': token.ch = 13; break;
    case u't': token.ch = 9; break;
    case u'v': token.ch = 11; break;
    case u'b':
        if (inClass)
            token.ch = 8;
        else
            token.special = token.escape = true;
        break;
    case u'B':
    case u'A':
    case u'z':
    case u'Z':
        if (!inClass) token.special = token.escape = true;
        break;
    case u'G':
        if (inClass) return false;
        token.special = token.escape = true;
        break;
    case u'd':
    case u'D':
    case u'w':
    case u'W':
    case u's':
    case u'S':
        token.special = token.escape = true;
        break;
    case u'x':
    case u'u': {
        int32_t value;
        if (ReadHex(e == u'x' ? 2 : 4, value)) token.ch = WideChar(value);
        break;
    }
    case u'Q': mQuote = QuoteLiteral; return false;
    case u'L': mQuote = QuoteLower; return false;
    case u'U': mQuote = QuoteUpper; return false;
    case u'E': return false;
    case u'k':
    case u'g': {
        if (inClass) break;
        WideChar open = At(mPos);
        if (open == u'<' || open == u'\'') {
            int32_t close = ReadNameReference(mPos, token.nameStart, token.nameLength, token.value);
            if (close < 0) break;
            token.special = token.escape = true;
            token.ch = u'k';
            mPos = close + 1;
        } else if (IsDigit(open)) {
            token.special = token.escape = true;
            token.ch = u'k';
            for (int32_t digits = 0; digits < 3 && IsDigit(At(mPos)); ++digits)
                token.value = token.value * 10 + (mText[mPos++] - u'0');
        }
        break;
    }
    default:
        if (IsDigit(e) && !inClass) {
            token.special = token.escape = true;
            token.ch = u'k';
            token.value = e - u'0';
            for (int32_t digits = 1; digits < 3 && IsDigit(At(mPos)); ++digits)
                token.value = token.value * 10 + (mText[mPos++] - u'0');
        }
        break;
    }
    token.len = mPos - token.pos;
    return true;
}

// A counted repetition {n}, {n,}, {n,m} (numbers of at most 6 digits, spaces around them; a
// brace without a leading number gives 0, 0) starting at the brace. False when the text there is
// not one: the brace is then a literal.
bool RegexParser::ReadBrace(int32_t position, int32_t& minimum, int32_t& maximum, int32_t& end) const {
    int32_t at = position + 1;
    auto skipBlanks = [&]() { while (At(at) == u' ' || At(at) == u'\t') ++at; };
    auto number = [&](int32_t& value) {
        int32_t digits = 0;
        value = 0;
        while (IsDigit(At(at))) {
            if (++digits > 6) return -1;
            value = value * 10 + (mText[at++] - u'0');
        }
        return digits;
    };
    skipBlanks();
    int32_t low, high;
    int32_t lowDigits = number(low);
    if (lowDigits < 0) return false;
    skipBlanks();
    if (At(at) == u'}') {
        minimum = maximum = lowDigits ? low : 0;
    } else if (At(at) == u',') {
        ++at;
        skipBlanks();
        int32_t highDigits = number(high);
        if (highDigits < 0) return false;
        skipBlanks();
        if (At(at) != u'}') return false;
        if (!lowDigits) {
            minimum = maximum = 0;
        } else {
            minimum = low;
            maximum = highDigits ? (high < low ? low : high) : kInfinite;
        }
    } else {
        return false;
    }
    end = at + 1;
    return true;
}

bool RegexParser::IsQuantifier(const Token& token) const {
    if (!token.special || token.escape) return false;
    if (token.ch == u'*' || token.ch == u'+' || token.ch == u'?') return true;
    int32_t minimum, maximum, end;
    return token.ch == u'{' && ReadBrace(token.pos, minimum, maximum, end);
}

// ---------------------------------------------------------------- parser

ElxInterface* RegexParser::Parse() {
    ElxInterface* root = ParseAlternative();
    // Only a stray ')' at the top can stop the parse early; it is a literal there, so the loop
    // below is a guard.
    while (!mOutOfMemory && mPos < mLength && !mPattern.mTooDeep) {
        Token token = Read(false);
        if (token.special && token.ch == 0) break;
    }
    if (mOutOfMemory) return _null;
    if (mPattern.mTooDeep) {
        // Never matches: an inclusive class with nothing in it.
        root = Make<CRangeElxT>(false, mRightToLeft);
        if (!root) return _null;
    }
    Resolve(root);
    return mOutOfMemory ? _null : root;
}

ElxInterface* RegexParser::ParseAlternative() {
    ElxInterface* first = ParseSequence();
    Token token = Peek(false);
    if (!(token.special && token.ch == u'|')) return first;
    CAlternativeElxT* alternative = Make<CAlternativeElxT>();
    if (!alternative) return &gFallback;
    alternative->Add(first);
    while (token.special && token.ch == u'|' && !mOutOfMemory) {
        Read(false);
        if (!alternative->Add(ParseSequence())) mOutOfMemory = true;
        token = Peek(false);
    }
    return alternative;
}

ElxInterface* RegexParser::ParseSequence() {
    ElxInterface* single = _null;
    CListElxT* list = _null;
    for (;;) {
        if (mOutOfMemory || mPattern.mTooDeep) break;
        Token token = Peek(false);
        if (token.special && (token.ch == 0 || token.ch == u'|' || (token.ch == u')' && mDepth > 0))) break;
        ElxInterface* item = ParseRepeat();
        if (!item) continue;
        if (!single) {
            single = item;
            continue;
        }
        if (!list) {
            list = Make<CListElxT>(mRightToLeft);
            if (!list) return &gFallback;
            list->Add(single);
        }
        if (!list->Add(item)) mOutOfMemory = true;
    }
    if (list) return list;
    return single ? single : Empty();
}

ElxInterface* RegexParser::ParseRepeat() {
    ElxInterface* atom = ParseAtom();
    if (!atom) return _null;
    Token token = Peek(false);
    if (!IsQuantifier(token)) return atom;
    int32_t minimum = 0, maximum = kInfinite;
    if (token.ch == u'{') {
        int32_t end;
        ReadBrace(token.pos, minimum, maximum, end);
        mPos = end;
    } else {
        Read(false);
        if (token.ch == u'+') minimum = 1;
        if (token.ch == u'?') maximum = 1;
    }
    Token suffix = Peek(false);
    bool reluctant = suffix.special && !suffix.escape && suffix.ch == u'?';
    bool possessive = suffix.special && !suffix.escape && suffix.ch == u'+';
    if (reluctant || possessive) Read(false);
    if (maximum == 0) return Empty();
    if (minimum == maximum) {
        if (minimum == 1) return atom;
        ElxInterface* repeat = Make<CRepeatElxT>(atom, minimum, mRightToLeft);
        return repeat ? repeat : &gFallback;
    }
    ElxInterface* repeat;
    if (reluctant)
        repeat = Make<CReluctantElxT>(atom, minimum, maximum, mRightToLeft);
    else if (possessive)
        repeat = Make<CPossessiveElxT>(atom, minimum, maximum, mRightToLeft);
    else
        repeat = Make<CGreedyElxT>(atom, minimum, maximum, mRightToLeft);
    return repeat ? repeat : &gFallback;
}

ElxInterface* RegexParser::ParseAtom() {
    Token token = Read(false);
    if (!token.special) return ParseLiteralRun(token);
    if (token.escape) {
        switch (token.ch) {
        case u'd': return Cached(ClassDigit, mRightToLeft);
        case u'D': return Cached(ClassNotDigit, mRightToLeft);
        case u'w': return Cached(ClassWord, mRightToLeft);
        case u'W': return Cached(ClassNotWord, mRightToLeft);
        case u's': return Cached(ClassSpace, mRightToLeft);
        case u'S': return Cached(ClassNotSpace, mRightToLeft);
        case u'k': {
            CBackrefElxT* backref = Make<CBackrefElxT>(token.nameLength < 0 ? token.value : -1, mRightToLeft,
                                                       IgnoreCase());
            if (!backref) return &gFallback;
            if (token.nameLength >= 0 &&
                !mBackrefs.Push({token.nameStart, token.nameLength, 0, backref}))
                mOutOfMemory = true;
            return backref;
        }
        default: return MakeAnchor(token.ch);
        }
    }
    switch (token.ch) {
    case u'(': return ParseGroup();
    case u'[': {
        int32_t end;
        if (mQuote == QuoteNone && At(mPos) == u':') {
            ElxInterface* posix = ParsePosix(mPos, end);
            if (posix) {
                mPos = end;
                return posix;
            }
        }
        return ParseClass();
    }
    case u'.': return Cached((mFlags & FlagDotAll) ? ClassDotAll : ClassDot, mRightToLeft);
    case u'^':
    case u'$': return MakeAnchor(token.ch);
    case 0: return _null;
    default: {
        // A misplaced special character stands for itself.
        token.special = false;
        return ParseLiteralRun(token);
    }
    }
}

ElxInterface* RegexParser::MakeAnchor(WideChar letter) {
    bool multiLine = (mFlags & FlagMultiLine) != 0;
    ElxInterface* anchor = _null;
    switch (letter) {
    case u'^': anchor = Make<CBoundaryElxT>(CBoundaryElxT::LineStart, false, multiLine); break;
    case u'$': anchor = Make<CBoundaryElxT>(CBoundaryElxT::LineEnd, false, multiLine); break;
    case u'A': anchor = Make<CBoundaryElxT>(CBoundaryElxT::TextStart, false, multiLine); break;
    case u'z': anchor = Make<CBoundaryElxT>(CBoundaryElxT::TextEnd, false, multiLine); break;
    case u'Z': anchor = Make<CBoundaryElxT>(CBoundaryElxT::TextEndOrFinalBreak, false, multiLine); break;
    case u'b': anchor = Make<CBoundaryElxT>(CBoundaryElxT::WordBoundary, false, multiLine); break;
    case u'B': anchor = Make<CBoundaryElxT>(CBoundaryElxT::WordBoundary, true, multiLine); break;
    case u'G':
        if (!(mFlags & FlagContinue)) return Empty();
        anchor = Make<CGlobalElxT>();
        break;
    default: return Empty();
    }
    return anchor ? anchor : &gFallback;
}

// Consecutive literals form one run, except that a literal directly followed by a quantifier is
// left for a run of its own, so that the quantifier binds to that one character.
ElxInterface* RegexParser::ParseLiteralRun(const Token& first) {
    CBufferT<WideChar> run;
    bool stored = run.Push(first.ch);
    if (!IsQuantifier(Peek(false))) {
        for (;;) {
            Mark mark = Save();
            Token next = Read(false);
            if (next.special || IsQuantifier(Peek(false))) {
                Restore(mark);
                break;
            }
            stored = stored && run.Push(next.ch);
        }
    }
    if (!stored) {
        mOutOfMemory = true;
        return &gFallback;
    }
    CStringElxT* literal = Make<CStringElxT>(run.GetData(), run.GetCount(), mRightToLeft, IgnoreCase());
    if (!literal) return &gFallback;
    if (!literal->IsValid()) mOutOfMemory = true;
    return literal;
}

// [:name:] or [:^name:] with the colon at the position; none when the text there is not one.
ElxInterface* RegexParser::ParsePosix(int32_t colon, int32_t& end) {
    int32_t at = colon + 1;
    bool negated = At(at) == u'^';
    if (negated) ++at;
    int32_t nameStart = at;
    while (IsLetter(At(at))) ++at;
    if (at == nameStart || At(at) != u':' || At(at + 1) != u']') return _null;
    end = at + 2;
    ElxInterface* posix = Make<CPosixElxT>(mText + nameStart, at - nameStart, negated, mRightToLeft);
    return posix ? posix : &gFallback;
}

ElxInterface* RegexParser::ParseClass() {
    bool negated = false;
    if (mQuote == QuoteNone && At(mPos) == u'^') {
        negated = true;
        ++mPos;
    }
    CRangeElxT* range = Make<CRangeElxT>(negated, mRightToLeft);
    if (!range) return &gFallback;
    bool stored = true;
    for (;;) {
        Token token = Read(true);
        if (token.special && !token.escape && (token.ch == 0 || token.ch == u']')) break;
        if (token.special && token.escape) {
            int32_t kind = ClassDigit;
            switch (token.ch) {
            case u'D': kind = ClassNotDigit; break;
            case u'w': kind = ClassWord; break;
            case u'W': kind = ClassNotWord; break;
            case u's': kind = ClassSpace; break;
            case u'S': kind = ClassNotSpace; break;
            default: break;
            }
            ElxInterface* nested = Cached(kind, false);
            if (nested != &gFallback) stored = stored && range->AddNested(static_cast<const CRangeElxT*>(nested));
            continue;
        }
        if (token.special && token.ch == u'[') {
            int32_t end;
            ElxInterface* posix = ParsePosix(mPos, end);
            if (posix) {
                mPos = end;
                if (posix != &gFallback) stored = stored && range->AddNested(static_cast<const CPosixElxT*>(posix));
                continue;
            }
            token.special = false;
        }
        if (token.special) { // a '-' that is not between two literal ends
            stored = stored && range->AddChar(token.ch);
            continue;
        }
        Mark beforeDash = Save();
        Token dash = Read(true);
        if (dash.special && !dash.escape && dash.ch == u'-') {
            Token high = Read(true);
            if (!high.special) {
                stored = stored && range->AddRange(token.ch, high.ch);
                continue;
            }
        }
        Restore(beforeDash);
        stored = stored && range->AddChar(token.ch);
    }
    if (stored && IgnoreCase()) stored = range->WidenCase();
    if (!stored) mOutOfMemory = true;
    return range;
}

ElxInterface* RegexParser::ParseGroup() {
    if (mDepth >= RegexPattern::kMaxNesting) {
        // Too deep: the whole pattern will never match; stop reading it.
        mPattern.mTooDeep = true;
        mPos = mLength;
        mQuote = QuoteNone;
        return Empty();
    }
    ++mDepth;
    if (mDepth > mMaxDepth) mMaxDepth = mDepth;
    int32_t flags = mFlags;
    bool rightToLeft = mRightToLeft;
    // No element (inline flags, comment): the flags stay in force for the enclosing group.
    ElxInterface* element = ParseGroupBody();
    if (element) {
        mFlags = flags;
        mRightToLeft = rightToLeft;
    }
    --mDepth;
    return element;
}

// Consumes the ')' that ends a group (an unterminated group ends with the pattern).
void RegexParser::CloseGroup() {
    Token token = Peek(false);
    if (token.special && token.ch == u')') Read(false);
}

// named: the group's entry in the named-group list (reserved when the group opened), or -1.
ElxInterface* RegexParser::MakeGroup(int32_t number, ElxInterface* content, int32_t named) {
    CBracketElxT* left = Make<CBracketElxT>(number, !mRightToLeft);
    CBracketElxT* right = Make<CBracketElxT>(number, mRightToLeft);
    CListElxT* list = Make<CListElxT>(mRightToLeft);
    if (!left || !right || !list) return &gFallback;
    list->Add(left);
    list->Add(content);
    list->Add(right);
    if (named >= 0) {
        mNamedGroups[named].element = list;
        mNamedMarks[2 * named] = left;
        mNamedMarks[2 * named + 1] = right;
    } else {
        CBufferT<ElxInterface*>& groups = mPattern.mGroups;
        if (groups.GetCount() <= number && !groups.Resize(number + 1, _null)) mOutOfMemory = true;
        if (!mOutOfMemory) groups[number] = list;
    }
    return list;
}

ElxInterface* RegexParser::ParseGroupBody() {
    if (mQuote != QuoteNone || At(mPos) != u'?') {
        int32_t number = ++mGroupCount;
        ElxInterface* content = ParseAlternative();
        CloseGroup();
        return MakeGroup(number, content, -1);
    }
    WideChar kind = At(mPos + 1);
    WideChar next = At(mPos + 2);
    if (kind == u':') {
        mPos += 2;
        ElxInterface* content = ParseAlternative();
        CloseGroup();
        return content;
    }
    if (kind == u'=' || kind == u'!' || (kind == u'<' && (next == u'=' || next == u'!'))) {
        bool behind = kind == u'<';
        bool negative = (behind ? next : kind) == u'!';
        mPos += behind ? 3 : 2;
        mRightToLeft = behind;
        ElxInterface* content = ParseAlternative();
        CloseGroup();
        ElxInterface* assertion = Make<CAssertElxT>(content, negative);
        return assertion ? assertion : &gFallback;
    }
    if (kind == u'>') {
        mPos += 2;
        ElxInterface* content = ParseAlternative();
        CloseGroup();
        ElxInterface* atomic = Make<CIndependentElxT>(content);
        return atomic ? atomic : &gFallback;
    }
    if (kind == u'#') {
        int32_t close = ScanName(mPos, u')');
        mPos = close < 0 ? mLength : close + 1;
        return _null;
    }
    if (kind == u'(') {
        mPos += 2;
        return ParseCondition();
    }
    int32_t nameOffset = 0;
    WideChar close = 0;
    if (kind == u'<') nameOffset = 2, close = u'>';
    if (kind == u'\'') nameOffset = 2, close = u'\'';
    if (kind == u'P' && next == u'<') nameOffset = 3, close = u'>';
    if (close) {
        int32_t end = ScanName(mPos + nameOffset, close);
        if (end >= 0) {
            // The name is entered as the group opens, so that named groups are numbered in the
            // order of their opening parentheses, a group before the groups inside it.
            int32_t named = mNamedGroups.GetCount();
            if (!mNamedGroups.Push({mPos + nameOffset, end - mPos - nameOffset, 0, _null}) ||
                !mNamedMarks.Push(_null) || !mNamedMarks.Push(_null)) {
                mOutOfMemory = true;
                return &gFallback;
            }
            mPos = end + 1;
            ElxInterface* content = ParseAlternative();
            CloseGroup();
            return MakeGroup(-1, content, named);
        }
    }
    // Recursion: (?R), (?R<name>), (?R'name'), (?number).
    if (kind == u'R' || IsDigit(kind)) {
        Pending target = {0, -1, 0, _null};
        int32_t at = mPos + 1;
        bool valid = false;
        if (kind == u'R') {
            ++at;
            if (At(at) == u')') {
                valid = true;
            } else {
                int32_t end = ReadNameReference(at, target.nameStart, target.nameLength, target.value);
                if (end >= 0 && At(end + 1) == u')') {
                    at = end + 1;
                    valid = true;
                }
            }
        } else {
            int32_t start = at;
            while (IsDigit(At(at))) ++at;
            valid = At(at) == u')' && NameIsNumber(start, at - start, target.value);
        }
        if (valid) {
            mPos = at + 1;
            CDelegateElxT* recursion = Make<CDelegateElxT>();
            if (!recursion) return &gFallback;
            target.element = recursion;
            if (!mDelegates.Push(target)) mOutOfMemory = true;
            return recursion;
        }
    }
    // Inline flags: letters (s m g i set, after '-' clear, others ignored) up to ')' or ':'.
    int32_t at = mPos + 1;
    int32_t flags = mFlags;
    bool clear = false;
    for (; IsLetter(At(at)) || At(at) == u'-'; ++at) {
        WideChar letter = At(at);
        int32_t bit = 0;
        switch (letter | 0x20) {
        case u's': bit = FlagDotAll; break;
        case u'm': bit = FlagMultiLine; break;
        case u'g': bit = FlagContinue; break;
        case u'i': bit = FlagIgnoreCase; break;
        default: break;
        }
        if (letter == u'-') clear = true;
        else if (clear) flags &= ~bit;
        else flags |= bit;
    }
    if (At(at) == u')') {
        // Applies to the rest of the enclosing group.
        mPos = at + 1;
        mFlags = flags;
        return _null;
    }
    if (At(at) == u':') {
        mPos = at + 1;
        mFlags = flags;
    }
    // Otherwise not a construct of the language: a non-capturing group whose '?' is a literal.
    ElxInterface* content = ParseAlternative();
    CloseGroup();
    return content;
}

// After "(?(": the condition, then the yes branch and, after '|', the no branch.
ElxInterface* RegexParser::ParseCondition() {
    CConditionElxT* condition = Make<CConditionElxT>();
    if (!condition) return &gFallback;
    WideChar first = At(mPos), second = At(mPos + 1), third = At(mPos + 2);
    bool assertion = first == u'?' && (second == u'=' || second == u'!' ||
                                       (second == u'<' && (third == u'=' || third == u'!')));
    if (assertion) {
        condition->mAssert = ParseGroup();
    } else {
        int32_t at = mPos;
        while (IsDigit(At(at))) ++at;
        int32_t number;
        if (at > mPos && At(at) == u')' && NameIsNumber(mPos, at - mPos, number)) {
            condition->mGroup = number;
            mPos = at + 1;
        } else {
            // A group name (also written <name> or 'name'), or else a look-ahead on the text.
            int32_t close = ScanName(mPos, u')');
            int32_t nameStart = mPos, nameLength = close < 0 ? -1 : close - mPos;
            if (nameLength >= 2 && ((first == u'<' && mText[close - 1] == u'>') ||
                                    (first == u'\'' && mText[close - 1] == u'\''))) {
                ++nameStart;
                nameLength -= 2;
            }
            bool rightToLeft = mRightToLeft;
            mRightToLeft = false;
            ++mDepth;
            ElxInterface* content = ParseAlternative();
            --mDepth;
            mRightToLeft = rightToLeft;
            CloseGroup();
            ElxInterface* lookAhead = Make<CAssertElxT>(content, false);
            condition->mAssert = lookAhead ? lookAhead : &gFallback;
            if (nameLength > 0 && !mConditions.Push({nameStart, nameLength, 0, condition})) mOutOfMemory = true;
        }
    }
    condition->mYes = ParseSequence();
    Token token = Peek(false);
    if (token.special && token.ch == u'|') {
        Read(false);
        condition->mNo = ParseAlternative();
    }
    CloseGroup();
    return condition;
}

// ---------------------------------------------------------------- names

bool RegexParser::NameIsNumber(int32_t start, int32_t length, int32_t& number) const {
    if (length <= 0 || length > 6) return false;
    number = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (!IsDigit(mText[start + i])) return false;
        number = number * 10 + (mText[start + i] - u'0');
    }
    return number <= kMaxGroupNumber;
}

int32_t RegexParser::ReadNameReference(int32_t open, int32_t& nameStart, int32_t& nameLength,
                                       int32_t& value) const {
    const WideChar quote = At(open);
    if (quote != u'<' && quote != u'\'') return -1;
    const int32_t close = ScanName(open + 1, quote == u'<' ? u'>' : u'\'');
    if (close < 0) return -1;
    nameStart = open + 1;
    nameLength = close - open - 1;
    int32_t number;
    if (NameIsNumber(nameStart, nameLength, number)) {
        nameLength = -1;
        value = number;
    }
    return close;
}

bool RegexParser::SameName(int32_t a, int32_t aLength, int32_t b, int32_t bLength) const {
    if (aLength != bLength) return false;
    for (int32_t i = 0; i < aLength; ++i)
        if (FoldAscii(mText[a + i]) != FoldAscii(mText[b + i])) return false;
    return true;
}

// The number of the named group with this name; -1 when none has it.
int32_t RegexParser::NameToNumber(int32_t start, int32_t length) const {
    int32_t number;
    if (NameIsNumber(start, length, number)) return number;
    for (int32_t i = 0; i < mNamedGroups.GetCount(); ++i)
        if (SameName(mNamedGroups[i].nameStart, mNamedGroups[i].nameLength, start, length))
            return mNamedGroups[i].value;
    return -1;
}

void RegexParser::Resolve(ElxInterface* root) {
    CBufferT<ElxInterface*>& groups = mPattern.mGroups;
    if (groups.GetCount() < 1 && !groups.Resize(1, _null)) mOutOfMemory = true;
    if (mOutOfMemory) return;
    groups[0] = root;

    // Named groups are numbered after the highest numbered group, in order of appearance.
    int32_t highest = mGroupCount;
    for (int32_t i = 0; i < mNamedGroups.GetCount(); ++i) {
        int32_t number;
        if (NameIsNumber(mNamedGroups[i].nameStart, mNamedGroups[i].nameLength, number) && number > highest)
            highest = number;
    }
    int32_t next = highest;
    for (int32_t i = 0; i < mNamedGroups.GetCount(); ++i) {
        Pending& named = mNamedGroups[i];
        int32_t number;
        if (!NameIsNumber(named.nameStart, named.nameLength, number)) {
            number = -1;
            for (int32_t j = 0; j < i && number < 0; ++j)
                if (SameName(mNamedGroups[j].nameStart, mNamedGroups[j].nameLength, named.nameStart,
                             named.nameLength))
                    number = mNamedGroups[j].value;
            if (number < 0) number = ++next;
        }
        named.value = number;
        if (number > highest) highest = number;
        // Both marks exist once the group is parsed; a parse cut short leaves them unset.
        if (mNamedMarks[2 * i]) mNamedMarks[2 * i]->mNumber = number;
        if (mNamedMarks[2 * i + 1]) mNamedMarks[2 * i + 1]->mNumber = number;
        if (groups.GetCount() <= number && !groups.Resize(number + 1, _null)) {
            mOutOfMemory = true;
            return;
        }
        if (!groups[number]) groups[number] = named.element;
    }
    if (groups.GetCount() <= highest && !groups.Resize(highest + 1, _null)) {
        mOutOfMemory = true;
        return;
    }
    mPattern.mHighestGroup = highest;

    int32_t depthLimit = kNestingBudget / (mMaxDepth + 1);
    if (depthLimit > RegexPattern::kMaxRecursion) depthLimit = RegexPattern::kMaxRecursion;
    for (int32_t i = 0; i < mDelegates.GetCount(); ++i) {
        const Pending& target = mDelegates[i];
        int32_t number = target.nameLength < 0 ? target.value : NameToNumber(target.nameStart, target.nameLength);
        CDelegateElxT* recursion = static_cast<CDelegateElxT*>(target.element);
        recursion->mTarget = number >= 0 && number <= highest ? groups[number] : _null;
        recursion->mDepthLimit = depthLimit;
    }
    for (int32_t i = 0; i < mBackrefs.GetCount(); ++i)
        static_cast<CBackrefElxT*>(mBackrefs[i].element)->mNumber =
            NameToNumber(mBackrefs[i].nameStart, mBackrefs[i].nameLength);
    for (int32_t i = 0; i < mConditions.GetCount(); ++i) {
        int32_t number = NameToNumber(mConditions[i].nameStart, mConditions[i].nameLength);
        int32_t digits;
        // Only a real group name makes a group test; other text stays a look-ahead.
        if (number >= 0 && !NameIsNumber(mConditions[i].nameStart, mConditions[i].nameLength, digits))
            static_cast<CConditionElxT*>(mConditions[i].element)->mGroup = number;
    }
}
