// Repetitions: greedy, exact count, reluctant and possessive.
//
// A repetition of a general child saves, per repetition, the child's own entries followed by the
// cursor where that repetition began, and finally the count. A child of fixed width that saves
// nothing (a literal or a class) needs only the starting cursor and the count: the cursor of any
// count is computed from them, so long runs over a large text cost two stack entries.
#include "regex/RegexElements.h"

// ---- greedy ----

CGreedyElxT::CGreedyElxT(const ElxInterface* child, int32_t minimum, int32_t maximum, bool rightToLeft)
    : mChild(child), mMinimum(minimum), mMaximum(maximum < minimum ? minimum : maximum), mStep(0) {
    if (child->mFixedWidth > 0) mStep = rightToLeft ? -child->mFixedWidth : child->mFixedWidth;
}

// count repetitions are on the stack. With backtrack set the last one is asked for its next way
// first; then repetitions are added up to the maximum (stopping after one that matched empty).
bool CGreedyElxT::Run(RegexSearchState& state, int32_t count, bool backtrack) const {
    for (;;) {
        state.CountSteps(1);
        if (backtrack) {
            if (count == 0 || state.mAbort) return false;
            int32_t start = state.Pop();
            if (mChild->Backtrack(state)) {
                state.Push(start);
                if (state.mCursor == start && count >= mMinimum) {
                    state.Push(count);
                    return true;
                }
            } else {
                // That repetition is given back; the cursor is where it began.
                if (--count >= mMinimum) {
                    state.Push(count);
                    return true;
                }
                continue;
            }
        }
        while (count < mMaximum && !state.mAbort) {
            int32_t start = state.mCursor;
            if (!mChild->TryMatch(state)) break;
            state.Push(start);
            ++count;
            state.CountSteps(1);
            if (state.mCursor == start && count >= mMinimum) break;
        }
        if (count >= mMinimum) {
            state.Push(count);
            return true;
        }
        backtrack = true;
    }
}

bool CGreedyElxT::TryMatch(RegexSearchState& state) const {
    if (mStep == 0) return Run(state, 0, false);
    int32_t start = state.mCursor;
    int32_t count = 0;
    while (count < mMaximum && mChild->TryMatch(state)) ++count;
    state.CountSteps(count);
    if (state.mAbort || count < mMinimum) {
        state.mCursor = start;
        return false;
    }
    state.Push(start);
    state.Push(count);
    return true;
}

bool CGreedyElxT::Backtrack(RegexSearchState& state) const {
    if (state.mAbort) return false;
    state.CountSteps(1);
    int32_t count = state.Pop();
    if (mStep == 0) return Run(state, count, true);
    int32_t start = state.Pop();
    if (count <= mMinimum) {
        state.mCursor = start;
        return false;
    }
    --count;
    state.mCursor = start + count * mStep;
    state.Push(start);
    state.Push(count);
    return true;
}

// ---- possessive ----

bool CPossessiveElxT::TryMatch(RegexSearchState& state) const {
    const RegexSearchState::AtomicMark mark = state.MarkAtomic();
    if (!CGreedyElxT::TryMatch(state)) return false;
    state.CommitAtomic(mark);
    return true;
}

bool CPossessiveElxT::Backtrack(RegexSearchState& state) const { return state.BacktrackAtomic(); }

// ---- reluctant ----

CReluctantElxT::CReluctantElxT(const ElxInterface* child, int32_t minimum, int32_t maximum, bool rightToLeft)
    : mChild(child), mMinimum(minimum), mMaximum(maximum < minimum ? minimum : maximum), mStep(0) {
    if (child->mFixedWidth > 0) mStep = rightToLeft ? -child->mFixedWidth : child->mFixedWidth;
}

// count repetitions are on the stack. With backtrack set the last one is asked for its next way
// first (a repetition that has no other way is dropped and the one before it is asked); then
// repetitions are added only up to the minimum.
bool CReluctantElxT::Run(RegexSearchState& state, int32_t count, bool backtrack) const {
    for (;;) {
        state.CountSteps(1);
        if (backtrack) {
            if (count == 0 || state.mAbort) return false;
            int32_t start = state.Pop();
            if (!mChild->Backtrack(state)) {
                --count;
                continue;
            }
            state.Push(start);
        }
        backtrack = false;
        while (count < mMinimum && !state.mAbort) {
            int32_t start = state.mCursor;
            state.CountSteps(1);
            if (!mChild->TryMatch(state)) {
                backtrack = true;
                break;
            }
            state.Push(start);
            ++count;
        }
        if (!backtrack) {
            state.Push(count);
            return true;
        }
    }
}

bool CReluctantElxT::TryMatch(RegexSearchState& state) const {
    if (mStep == 0) return Run(state, 0, false);
    int32_t start = state.mCursor;
    for (int32_t count = 0; count < mMinimum; ++count) {
        if (!mChild->TryMatch(state)) {
            state.mCursor = start;
            return false;
        }
    }
    state.Push(start);
    state.Push(mMinimum);
    return true;
}

bool CReluctantElxT::Backtrack(RegexSearchState& state) const {
    if (state.mAbort) return false;
    state.CountSteps(1);
    int32_t count = state.Pop();
    if (mStep != 0) {
        int32_t start = state.Pop();
        state.mCursor = start + count * mStep;
        if (count < mMaximum && mChild->TryMatch(state)) {
            state.Push(start);
            state.Push(count + 1);
            return true;
        }
        state.mCursor = start;
        return false;
    }
    // One more repetition first, unless the last one matched empty (more would loop).
    if (count < mMaximum && (count == 0 || state.Top() != state.mCursor)) {
        int32_t start = state.mCursor;
        if (mChild->TryMatch(state)) {
            state.Push(start);
            state.Push(count + 1);
            return true;
        }
    }
    return Run(state, count, true);
}
