// Pattern search: one compiled regular expression and the positions of its matches in a text.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

class RegexPattern;

// Holds one compiled pattern (owned, or none) and an option word. The server-data reader uses it
// to cut values out of the server's answer, e.g. "\"default\":\\d+" and then the key's list.
// Positions are UTF-16 unit indices into the searched text. A PatternSearch is used on one
// thread at a time; it is not copyable.
class PatternSearch {
public:
    // Option bit 0: match without regard to case (the engine's ignore-case flag). Every other
    // bit is ignored.
    static const uint32_t OptionIgnoreCase = 1;

    explicit PatternSearch(uint32_t options = 0);
    // Frees the compiled pattern.
    ~PatternSearch();
    PatternSearch(const PatternSearch&) = delete;
    PatternSearch& operator=(const PatternSearch&) = delete;

    // The option word read by the next Compile (a change does not affect a compiled pattern).
    void SetOptions(uint32_t options) { mOptions = options; }
    uint32_t GetOptions() const { return mOptions; }

    // Frees any previous pattern, then compiles this one unchanged (ignore-case when option bit 0
    // is set). The pattern language has no syntax errors: every text compiles. Returns false
    // only when the pattern could not be stored (out of memory); searches then find nothing.
    bool Compile(const String& pattern);
    // True while a compiled pattern is held.
    bool IsCompiled() const { return mPattern != _null; }

    // Bounds the work of each later search (match attempts and repetition steps, see
    // RegexSearchState::SetStepLimit); 0, the default, leaves searches unbounded. A search that
    // reaches the bound finds nothing more and WasStopped tells so.
    void SetStepLimit(int64_t steps) { mStepLimit = steps > 0 ? steps : 0; }
    // True when the last Search ended at the step bound rather than at the end of the text.
    bool WasStopped() const { return mStopped; }

    // Searches the whole text from its start and stores each match's start (index of its first
    // unit) and end (index after its last unit) in the next slots of starts and ends (both
    // caller-owned, room for capacity entries). With findAll false it stops after the first
    // match; otherwise it continues after each match (an empty match steps one unit on) while
    // fewer than capacity matches are stored. Returns the number stored: 0 when nothing is
    // compiled, when nothing matches (the arrays are then left untouched), or when capacity is
    // not positive or an array is missing.
    int32_t Search(const String& text, int32_t* starts, int32_t* ends, int32_t capacity, bool findAll) const;
    // The same over a counted text that need not be terminated (length units from text).
    int32_t Search(const WideChar* text, int32_t length, int32_t* starts, int32_t* ends, int32_t capacity,
                   bool findAll) const;

private:
    RegexPattern* mPattern;
    uint32_t mOptions;
    int64_t mStepLimit = 0;
    // Set by the (logically read-only) searches; a PatternSearch serves one thread at a time.
    mutable bool mStopped = false;
};
