// Capture bookkeeping of a search: capture records, the per-group index and the undo journal.
#include "regex/RegexSearchState.h"

namespace {

// Journal slots: >= 0 a value in the capture records; < 0 the index of group -slot - 1;
// kNoChange a mark that undoes nothing.
const int32_t kNoChange = -0x7FFFFFFF - 1;

// A record: the record it replaced as the group's capture (-1 none), start, end (-1 while the
// group is open) and the count of nested re-entries by recursion.
enum { RecordPrevious = 0,
       RecordStart = 1,
       RecordEnd = 2,
       RecordNesting = 3,
       RecordSize = 4 };

} // namespace

RegexSearchState::RegexSearchState()
    : mNextStart(0), mSearchStart(0), mCursor(0), mRecursionDepth(0), mAbort(false) {
    mStack.SetLimit(kStackLimit);
    mJournal.SetLimit(kStackLimit);
    mCaptures.SetLimit(kCaptureLimit);
}

void RegexSearchState::SetStackLimit(int32_t entries) {
    if (entries > kStackLimit || entries < 0) entries = kStackLimit;
    mStack.SetLimit(entries);
    mJournal.SetLimit(entries);
    mCaptures.SetLimit(entries);
}

void RegexSearchState::ResetAttempt(int32_t highestGroup) {
    mStack.Clear();
    mCaptures.Clear();
    mJournal.Clear();
    mGroupIndex.Clear();
    mRecursionDepth = 0;
    mAbort = !mGroupIndex.Resize(highestGroup + 1, -1);
}

bool RegexSearchState::GetGroupSpan(int32_t group, int32_t& start, int32_t& end) const {
    if (group < 0 || group >= mGroupIndex.GetCount()) return false;
    int32_t record = mGroupIndex[group];
    if (record < 0) return false;
    const int32_t* values = mCaptures.GetData() + record * RecordSize;
    if (values[RecordEnd] < 0) {
        // Open again (a repetition of the group under way): what it captured last time counts.
        record = values[RecordPrevious];
        if (record < 0) return false;
        values = mCaptures.GetData() + record * RecordSize;
    }
    start = values[RecordStart];
    end = values[RecordEnd];
    if (start > end) {
        int32_t swap = start;
        start = end;
        end = swap;
    }
    return true;
}

void RegexSearchState::Journal(int32_t slot, int32_t oldValue) {
    if (!mJournal.Push(slot) || !mJournal.Push(oldValue)) mAbort = true;
}

void RegexSearchState::OpenGroup(int32_t group) {
    if (group < 0 || group >= mGroupIndex.GetCount()) {
        Journal(kNoChange, 0);
        return;
    }
    int32_t record = mGroupIndex[group];
    if (record >= 0 && mCaptures[record * RecordSize + RecordEnd] < 0) {
        // Entered again (recursion) while still open: count it, keep the outer start.
        int32_t slot = record * RecordSize + RecordNesting;
        Journal(slot, mCaptures[slot]);
        ++mCaptures[slot];
        return;
    }
    const int32_t values[RecordSize] = {record, mCursor, -1, 0};
    if (!mCaptures.Append(values, RecordSize)) {
        mAbort = true;
        Journal(kNoChange, 0);
        return;
    }
    Journal(-group - 1, record);
    mGroupIndex[group] = mCaptures.GetCount() / RecordSize - 1;
}

void RegexSearchState::CloseGroup(int32_t group) {
    int32_t record = group >= 0 && group < mGroupIndex.GetCount() ? mGroupIndex[group] : -1;
    if (record < 0) {
        Journal(kNoChange, 0);
        return;
    }
    int32_t nesting = record * RecordSize + RecordNesting;
    if (mCaptures[nesting] > 0) {
        Journal(nesting, mCaptures[nesting]);
        --mCaptures[nesting];
        return;
    }
    int32_t end = record * RecordSize + RecordEnd;
    Journal(end, mCaptures[end]);
    mCaptures[end] = mCursor;
}

void RegexSearchState::UndoOne() {
    if (mJournal.GetCount() < 2) return;
    int32_t oldValue = mJournal.Pop();
    int32_t slot = mJournal.Pop();
    if (slot == kNoChange) return;
    if (slot >= 0) {
        if (slot < mCaptures.GetCount()) mCaptures[slot] = oldValue;
        return;
    }
    int32_t group = -slot - 1;
    if (group >= mGroupIndex.GetCount()) return;
    // The record this change created is the newest one: drop it with the change.
    int32_t current = mGroupIndex[group];
    if (current >= 0 && (current + 1) * RecordSize == mCaptures.GetCount()) mCaptures.Truncate(current * RecordSize);
    mGroupIndex[group] = oldValue;
}

void RegexSearchState::UndoTo(int32_t journalCount) {
    while (mJournal.GetCount() > journalCount && mJournal.GetCount() >= 2) UndoOne();
}
