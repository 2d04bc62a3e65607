// The engine's UTF-16 string: exact-size storage from the engine heap, the shared empty literal.
#include "Source/Common/String.h"

#include <cstring>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "Source/Common/Memory.h"

namespace {

// Every empty string points here; it is never written.
const WideChar kEmptyText[1] = {0};

WideChar* EmptyText() { return const_cast<WideChar*>(kEmptyText); }

// Units of text before its terminator, looking at no more than limit units (-1: no limit).
int32_t BoundedLength(const WideChar* text, int32_t limit) {
    if (text == _null) return 0;
    int32_t length = 0;
    if (limit < 0) {
        while (text[length] != 0) ++length;
        return length;
    }
#if defined(__SSE2__)
    // Eight units at a time while they all lie inside the limit.
    const __m128i zero = _mm_setzero_si128();
    while (limit - length >= 8) {
        __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + length));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)) != 0) break;
        length += 8;
    }
#else
    // Four units at a time while they all lie inside the limit: a word holds a zero unit when
    // the subtraction borrows into a unit's top bit that was clear.
    const uint64_t kOnes = 0x0001000100010001ull;
    const uint64_t kTops = 0x8000800080008000ull;
    while (limit - length >= 4) {
        uint64_t word;
        std::memcpy(&word, text + length, sizeof(word));
        if (((word - kOnes) & ~word & kTops) != 0) break;
        length += 4;
    }
#endif
    while (length < limit && text[length] != 0) ++length;
    return length;
}

bool SameUnit(WideChar a, WideChar b, bool exact) {
    return exact ? a == b : FoldCase(a) == FoldCase(b);
}

bool InSet(WideChar unit, const WideChar* set, bool exact) {
    if (set == _null) return false;
    for (; *set != 0; ++set)
        if (SameUnit(unit, *set, exact)) return true;
    return false;
}

// Fresh engine-heap storage for units + terminator; none when the heap refuses.
WideChar* NewUnits(int32_t units) {
    return static_cast<WideChar*>(HeapAllocate((size_t(units) + 1) * sizeof(WideChar)));
}

} // namespace

WideChar FoldCase(WideChar unit) {
    return (unit >= u'a' && unit <= u'z') ? WideChar(unit - (u'a' - u'A')) : unit;
}

int32_t CompareNoCase(const WideChar* a, const WideChar* b) {
    if (a == _null) a = kEmptyText;
    if (b == _null) b = kEmptyText;
    for (;; ++a, ++b) {
        int32_t difference = int32_t(FoldCase(*a)) - int32_t(FoldCase(*b));
        if (difference != 0 || *a == 0) return difference;
    }
}

uint32_t HashNoCase(const WideChar* text) {
    uint32_t h = 0x7FED7FED;
    uint32_t s = 0xEEEEEEEE;
    if (text == _null) return h;
    for (; *text != 0; ++text) {
        uint32_t c = FoldCase(*text);
        h = c ^ (h + s);
        s = c + h + s + (s << 5) + 3;
    }
    return h;
}

int32_t String::Length(const WideChar* text) { return BoundedLength(text, -1); }

String::String() : mData(EmptyText()), mLength(0), mCapacity(0) {}

String::String(const WideChar* text, int32_t count) : String() { Assign(text, count); }

String::String(const String& other) : String() { Assign(other.mData, other.mLength); }

String::String(String&& other) noexcept : mData(other.mData), mLength(other.mLength), mCapacity(other.mCapacity) {
    other.mData = EmptyText();
    other.mLength = 0;
    other.mCapacity = 0;
}

String::~String() { Clear(); }

String& String::operator=(const String& other) {
    if (this != &other) Assign(other.mData, other.mLength);
    return *this;
}

String& String::operator=(String&& other) noexcept {
    if (this != &other) {
        Clear();
        std::swap(mData, other.mData);
        std::swap(mLength, other.mLength);
        std::swap(mCapacity, other.mCapacity);
    }
    return *this;
}

String& String::operator=(const WideChar* text) {
    Assign(text, -1);
    return *this;
}

void String::Clear() {
    if (mCapacity != 0) HeapRelease(mData);
    mData = EmptyText();
    mLength = 0;
    mCapacity = 0;
}

void String::Assign(const WideChar* text, int32_t count) {
    // A count past the terminator copies only up to it: the length is the scanned one anyway,
    // and nothing beyond the caller's text is read.
    AssignUnits(text, BoundedLength(text, count));
}

void String::AssignUnits(const WideChar* text, int32_t length) {
    if (text == _null || length <= 0) {
        Clear();
        return;
    }
    if (mCapacity >= uint32_t(length) + 1) {
        // The text may lie inside our own buffer (a trim, a Mid of ourselves).
        CopyBytes(mData, text, size_t(length) * sizeof(WideChar));
        mData[length] = 0;
        mLength = length;
        return;
    }
    WideChar* data = NewUnits(length);
    if (data == _null) return; // reported by the heap; the string keeps its old text
    CopyBytes(data, text, size_t(length) * sizeof(WideChar));
    data[length] = 0;
    Clear();
    mData = data;
    mLength = length;
    mCapacity = uint32_t(length) + 1;
}

void String::Borrow(const WideChar* text) {
    Clear();
    if (text == _null || text[0] == 0) return;
    mData = const_cast<WideChar*>(text);
    mLength = Length(text);
}

bool String::MakeWritable() {
    if (mCapacity != 0 || mLength == 0) return mLength != 0;
    WideChar* data = NewUnits(mLength);
    if (data == _null) return false;
    CopyBytes(data, mData, (size_t(mLength) + 1) * sizeof(WideChar));
    mData = data;
    mCapacity = uint32_t(mLength) + 1;
    return true;
}

