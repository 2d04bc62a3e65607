// Path splitting and list splitting over UTF-16 text.
#include "Source/Common/StringFormatter.h"

#include "Source/Platform/Log.h"

namespace {

const WideChar kModule[] = u"Source/Common/StringFormatter";

int32_t LastIndexOf(const WideChar* text, int32_t length, WideChar unit) {
    for (int32_t i = length - 1; i >= 0; --i)
        if (text[i] == unit) return i;
    return -1;
}

// The last separator, a backslash anywhere preferred to a slash, a slash to a colon.
int32_t LastSeparator(const WideChar* path, int32_t length) {
    int32_t index = LastIndexOf(path, length, u'\\');
    if (index < 0) index = LastIndexOf(path, length, u'/');
    if (index < 0) index = LastIndexOf(path, length, u':');
    return index;
}

bool InSet(WideChar unit, const WideChar* set) {
    if (set == _null) return false;
    for (; *set != 0; ++set)
        if (*set == unit) return true;
    return false;
}

void AppendTrimmed(Array<String>& output, const WideChar* start, const WideChar* end, const WideChar* trimSet,
                   bool keepEmpty) {
    while (start < end && InSet(*start, trimSet)) ++start;
    while (end > start && InSet(end[-1], trimSet)) --end;
    if (start == end && !keepEmpty) return;
    output.Append(String(start, int32_t(end - start)));
}

} // namespace

String PathWithoutExtension(const WideChar* path) {
    int32_t length = String::Length(path);
    int32_t dot = LastIndexOf(path, length, u'.');
    return dot < 0 ? String(path, length) : String(path, dot);
}

String PathExtension(const WideChar* path) {
    int32_t length = String::Length(path);
    int32_t dot = LastIndexOf(path, length, u'.');
    return dot < 0 ? String() : String(path + dot + 1, length - dot - 1);
}

String PathFolder(const WideChar* path) {
    int32_t length = String::Length(path);
    int32_t separator = LastSeparator(path, length);
    return separator < 0 ? String() : String(path, separator);
}

String PathFileName(const WideChar* path, bool keepFolder, bool keepExtension) {
    int32_t length = String::Length(path);
    int32_t start = keepFolder ? 0 : LastSeparator(path, length) + 1;
    int32_t end = length;
    if (!keepExtension) {
        int32_t dot = LastIndexOf(path, length, u'.');
        if (dot > start) end = dot;
    }
    return String(path + start, end - start);
}

void Split(const WideChar* text, Array<String>& output, const WideChar* delimiters, const WideChar* trimSet) {
    if (!VEXAL_CHECK(delimiters != _null && delimiters[0] != 0, u"division != L\"\"", kModule)) return;
    if (text == _null) text = u"";
    const WideChar* pending = _null;
    const WideChar* p = text;
    for (; *p != 0; ++p) {
        if (InSet(*p, delimiters)) {
            if (pending == _null) output.Append(String());
            else AppendTrimmed(output, pending, p, trimSet, true);
            pending = _null;
        } else if (pending == _null) {
            pending = p;
        }
    }
    if (pending == _null) output.Append(String());
    else AppendTrimmed(output, pending, p, trimSet, false);
}
