// Reading launch parameter values.
#include "loader/LaunchValues.h"

#include "Source/Common/StringFormatter.h"

namespace {

// The first unit after the leading blanks and the sign; negative tells which sign it was.
const WideChar* SkipBlanksAndSign(const WideChar* cursor, bool& negative) {
    while (*cursor == u' ' || (*cursor >= u'\t' && *cursor <= u'\r'))
        ++cursor;
    negative = false;
    if (*cursor == u'+' || *cursor == u'-')
        negative = *cursor++ == u'-';
    return cursor;
}

} // namespace

bool HasLaunchNumber(const WideChar* value) {
    bool negative = false;
    const WideChar* cursor = value != _null ? SkipBlanksAndSign(value, negative) : _null;
    return cursor != _null && *cursor >= u'0' && *cursor <= u'9';
}

int32_t ParseLaunchNumber(const WideChar* value) {
    if (value == _null)
        return 0;
    bool negative = false;
    const WideChar* cursor = SkipBlanksAndSign(value, negative);
    int64_t result = 0;
    while (*cursor >= u'0' && *cursor <= u'9') {
        result = result * 10 + (*cursor++ - u'0');
        if (result > int64_t(INT32_MAX) + 1)
            result = int64_t(INT32_MAX) + 1;
    }
    if (negative)
        result = -result;
    if (result > INT32_MAX)
        result = INT32_MAX;
    return int32_t(result);
}

void SplitLaunchList(const WideChar* value, Array<String>& list) {
    Array<String> items;
    Split(value != _null ? value : u"", items, u"|", u" \t");
    for (String& item : items)
        list.Append(static_cast<String&&>(item));
}

String HostOfAddress(const WideChar* address) {
    Array<String> items;
    Split(address != _null ? address : u"", items, u"/?", u" \t");
    for (const String& item : items) {
        if (item.IsEmpty() || item.StartsWith(u"http", true))
            continue;
        const int32_t colon = item.FindChar(u':', true);
        return colon < 0 ? item : item.Mid(0, colon);
    }
    return String();
}
