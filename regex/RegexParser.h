// Turns a pattern text into the element tree of a RegexPattern (tokenizer and recursive descent).
#pragma once

#include "regex/RegexElements.h"
#include "regex/RegexPattern.h"

// Used only by RegexPattern::Compile. The parser fills the pattern's element list, group table
// and class cache; the pattern owns every element created. The parser's own nesting is bounded
// by RegexPattern::kMaxNesting.
class RegexParser {
public:
    RegexParser(RegexPattern& pattern, const WideChar* text, int32_t length, int32_t flags);
    // Parses the whole text and resolves names. Returns the root element; none when memory ran
    // out (the pattern must then be cleared).
    ElxInterface* Parse();

    // The shared classes of the cache: index 1 + 2 * kind + (right-to-left ? 1 : 0); 0 is the
    // empty element.
    enum ClassKind { ClassDotAll,
                     ClassDot,
                     ClassWord,
                     ClassNotWord,
                     ClassSpace,
                     ClassNotSpace,
                     ClassDigit,
                     ClassNotDigit };

private:
    // How the characters after \Q, \L or \U are read, up to the next \E: as plain characters,
    // and for \L and \U changed to lower or upper case.
    enum QuoteMode { QuoteNone,
                     QuoteLiteral,
                     QuoteLower,
                     QuoteUpper };

    // One token: a character or a whole escape. special: a syntax character (or an escape with a
    // meaning: classes, anchors, back-references); the end of the pattern is the special 0.
    struct Token {
        WideChar ch = 0;
        bool special = true;
        bool escape = false;
        int32_t pos = 0;
        int32_t len = 0;
        int32_t value = 0;       // back-reference number
        int32_t nameStart = 0;   // back-reference name in the pattern text
        int32_t nameLength = -1; // -1: the back-reference is by number
    };
    struct Mark {
        int32_t pos;
        QuoteMode quote;
    };
    struct Pending { // a name or number resolved once every group is known
        int32_t nameStart;
        int32_t nameLength; // -1: by number (value)
        int32_t value;
        ElxInterface* element;
    };

    // ---- tokenizer ----
    Token Read(bool inClass);
    bool ReadEscape(bool inClass, Token& token);
    Token Peek(bool inClass);
    Mark Save() const { return {mPos, mQuote}; }
    void Restore(const Mark& mark) {
        mPos = mark.pos;
        mQuote = mark.quote;
    }
    WideChar At(int32_t position) const { return position >= 0 && position < mLength ? mText[position] : 0; }
    bool ReadHex(int32_t maxDigits, int32_t& value);
    bool ReadBrace(int32_t position, int32_t& minimum, int32_t& maximum, int32_t& end) const;
    bool IsQuantifier(const Token& token) const;
    int32_t ScanName(int32_t from, WideChar close) const;

    // ---- parser ----
    ElxInterface* ParseAlternative();
    ElxInterface* ParseSequence();
    ElxInterface* ParseRepeat();
    ElxInterface* ParseAtom();
    ElxInterface* ParseLiteralRun(const Token& first);
    ElxInterface* ParseGroup();
    ElxInterface* ParseGroupBody();
    ElxInterface* ParseCondition();
    ElxInterface* ParseClass();
    ElxInterface* ParsePosix(int32_t colon, int32_t& end);
    ElxInterface* MakeGroup(int32_t number, ElxInterface* content, int32_t named);
    ElxInterface* MakeAnchor(WideChar letter);
    void CloseGroup();
    void Resolve(ElxInterface* root);
    int32_t NameToNumber(int32_t start, int32_t length) const;
    bool NameIsNumber(int32_t start, int32_t length, int32_t& number) const;
    // A group named between <> or '' from `open` (the opening quote): by name, or by number when
    // the name is digits (nameLength -1 and value the number). The closing quote's position; -1,
    // and nothing set, when there is no quoted name there.
    int32_t ReadNameReference(int32_t open, int32_t& nameStart, int32_t& nameLength, int32_t& value) const;
    bool SameName(int32_t a, int32_t aLength, int32_t b, int32_t bLength) const;

    ElxInterface* Empty();
    ElxInterface* Cached(int32_t kind, bool rightToLeft);
    template <typename T, typename... Args>
    T* Make(Args&&... args);
    bool RightToLeft() const { return mRightToLeft; }
    bool IgnoreCase() const { return (mFlags & FlagIgnoreCase) != 0; }

    RegexPattern& mPattern;
    const WideChar* mText;
    int32_t mLength;
    int32_t mPos;
    QuoteMode mQuote; // set by \Q, \L or \U; QuoteNone after \E
    int32_t mCompileFlags;
    int32_t mFlags;    // the flags in force at this point of the pattern
    bool mRightToLeft; // direction of the elements being built
    int32_t mDepth;
    int32_t mMaxDepth;
    int32_t mGroupCount;
    bool mOutOfMemory;
    CBufferT<Pending> mNamedGroups;      // in order of opening; element: the group's list; value: its number
    CBufferT<CBracketElxT*> mNamedMarks; // per named group: its opening and closing marks
    CBufferT<Pending> mDelegates;
    CBufferT<Pending> mBackrefs;
    CBufferT<Pending> mConditions;
};
