// Reading access-log lines as ticks: the request time and the loader's query items.
#include "tools/ticks/TickLine.h"

#include <charconv>
#include <cstring>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly count digits at text[pos]; false when any is missing.
bool FixedNumber(std::string_view text, size_t pos, size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (!IsDigit(text[i])) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int MonthNumber(std::string_view name) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    for (int month = 0; month < 12; ++month)
        if (name.compare(0, 3, kMonths + month * 3, 3) == 0) return month + 1;
    return 0;
}

// "07/Dec/2026:12:25:43 +0100" (the server's local time and its offset) to UTC milliseconds.
bool CommonLogTime(std::string_view text, int64_t& timeMs) {
    int day, year, hour, minute, second, zoneHours, zoneMinutes;
    if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
        text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-'))
        return false;
    const int month = MonthNumber(text.substr(3, 3));
    if (month == 0 || !FixedNumber(text, 0, 2, day) || !FixedNumber(text, 7, 4, year) ||
        !FixedNumber(text, 12, 2, hour) || !FixedNumber(text, 15, 2, minute) || !FixedNumber(text, 18, 2, second) ||
        !FixedNumber(text, 22, 2, zoneHours) || !FixedNumber(text, 24, 2, zoneMinutes))
        return false;
    if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    int64_t seconds = DaysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60 + second;
    const int64_t zone = zoneHours * 3600 + zoneMinutes * 60;
    seconds += text[21] == '+' ? -zone : zone;
    timeMs = seconds * 1000;
    return true;
}

// nginx's $msec: "1765110343.123" (seconds, a point, milliseconds) followed by a blank.
bool MsecTime(std::string_view line, size_t& end, int64_t& timeMs) {
    size_t pos = 0;
    int64_t seconds = 0;
    while (pos < line.size() && IsDigit(line[pos]) && pos < 12) seconds = seconds * 10 + (line[pos++] - '0');
    int millis = 0;
    if (pos == 0 || pos >= line.size() || line[pos] != '.' || !FixedNumber(line, pos + 1, 3, millis)) return false;
    pos += 4;
    if (pos >= line.size() || line[pos] != ' ') return false;
    end = pos;
    timeMs = seconds * 1000 + millis;
    return true;
}

// The query of a request address: what follows its '?', up to the end of the address.
std::string_view QueryOf(std::string_view address) {
    const size_t mark = address.find('?');
    return mark == std::string_view::npos ? std::string_view() : address.substr(mark + 1);
}

// Fills the tick items from a query. Returns the line's kind: a tick needs both a run id and a
// state; with them present, a state outside 0 to 6 or an empty run id makes the line malformed.
LineKind ReadQuery(std::string_view query, TickLine& tick) {
    bool haveRun = false, haveState = false, stateValid = false;
    std::string_view state;
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view name = item.substr(0, equals), value = item.substr(equals + 1);
        // The loader's own items come after those of the configured address; where an address
        // repeats an item, the first is the one the loader kept.
        if (name == "s") {
            if (!haveRun) tick.mRunId = value;
            haveRun = true;
        } else if (name == "sg") {
            if (!haveState) state = value;
            haveState = true;
        } else if (name == "pg") {
            float progress = -1.0f;
            auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), progress);
            if (error == std::errc() && end == value.data() + value.size() && progress >= 0.0f && progress <= 1.0f)
                tick.mProgress = progress;
        } else if (name == "f") {
            tick.mFinal = value == "1";
        } else if (name == "av") {
            if (tick.mAppVersion.empty()) tick.mAppVersion = value;
        }
    }
    if (!haveRun || !haveState) return LineKind::NotTick;
    stateValid = state.size() == 1 && state[0] >= '0' && state[0] <= '6';
    if (!stateValid || tick.mRunId.empty()) return LineKind::Malformed;
    tick.mState = state[0] - '0';
    return LineKind::Tick;
}

TickLine CommonLogLine(std::string_view line) {
    TickLine tick;
    const size_t open = line.find('[');
    if (open == std::string_view::npos || open + 28 > line.size() || line[open + 27] != ']') return tick;
    if (!CommonLogTime(line.substr(open + 1, 26), tick.mTimeMs)) return tick;
    // The request: "METHOD ADDRESS PROTOCOL" in quotes. A line cut inside it still gives its address.
    if (open + 29 >= line.size() || line[open + 28] != ' ' || line[open + 29] != '"') return tick;
    std::string_view request = line.substr(open + 30);
    const size_t close = request.find('"');
    if (close != std::string_view::npos) request = request.substr(0, close);
    const size_t methodEnd = request.find(' ');
    tick.mKind = LineKind::NotTick;
    if (methodEnd == std::string_view::npos) return tick;
    std::string_view address = request.substr(methodEnd + 1);
    address = address.substr(0, address.find(' '));
    tick.mKind = ReadQuery(QueryOf(address), tick);
    return tick;
}

TickLine MsecLine(std::string_view line, size_t timeEnd, int64_t timeMs) {
    TickLine tick;
    tick.mTimeMs = timeMs;
    tick.mKind = LineKind::NotTick;
    std::string_view rest = line.substr(timeEnd);
    std::string_view args;
    while (!rest.empty()) {
        const size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        rest = rest.substr(start);
        const size_t end = rest.find(' ');
        std::string_view field = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (field.size() > 1 && field.front() == '"') field.remove_prefix(1);
        if (!field.empty() && field.back() == '"') field.remove_suffix(1);
        if (field.find('?') != std::string_view::npos) {
            args = QueryOf(field);
            break;
        }
        // $args on its own: the query without an address; only the first such field counts.
        if (args.empty() && field.find('=') != std::string_view::npos) args = field;
    }
    if (!args.empty()) tick.mKind = ReadQuery(args, tick);
    return tick;
}

} // namespace

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = unsigned(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + int64_t(dayOfEra) - 719468;
}

TickLine ReadTickLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t timeEnd = 0;
    int64_t timeMs = 0;
    if (!line.empty() && IsDigit(line[0]) && MsecTime(line, timeEnd, timeMs)) return MsecLine(line, timeEnd, timeMs);
    return CommonLogLine(line);
}