void String::Insert(int32_t position, const WideChar* text, int32_t count) {
    if (position < 0 || position > mLength) return;
    int32_t inserted = BoundedLength(text, count);
    if (inserted == 0) return;
    if (inserted > 0x7FFFFFFE - mLength) return;
    int32_t length = mLength + inserted;
    // Text taken from our own buffer must be copied before that buffer moves or shifts.
    if (text >= mData && text <= mData + mLength) {
        String copy(text, inserted);
        if (copy.mLength == inserted) Insert(position, copy.mData, inserted);
        return;
    }
    if (mCapacity >= uint32_t(length) + 1) {
        CopyBytes(mData + position + inserted, mData + position, (size_t(mLength - position) + 1) * sizeof(WideChar));
        CopyBytes(mData + position, text, size_t(inserted) * sizeof(WideChar));
        mLength = length;
        return;
    }
    WideChar* data = NewUnits(length);
    if (data == _null) return;
    CopyBytes(data, mData, size_t(position) * sizeof(WideChar));
    CopyBytes(data + position, text, size_t(inserted) * sizeof(WideChar));
    CopyBytes(data + position + inserted, mData + position, (size_t(mLength - position) + 1) * sizeof(WideChar));
    Clear();
    mData = data;
    mLength = length;
    mCapacity = uint32_t(length) + 1;
}

void String::InsertChar(int32_t position, WideChar unit) {
    WideChar text[2] = {unit, 0};
    Insert(position, text, 1);
}

void String::Remove(int32_t position, int32_t count) {
    if (position < 0 || position >= mLength || count <= 0) return;
    if (count > mLength - position) count = mLength - position;
    if (count == mLength) {
        Clear();
        return;
    }
    if (!MakeWritable()) return;
    CopyBytes(mData + position, mData + position + count, (size_t(mLength - position - count) + 1) * sizeof(WideChar));
    mLength -= count;
}

void String::TrimLeft(const WideChar* set, bool exact) {
    int32_t start = 0;
    while (start < mLength && InSet(mData[start], set, exact)) ++start;
    if (start != 0) Assign(mData + start, mLength - start);
}

void String::TrimRight(const WideChar* set, bool exact) {
    int32_t end = mLength;
    while (end > 0 && InSet(mData[end - 1], set, exact)) --end;
    if (end != mLength) Assign(mData, end);
}

void String::TrimLeftChar(WideChar unit, bool exact) {
    WideChar set[2] = {unit, 0};
    TrimLeft(set, exact);
}

void String::TrimRightChar(WideChar unit, bool exact) {
    WideChar set[2] = {unit, 0};
    TrimRight(set, exact);
}

void String::ReplaceChar(WideChar unit, WideChar replacement, bool exact) {
    if (unit == 0 || FindChar(unit, exact) < 0) return;
    // Borrowed text belongs to the caller: change a private copy instead.
    if (!MakeWritable()) return;
    for (int32_t i = 0; i < mLength; ++i)
        if (SameUnit(mData[i], unit, exact)) mData[i] = replacement;
    // A NUL replacement cuts the text like any assignment would.
    if (replacement == 0) mLength = Length(mData);
}

int32_t String::FindFrom(const WideChar* text, int32_t start, bool exact) const {
    int32_t length = Length(text);
    if (length == 0 || start < 0) return -1;
    for (int32_t i = start; i + length <= mLength; ++i) {
        int32_t j = 0;
        while (j < length && SameUnit(mData[i + j], text[j], exact)) ++j;
        if (j == length) return i;
    }
    return -1;
}

void String::ReplaceAll(const WideChar* find, const WideChar* replacement, bool exact) {
    int32_t findLength = Length(find);
    if (findLength == 0) return;
    // The texts may be parts of this string; keep them fixed while it changes.
    String findCopy(find, findLength);
    String replacementCopy(replacement);
    int32_t position = 0;
    for (;;) {
        int32_t found = FindFrom(findCopy.mData, position, exact);
        if (found < 0) return;
        Remove(found, findLength);
        Insert(found, replacementCopy.mData, replacementCopy.mLength);
        position = found + replacementCopy.mLength;
    }
}

int32_t String::Find(const WideChar* text, bool exact) const { return FindFrom(text, 0, exact); }

int32_t String::FindChar(WideChar unit, bool exact) const {
    if (unit == 0) return -1;
    for (int32_t i = 0; i < mLength; ++i)
        if (SameUnit(mData[i], unit, exact)) return i;
    return -1;
}

int32_t String::FindLastChar(WideChar unit, bool exact) const {
    if (unit == 0) return -1;
    for (int32_t i = mLength - 1; i >= 0; --i)
        if (SameUnit(mData[i], unit, exact)) return i;
    return -1;
}

int32_t String::Compare(const WideChar* other, bool exact) const {
    if (other == _null) other = kEmptyText;
    if (!exact) return CompareNoCase(mData, other);
    const WideChar* a = mData;
    for (;; ++a, ++other) {
        if (*a != *other) return *a < *other ? -1 : 1;
        if (*a == 0) return 0;
    }
}

bool String::StartsWith(const WideChar* prefix, bool exact) const {
    int32_t length = Length(prefix);
    if (length == 0 || length > mLength) return false;
    for (int32_t i = 0; i < length; ++i)
        if (!SameUnit(mData[i], prefix[i], exact)) return false;
    return true;
}

String String::Mid(int32_t position, int32_t count) const {
    if (position < 0 || position >= mLength || count == 0) return String();
    if (count < 0 || count > mLength - position) count = mLength - position;
    return String(mData + position, count);
}
