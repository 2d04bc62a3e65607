// The elements that combine others: sequence, alternation, capturing marks, atomic groups,
// look-around, conditionals and recursion.
#include "regex/RegexElements.h"

// ---- sequence ----

// done children have matched; with backtrack set the last of them is asked to try again first.
bool CListElxT::Run(RegexSearchState& state, int32_t done, bool backtrack) const {
    int32_t count = mChildren.GetCount();
    for (;;) {
        if (backtrack) {
            for (;;) {
                if (done == 0) return false;
                --done;
                if (Child(done)->Backtrack(state)) {
                    ++done;
                    break;
                }
            }
            backtrack = false;
        }
        while (done < count) {
            if (!Child(done)->TryMatch(state)) {
                backtrack = true;
                break;
            }
            ++done;
        }
        if (!backtrack) return true;
    }
}

bool CListElxT::TryMatch(RegexSearchState& state) const { return Run(state, 0, false); }

bool CListElxT::Backtrack(RegexSearchState& state) const {
    return Run(state, mChildren.GetCount(), true);
}

// ---- alternation ----

bool CAlternativeElxT::TryFrom(RegexSearchState& state, int32_t branch) const {
    for (; branch < mBranches.GetCount(); ++branch) {
        if (mBranches[branch]->TryMatch(state)) {
            state.Push(branch);
            return true;
        }
    }
    return false;
}

bool CAlternativeElxT::TryMatch(RegexSearchState& state) const { return TryFrom(state, 0); }

bool CAlternativeElxT::Backtrack(RegexSearchState& state) const {
    if (state.mAbort) return false;
    int32_t branch = state.Pop();
    if (branch < 0 || branch >= mBranches.GetCount()) return false;
    if (mBranches[branch]->Backtrack(state)) {
        state.Push(branch);
        return true;
    }
    return TryFrom(state, branch + 1);
}

// ---- capturing marks ----

bool CBracketElxT::TryMatch(RegexSearchState& state) const {
    if (mOpening)
        state.OpenGroup(mNumber);
    else
        state.CloseGroup(mNumber);
    return true;
}

bool CBracketElxT::Backtrack(RegexSearchState& state) const {
    if (!state.mAbort) state.UndoOne();
    return false;
}

// ---- atomic group ----

bool CIndependentElxT::TryMatch(RegexSearchState& state) const {
    const RegexSearchState::AtomicMark mark = state.MarkAtomic();
    if (!mChild->TryMatch(state)) return false;
    state.CommitAtomic(mark);
    return true;
}

bool CIndependentElxT::Backtrack(RegexSearchState& state) const { return state.BacktrackAtomic(); }

// ---- look-around ----

bool CAssertElxT::TryMatch(RegexSearchState& state) const {
    int32_t stack = state.mStack.GetCount();
    int32_t journal = state.mJournal.GetCount();
    int32_t cursor = state.mCursor;
    bool matched = mChild->TryMatch(state);
    if (matched) {
        state.mStack.Truncate(stack);
        state.mCursor = cursor;
    }
    if (!mNegative) {
        if (!matched) return false;
        state.Push(journal);
        return true;
    }
    if (matched) {
        // A negative assertion leaves no captures behind.
        state.UndoTo(journal);
        return false;
    }
    return true;
}

bool CAssertElxT::Backtrack(RegexSearchState& state) const {
    if (!mNegative && !state.mAbort) state.UndoTo(state.Pop());
    return false;
}

// ---- conditional ----

bool CConditionElxT::TryMatch(RegexSearchState& state) const {
    bool yes = false;
    bool asserted = false;
    if (mGroup >= 0) {
        int32_t start, end;
        yes = state.GetGroupSpan(mGroup, start, end);
    } else if (mAssert) {
        yes = asserted = mAssert->TryMatch(state);
    }
    const ElxInterface* branch = yes ? mYes : mNo;
    if (!branch || branch->TryMatch(state)) {
        state.Push(yes ? 1 : 0);
        return true;
    }
    if (asserted) mAssert->Backtrack(state);
    return false;
}

bool CConditionElxT::Backtrack(RegexSearchState& state) const {
    if (state.mAbort) return false;
    bool yes = state.Pop() != 0;
    const ElxInterface* branch = yes ? mYes : mNo;
    if (branch && branch->Backtrack(state)) {
        state.Push(yes ? 1 : 0);
        return true;
    }
    if (yes && mGroup < 0 && mAssert) mAssert->Backtrack(state);
    return false;
}

// ---- recursion ----

bool CDelegateElxT::TryMatch(RegexSearchState& state) const {
    if (!mTarget || state.mAbort || state.mRecursionDepth >= mDepthLimit) return false;
    // Every entry is work: recursion that consumes nothing before it recurses again (a pattern
    // searched right to left meets its own recursion first) branches at every level, and only
    // this count lets the step bound end that tree.
    state.CountSteps(1);
    if (state.mAbort) return false;
    ++state.mRecursionDepth;
    bool matched = mTarget->TryMatch(state);
    --state.mRecursionDepth;
    return matched;
}

bool CDelegateElxT::Backtrack(RegexSearchState& state) const {
    if (!mTarget || state.mAbort) return false;
    ++state.mRecursionDepth;
    bool matched = mTarget->Backtrack(state);
    --state.mRecursionDepth;
    return matched;
}
