// A compiled regular expression over UTF-16 text and its search entry points.
#pragma once

#include "regex/RegexBuffer.h"
#include "regex/RegexSearchState.h"

class ElxInterface;
class CRangeElxT;
class RegexParser;

// Compile flags (bit values).
enum RegexFlags : int32_t {
    FlagNone = 0,
    FlagDotAll = 1,       // . also matches newline (10)
    FlagMultiLine = 2,    // ^ and $ also match at line breaks
    FlagContinue = 4,     // \G matches where the current search began (otherwise it matches empty)
    FlagIgnoreCase = 8,   // literals, classes and back-references without regard to case
    FlagRightToLeft = 16, // the search runs from the end toward the start
    FlagExtended = 32,    // unescaped whitespace is ignored, # comments to the end of the line
};

// A pattern compiled into a tree of elements, owned by its creator. The language has no syntax
// errors: every text compiles (meaningless escapes are literals, unterminated groups and classes
// end with the pattern, undefined names never match). Defined limits: a pattern nested deeper
// than kMaxNesting groups compiles to a pattern that never matches; a recursion ((?R), (?1),
// (?R<name>)) nested deeper than kMaxRecursion (or than the native nesting budget of a deeply
// nested pattern allows) fails at that point. Matching keeps its backtracking state on the
// search state's own stacks, so the text length never reaches the native stack.
// A compiled pattern is immutable while searched: any number of threads may search it at once,
// each with its own RegexSearchState. Compile must not run while a search is under way.
class RegexPattern {
public:
    static const int32_t kMaxNesting = 1000;
    static const int32_t kMaxRecursion = 250;

    RegexPattern();
    // Compiles at once; see Compile.
    explicit RegexPattern(const WideChar* pattern, int32_t flags = FlagNone, int32_t length = -1);
    ~RegexPattern();
    RegexPattern(const RegexPattern&) = delete;
    RegexPattern& operator=(const RegexPattern&) = delete;

    // Discards any previous compilation, then compiles length units of pattern (-1: up to the
    // terminator) with the flags. A null pattern leaves the object empty; an empty object never
    // matches. Returns false when the pattern was null or memory ran out (the object is then
    // empty), true otherwise.
    bool Compile(const WideChar* pattern, int32_t flags = FlagNone, int32_t length = -1);
    bool IsCompiled() const { return mRoot != _null; }
    int32_t GetFlags() const { return mFlags; }
    // The highest capturing group number (0 when the pattern has no groups).
    int32_t GetHighestGroup() const { return mHighestGroup; }
    // True when the pattern was nested too deeply and can never match.
    bool IsTooDeep() const { return mTooDeep; }

    // A new search over length units of text (borrowed, see RegexSearchState). start < 0 means
    // the start of the text (the end for right-to-left); a start beyond the length gives no
    // match left-to-right and the end of the text right-to-left. A null text is an empty text.
    RegexSearchState BeginSearch(const WideChar* text, int32_t length, int32_t start = -1) const;
    // The next match of the search, or an empty result (also for an empty pattern). Each call
    // continues after the previous match; an empty match steps one unit on first. Matches are
    // leftmost first (rightmost first for right-to-left).
    RegexMatch FindNext(RegexSearchState& state) const;
    // Convenience: the first match in the text, as BeginSearch(text, length, start) + FindNext.
    RegexMatch Match(const WideChar* text, int32_t length, int32_t start = -1) const;

private:
    friend class RegexParser;

    void Clear();
    void FindLeadingLiteral();
    int32_t FindLiteral(const CBufferRefT<WideChar>& text, int32_t from) const;

    ElxInterface* mRoot;
    int32_t mFlags;
    int32_t mHighestGroup;
    bool mTooDeep;
    CBufferT<ElxInterface*> mElements;  // every element created; freed together
    CBufferT<ElxInterface*> mGroups;    // [0] the root, [n] the element of group n
    ElxInterface* mClassCache[17];      // shared classes, see RegexParser::Cached
    CBufferT<WideChar> mLeadingLiteral; // every match starts with it (left-to-right)
};
