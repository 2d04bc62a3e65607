// The elements a compiled pattern is made of. Each matches at the search state's cursor.
//
// Contract shared by every element:
// - TryMatch: matches at the cursor (leftwards for a right-to-left element), moves the cursor
//   past what it matched and saves on the backtracking stack whatever Backtrack needs. On
//   failure it leaves the cursor, the stack and the captures exactly as it found them.
// - Backtrack: called only right after this element's own successful TryMatch or Backtrack
//   (everything saved later has been taken back). Takes back its saved state and tries the next
//   way to match; on success saves its new state, on failure leaves the cursor, stack and
//   captures as they were before its TryMatch.
// - While the state's abort flag is set (a stack could not grow) elements only unwind.
// Elements are created and owned by their RegexPattern and are immutable once compiled.
#pragma once

#include "regex/RegexBuffer.h"
#include "regex/RegexSearchState.h"

class ElxInterface {
public:
    virtual bool TryMatch(RegexSearchState& state) const = 0;
    virtual bool Backtrack(RegexSearchState& state) const = 0;
    virtual ~ElxInterface() {}

    // When >= 0: the element always consumes exactly this many units and saves nothing on the
    // stack, so a repetition of it can count instead of stacking (-1 otherwise).
    int32_t mFixedWidth = -1;
};

// Matches empty; Backtrack always fails.
class CEmptyElxT : public ElxInterface {
public:
    CEmptyElxT() { mFixedWidth = 0; }
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;
};

// A literal run. Case-insensitive runs are stored upper-cased.
class CStringElxT : public ElxInterface {
public:
    CStringElxT(const WideChar* text, int32_t length, bool rightToLeft, bool ignoreCase);
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

    bool IsValid() const { return mText.GetCount() == mFixedWidth; }
    const CBufferT<WideChar>& GetText() const { return mText; }
    bool IsRightToLeft() const { return mRightToLeft; }
    bool IsIgnoreCase() const { return mIgnoreCase; }

private:
    CBufferT<WideChar> mText;
    bool mRightToLeft;
    bool mIgnoreCase;
};

// A POSIX class [:name:] (the standard wide character-type test of that name; "blank" is space
// or 9, "ascii" below 128). An unknown name never matches, negated or not.
class CPosixElxT : public ElxInterface {
public:
    // name: length units; kind stays unknown when the name is not one of the class names.
    CPosixElxT(const WideChar* name, int32_t length, bool negated, bool rightToLeft);
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;
    bool Contains(WideChar unit) const;

private:
    int32_t mKind;
    bool mNegated;
    bool mRightToLeft;
};

// A character class: ranges, single characters and nested classes, inclusive or negated.
class CRangeElxT : public ElxInterface {
public:
    CRangeElxT(bool negated, bool rightToLeft);
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;
    bool Contains(WideChar unit) const;

    // Building (before the pattern is searched). False when memory ran out.
    bool AddRange(WideChar low, WideChar high);
    bool AddChar(WideChar unit);
    bool AddNested(const CRangeElxT* nested);
    bool AddNested(const CPosixElxT* nested);
    // Ignore-case widening: A-Z parts of ranges get their a-z counterparts and the other way
    // round; single characters get their other-case partner; each only when not yet covered.
    bool WidenCase();

private:
    bool ContainsDirect(WideChar unit) const;

    CBufferT<WideChar> mRanges; // pairs low, high
    CBufferT<WideChar> mChars;
    CBufferT<const CRangeElxT*> mNestedRanges;
    CBufferT<const CPosixElxT*> mNestedPosix;
    bool mNegated;
    bool mRightToLeft;
};

// A zero-width anchor.
class CBoundaryElxT : public ElxInterface {
public:
    enum Kind { LineStart,
                LineEnd,
                TextStart,
                TextEnd,
                TextEndOrFinalBreak,
                WordBoundary };
    CBoundaryElxT(Kind kind, bool negated, bool multiLine);
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

private:
    bool Test(const RegexSearchState& state) const;

    Kind mKind;
    bool mNegated;
    bool mMultiLine;
};

// \G: matches where the current search began.
class CGlobalElxT : public ElxInterface {
public:
    CGlobalElxT() { mFixedWidth = 0; }
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;
};

// A sequence: children first to last (last to first right-to-left).
class CListElxT : public ElxInterface {
public:
    explicit CListElxT(bool rightToLeft) : mRightToLeft(rightToLeft) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

