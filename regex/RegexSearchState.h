// One search over one text: its position, the backtracking and capture stacks, and the result.
#pragma once

#include "regex/RegexBuffer.h"

// Result of one FindNext: empty when nothing matched; otherwise [0] = 1, [1] = the highest group
// number, then one (start, end) pair per group from 0 with start <= end, -1, -1 for a group that
// took no part. Positions are UTF-16 unit indices into the searched text. Owned by the caller.
class RegexMatch {
public:
    RegexMatch() {}
    RegexMatch(RegexMatch&&) noexcept = default;
    RegexMatch& operator=(RegexMatch&&) noexcept = default;

    bool IsMatched() const { return mValues.GetCount() > 2 && mValues[0] == 1; }
    // Groups reported (the highest group number + 1); 0 without a match.
    int32_t GetGroupCount() const { return IsMatched() ? mValues[1] + 1 : 0; }
    // Start / end of a group; -1 when the group took no part or does not exist.
    int32_t GetGroupStart(int32_t group) const { return IsGroup(group) ? mValues[2 + group * 2] : -1; }
    int32_t GetGroupEnd(int32_t group) const { return IsGroup(group) ? mValues[3 + group * 2] : -1; }
    int32_t GetStart() const { return GetGroupStart(0); }
    int32_t GetEnd() const { return GetGroupEnd(0); }
    // The raw layout described above.
    const CBufferT<int32_t>& GetValues() const { return mValues; }
    CBufferT<int32_t>& GetValues() { return mValues; }

private:
    bool IsGroup(int32_t group) const { return group >= 0 && group < GetGroupCount(); }

    CBufferT<int32_t> mValues;
};

// The progress of FindNext over one text, created by RegexPattern::BeginSearch and freed by its
// user. The text is borrowed: it must outlive the state and stay unchanged. A state serves one
// thread at a time; several states may search one pattern at once. The members below are the
// engine's working data, read and written by the pattern's elements during a match.
class RegexSearchState {
public:
    // The most entries of the backtracking stack (and of the capture journal) one search may
    // use; a match attempt that needs more ends the search without a match.
    static const int32_t kStackLimit = 1 << 26;
    // The most captures and undo records one attempt may keep.
    static const int32_t kCaptureLimit = 1 << 26;

    RegexSearchState();
    RegexSearchState(RegexSearchState&&) noexcept = default;
    RegexSearchState& operator=(RegexSearchState&&) noexcept = default;

    // The position where the next FindNext begins.
    int32_t GetNextStart() const { return mNextStart; }
    // Lowers (or restores) the most entries the stacks of this search may hold (at most
    // kStackLimit); a match attempt that needs more ends the search without a match.
    void SetStackLimit(int32_t entries);
    // Bounds the work of this search: match attempts and repetition steps are counted, and once
    // more than `steps` have been made the search ends without a match (0: no bound, the
    // default). A text that makes a pattern backtrack over it again and again then costs a known
    // time instead of a time that grows with the square of its length.
    void SetStepLimit(int64_t steps) { mStepLimit = steps > 0 ? steps : 0; }
    // True once the step bound ended this search.
    bool IsStepLimitReached() const { return mStepLimitReached; }
    // Adds steps of work; past the bound the search is abandoned (the abort flag is set).
    void CountSteps(int64_t steps) {
        mSteps += steps;
        if (mStepLimit > 0 && mSteps > mStepLimit) {
            mStepLimitReached = true;
            mAbort = true;
        }
    }

    // ---- working data of a match attempt ----
    CBufferRefT<WideChar> mText;
    int32_t mNextStart;   // where the next search begins; the stop position when finished
    int32_t mSearchStart; // where the current search began (\G)
    int32_t mCursor;      // the matching position, moved by the elements
    int32_t mRecursionDepth;
    bool mAbort;                   // a stack could not grow: the attempt is being abandoned
    CBufferT<int32_t> mStack;      // backtracking entries saved by the elements
    CBufferT<int32_t> mCaptures;   // records of 4: previous record, start, end, nesting counter
    CBufferT<int32_t> mGroupIndex; // per group: its current record, -1 when not matched
    CBufferT<int32_t> mJournal;    // pairs (slot, old value) to undo capture changes
    int64_t mSteps = 0;            // work done so far (see SetStepLimit)
    int64_t mStepLimit = 0;
    bool mStepLimitReached = false;

    void Push(int32_t value) {
        if (!mStack.Push(value)) mAbort = true;
    }
    int32_t Pop() { return mStack.Pop(); }
    int32_t Top() const { return mStack.Top(); }

    // True when the group has a finished capture; its span (ordered) goes to start and end.
    // While the group is being matched again, its capture is the one it finished last.
    bool GetGroupSpan(int32_t group, int32_t& start, int32_t& end) const;
    // The capturing marks: record the group's start / end at the cursor (counting nested
    // re-entry by recursion so that the outermost capture survives).
    void OpenGroup(int32_t group);
    void CloseGroup(int32_t group);
    // Undoes the last journalled capture change / every change after the journal had count
    // entries.
    void UndoOne();
    void UndoTo(int32_t journalCount);

    // An atomic match (atomic group, possessive repetition): taken before its content runs.
    struct AtomicMark {
        int32_t mStack;
        int32_t mJournal;
        int32_t mCursor;
    };
    AtomicMark MarkAtomic() const { return {mStack.GetCount(), mJournal.GetCount(), mCursor}; }
    // Once the content matched: drops the content's own backtracking entries, so backtracking
    // never re-enters it, and saves what BacktrackAtomic needs. Its captures stay until then.
    void CommitAtomic(const AtomicMark& mark) {
        mStack.Truncate(mark.mStack);
        Push(mark.mCursor);
        Push(mark.mJournal);
    }
    // Backtracking a committed atomic match: undoes its captures and puts the cursor back. There is
    // no other way through, so always false.
    bool BacktrackAtomic() {
        if (mAbort) return false;
        int32_t journal = Pop();
        int32_t cursor = Pop();
        UndoTo(journal);
        mCursor = cursor;
        return false;
    }

    // Clears the stacks and marks the groups 0 .. highestGroup as not matched.
    void ResetAttempt(int32_t highestGroup);

private:
    void Journal(int32_t slot, int32_t oldValue);
};
