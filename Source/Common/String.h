// The engine's UTF-16 string: exact-size allocation, a shared empty literal, ASCII-only case folding.
#pragma once

#include "Common/Types.h"

// Data is always NUL-terminated. An empty string points at a shared empty literal and owns
// nothing (capacity 0). Memory comes from the engine heap and holds exactly length + 1 units.
// Every assignment recomputes the length by scanning for the terminator, so an embedded NUL cuts
// the text. Case-insensitive operations (exact == false) fold only A-Z / a-z.
class String {
public:
    String();
    String(const WideChar* text, int32_t count = -1);
    String(const String& other);
    String(String&& other) noexcept;
    ~String();

    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    String& operator=(const WideChar* text);

    // Copies count units (or up to the terminator for -1). Reuses the buffer when it can hold
    // count + 1 units; an empty text frees the buffer and points at the shared empty literal.
    void Assign(const WideChar* text, int32_t count = -1);
    // Assign for count units that the caller knows hold no NUL unit (a formatter's output), so
    // that no scan for a terminator is needed; the result is the one Assign gives.
    void AssignUnits(const WideChar* units, int32_t count);
    // Points at caller-owned text without copying (capacity 0, nothing freed later). The caller
    // keeps the text alive and unchanged while the string refers to it.
    void Borrow(const WideChar* text);
    // Frees the buffer; the string becomes empty.
    void Clear();

    const WideChar* Data() const { return mData; }
    operator const WideChar*() const { return mData; }
    int32_t GetLength() const { return mLength; }
    uint32_t GetCapacity() const { return mCapacity; }
    bool IsEmpty() const { return mLength == 0; }
    WideChar operator[](int32_t index) const { return mData[index]; }

    // Units before the terminator; 0 for none.
    static int32_t Length(const WideChar* text);

    // Does nothing when position > length; grows to exactly the new length + 1.
    void Insert(int32_t position, const WideChar* text, int32_t count = -1);
    void InsertChar(int32_t position, WideChar unit);
    void Append(const WideChar* text, int32_t count = -1) { Insert(mLength, text, count); }
    // Removes up to count units (clipped to the end).
    void Remove(int32_t position, int32_t count);
    void TrimLeft(const WideChar* set, bool exact = true);
    void TrimRight(const WideChar* set, bool exact = true);
    void TrimLeftChar(WideChar unit, bool exact = true);
    void TrimRightChar(WideChar unit, bool exact = true);
    void ReplaceChar(WideChar unit, WideChar replacement, bool exact = true);
    // Replaces every occurrence, continuing after each inserted replacement (never re-searched).
    void ReplaceAll(const WideChar* find, const WideChar* replacement, bool exact = true);
    // -1 when absent; an empty text and the unit 0 give -1.
    int32_t Find(const WideChar* text, bool exact = true) const;
    int32_t FindChar(WideChar unit, bool exact = true) const;
    int32_t FindLastChar(WideChar unit, bool exact = true) const;
    // 0 when equal; exact: -1 / 1 by the first differing unit (unsigned); otherwise the
    // case-folded difference.
    int32_t Compare(const WideChar* other, bool exact = true) const;
    // True when the string begins with a non-empty prefix.
    bool StartsWith(const WideChar* prefix, bool exact = true) const;
    // A copy of count units from position (clipped).
    String Mid(int32_t position, int32_t count = -1) const;

    bool operator==(const WideChar* other) const { return Compare(other, true) == 0; }
    bool operator!=(const WideChar* other) const { return Compare(other, true) != 0; }
    bool operator==(const String& other) const { return Compare(other.mData, true) == 0; }
    bool operator!=(const String& other) const { return Compare(other.mData, true) != 0; }

private:
    // Gives a borrowed text private storage before an in-place change; false when empty or
    // when the heap refuses.
    bool MakeWritable();
    // First occurrence of text at or after start; -1 when absent or text is empty.
    int32_t FindFrom(const WideChar* text, int32_t start, bool exact) const;

    WideChar* mData;
    int32_t mLength;
    uint32_t mCapacity;
};

// ASCII-folded hash: h = 0x7FED7FED, s = 0xEEEEEEEE; per unit c (a-z as A-Z):
// h = c ^ (h + s); s = c + h + s + (s << 5) + 3. "abc" and "ABC" give 0x05DC025A.
uint32_t HashNoCase(const WideChar* text);
// ASCII case folding of one unit (a-z to A-Z, everything else as it is), and a case-insensitive
// compare of two texts: 0 when equal, else the difference of the first differing folded units.
WideChar FoldCase(WideChar unit);
int32_t CompareNoCase(const WideChar* a, const WideChar* b);