    bool Add(const ElxInterface* child) { return mChildren.Push(child); }
    const CBufferT<const ElxInterface*>& GetChildren() const { return mChildren; }
    bool IsRightToLeft() const { return mRightToLeft; }

private:
    bool Run(RegexSearchState& state, int32_t done, bool backtrack) const;
    const ElxInterface* Child(int32_t step) const {
        return mChildren[mRightToLeft ? mChildren.GetCount() - 1 - step : step];
    }

    CBufferT<const ElxInterface*> mChildren;
    bool mRightToLeft;
};

// Alternation: the first branch that matches; on backtrack that branch, then the following ones.
class CAlternativeElxT : public ElxInterface {
public:
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;
    bool Add(const ElxInterface* branch) { return mBranches.Push(branch); }

private:
    bool TryFrom(RegexSearchState& state, int32_t branch) const;

    CBufferT<const ElxInterface*> mBranches;
};

// Opening or closing mark of a capturing group (the group number is fixed after parsing, when
// named groups get theirs).
class CBracketElxT : public ElxInterface {
public:
    CBracketElxT(int32_t number, bool opening) : mNumber(number), mOpening(opening) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

    int32_t mNumber;

private:
    bool mOpening;
};

// min..max repetitions, most first; gives back one repetition at a time.
class CGreedyElxT : public ElxInterface {
public:
    CGreedyElxT(const ElxInterface* child, int32_t minimum, int32_t maximum, bool rightToLeft);
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

protected:
    bool Run(RegexSearchState& state, int32_t count, bool backtrack) const;

    const ElxInterface* mChild;
    int32_t mMinimum;
    int32_t mMaximum;
    int32_t mStep; // signed width of one repetition of a fixed-width child, 0 otherwise
};

// Exactly n repetitions, backtracking inside earlier ones when a later one fails.
class CRepeatElxT : public CGreedyElxT {
public:
    CRepeatElxT(const ElxInterface* child, int32_t count, bool rightToLeft)
        : CGreedyElxT(child, count, count, rightToLeft) {}
};

// min..max repetitions, fewest first.
class CReluctantElxT : public ElxInterface {
public:
    CReluctantElxT(const ElxInterface* child, int32_t minimum, int32_t maximum, bool rightToLeft);
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

private:
    bool Run(RegexSearchState& state, int32_t count, bool backtrack) const;

    const ElxInterface* mChild;
    int32_t mMinimum;
    int32_t mMaximum;
    int32_t mStep;
};

// As greedy, but the repetitions are frozen once matched: backtracking gives nothing back.
class CPossessiveElxT : public CGreedyElxT {
public:
    CPossessiveElxT(const ElxInterface* child, int32_t minimum, int32_t maximum, bool rightToLeft)
        : CGreedyElxT(child, minimum, maximum, rightToLeft) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;
};

// Atomic group: its content matches once; backtracking never re-enters it.
class CIndependentElxT : public ElxInterface {
public:
    explicit CIndependentElxT(const ElxInterface* child) : mChild(child) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

private:
    const ElxInterface* mChild;
};

// Look-ahead / look-behind (the direction is the content's), positive or negative; zero width.
class CAssertElxT : public ElxInterface {
public:
    CAssertElxT(const ElxInterface* child, bool negative) : mChild(child), mNegative(negative) {
        if (negative) mFixedWidth = 0;
    }
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

private:
    const ElxInterface* mChild;
    bool mNegative;
};

// Back-reference to a group; never matches while the number is unresolved (-1).
class CBackrefElxT : public ElxInterface {
public:
    CBackrefElxT(int32_t number, bool rightToLeft, bool ignoreCase)
        : mNumber(number), mRightToLeft(rightToLeft), mIgnoreCase(ignoreCase) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

    int32_t mNumber;

private:
    bool mRightToLeft;
    bool mIgnoreCase;
};

// Conditional: a group that has matched, or an assertion, chooses the yes or the no branch (a
// missing branch matches empty).
class CConditionElxT : public ElxInterface {
public:
    CConditionElxT() : mGroup(-1), mAssert(_null), mYes(_null), mNo(_null) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

    int32_t mGroup;              // >= 0: test this group; otherwise test mAssert
    const ElxInterface* mAssert; // none: the condition is false
    const ElxInterface* mYes;
    const ElxInterface* mNo;
};

// Recursion: matches the element of a group (0 = the whole pattern) at the cursor. Fails when
// the recursion is nested mDepthLimit deep already, or while the target is unresolved.
class CDelegateElxT : public ElxInterface {
public:
    CDelegateElxT() : mTarget(_null), mDepthLimit(0) {}
    bool TryMatch(RegexSearchState& state) const override;
    bool Backtrack(RegexSearchState& state) const override;

    const ElxInterface* mTarget;
    int32_t mDepthLimit;
};
