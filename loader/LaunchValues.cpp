// Reading launch parameter values.
#include "loader/LaunchValues.h"

#include "Source/Common/StringFormatter.h"

int32_t ParseLaunchNumber(const WideChar* value) {
    if (value == _null)
        return 0;
    const WideChar* cursor = value;
    while (*cursor == u' ' || (*cursor >= u'\t' && *cursor <= u'\r'))
        ++cursor;
    bool negative = false;
    if (*cursor == u'+' || *cursor == u'-')
        negative = *cursor++ == u'-';
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
