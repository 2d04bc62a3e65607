// Lists split at delimiters and trimmed, as the server-data reader splits a server's list: the
// items are compared with a second, index-based reading of the same rules.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Source/Common/StringFormatter.h"

namespace {

bool InSet(WideChar unit, const std::vector<WideChar>& set) {
    for (WideChar member : set)
        if (member != 0 && member == unit) return true;
    return false;
}

// Items between delimiters, trimmed at both ends; an item that ends the text is kept only when
// something is left of it after trimming, unless nothing at all follows the last delimiter.
std::vector<std::u16string> Reference(const std::u16string& text, const std::vector<WideChar>& delimiters,
                                      const std::vector<WideChar>& trimSet) {
    std::vector<std::u16string> items;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size();
        if (!end && !InSet(text[i], delimiters)) continue;
        size_t first = start, last = i;
        while (first < last && InSet(text[first], trimSet)) ++first;
        while (last > first && InSet(text[last - 1], trimSet)) --last;
        if (!end || start == i || first < last) items.push_back(text.substr(first, last - first));
        start = i + 1;
    }
    return items;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size < 2 || size > 16384) return -1;
    // Byte 0: how many units of delimiters (1-4) and of the trim set (0-3) come first.
    const size_t delimiterCount = 1 + (data[0] & 3);
    const size_t trimCount = (data[0] >> 2) & 3;
    std::vector<WideChar> units = WideUnits(data + 1, size - 1);
    const size_t unitCount = (size - 1) / 2;
    if (unitCount < delimiterCount + trimCount) return -1;

    std::vector<WideChar> delimiters(units.begin(), units.begin() + long(delimiterCount));
    std::vector<WideChar> trimSet(units.begin() + long(delimiterCount), units.begin() + long(delimiterCount + trimCount));
    if (delimiters[0] == 0) return -1;
    delimiters.push_back(0);
    trimSet.push_back(0);
    // The sets end at their first 0, as the splitter reads them.
    for (size_t i = 0; i < delimiters.size(); ++i)
        if (delimiters[i] == 0) {
            delimiters.resize(i + 1);
            break;
        }
    for (size_t i = 0; i < trimSet.size(); ++i)
        if (trimSet[i] == 0) {
            trimSet.resize(i + 1);
            break;
        }

    const WideChar* text = units.data() + delimiterCount + trimCount;
    std::u16string textCopy(text);
    Array<String> items;
    Split(text, items, delimiters.data(), trimSet.size() > 1 ? trimSet.data() : _null);

    const std::vector<std::u16string> expected = Reference(textCopy, delimiters, trimSet);
    FUZZ_CHECK(size_t(items.GetCount()) == expected.size());
    for (int32_t i = 0; i < items.GetCount(); ++i)
        FUZZ_CHECK(std::u16string(items[i].Data(), size_t(items[i].GetLength())) == expected[size_t(i)]);

    // Splitting onto a list that already holds items appends after them.
    Array<String> more;
    more.Append(String(u"kept"));
    Split(text, more, delimiters.data(), trimSet.data());
    FUZZ_CHECK(more.GetCount() == items.GetCount() + 1);
    FUZZ_CHECK(more[0] == u"kept");
    return 0;
}
