// vexal-ticks as an operator runs it on access logs: thousands of generated runs whose drop-outs
// and times are known, the demo's own tick log, damaged and mixed lines, gzip-compressed input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"

namespace {

std::string Tool() { return std::string("'") + VEXAL_BINARY_DIR + "/bin/vexal-ticks'"; }

CommandRun RunTool(const std::string& arguments) { return RunCommand(Tool() + " " + arguments); }

// The JSON output read by position: the object of an app version ("" for the total), then a
// field of it or of one of its states.
struct Report {
    std::string mJson;

    size_t VersionAt(const std::string& version) const {
        const size_t at = version.empty() ? mJson.find("\"total\":") : mJson.find("{\"appVersion\":\"" + version + "\"");
        return at;
    }
    double Number(size_t from, const std::string& name) const {
        if (from == std::string::npos) return NAN;
        const size_t at = mJson.find("\"" + name + "\":", from);
        if (at == std::string::npos) return NAN;
        const char* text = mJson.c_str() + at + name.size() + 3;
        return std::strncmp(text, "null", 4) == 0 ? -1.0 : std::strtod(text, nullptr);
    }
    double Field(const std::string& version, const std::string& name) const { return Number(VersionAt(version), name); }
    double State(const std::string& version, int state, const std::string& name) const {
        const size_t at = VersionAt(version);
        if (at == std::string::npos) return NAN;
        return Number(mJson.find("{\"state\":" + std::to_string(state) + ",", at), name);
    }
    double Lines(const std::string& name) const { return Number(mJson.find("\"lines\":"), name); }
};

Report JsonOf(const std::string& arguments, int* status = nullptr) {
    CommandRun run = RunCommand(Tool() + " --json " + arguments, ErrorOutput::Separate);
    if (status) *status = run.mStatus;
    return {run.mOutput};
}

// Nearest-rank percentile of exact values, in seconds.
double Percentile(std::vector<int64_t> values, double share) {
    std::sort(values.begin(), values.end());
    const size_t rank = std::max<size_t>(1, size_t(std::ceil(share * double(values.size()))));
    return double(values[rank - 1]) / 1000.0;
}

// ---------------------------------------------------------------------------------------------
// Generated logs: Apache's combined format (whole seconds) with the server at +0100, runs starting
// 7 s apart so that a dozen load at once, each with the figures the tool must find.

struct Expected {
    uint64_t mRuns = 0, mWarm = 0, mLost = 0, mStillLoading = 0;
    std::array<uint64_t, 7> mReached{}, mStopped{};
    std::array<std::vector<int64_t>, 7> mTimes;
    std::array<uint64_t, 10> mLostProgress{};
    uint64_t mLostWithoutProgress = 0;
    uint64_t mLateTicks = 0; // state ticks logged after their run's final tick
};

struct Line {
    int64_t mMs;
    std::string mText;
};

std::string CombinedLine(int64_t ms, const std::string& request, int status) {
    const time_t local = time_t(ms / 1000 + 3600);
    tm parts;
    gmtime_r(&local, &parts);
    char when[40];
    std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S +0100", &parts);
    return "192.0.2.7 - - [" + std::string(when) + "] \"GET " + request + " HTTP/1.1\" " + std::to_string(status) +
           " 0 \"-\" \"Vexal3D host (X11; Linux x86_64)\"";
}

// Writes runs runs into lines and the figures expected per version into expected (key "" for
// all). idleMs: the tool's idle time, which decides which lost runs are still loading at the end.
void GenerateRuns(int firstRun, int runs, std::vector<Line>& lines, std::map<std::string, Expected>& expected,
                  int64_t idleMs) {
    const int64_t origin = int64_t(1796646343) * 1000;
    struct RunInfo {
        std::string mVersion;
        int64_t mLast;
        int mFurthest;
        float mProgress;
        std::array<int64_t, 7> mAt;
    };
    std::vector<RunInfo> infos;
    int64_t latest = 0;
    for (int r = firstRun; r < firstRun + runs; ++r) {
        const std::string version = r % 2 ? "1.1" : "1.0";
        const std::string id = "198.51.100." + std::to_string(r % 250) + "_2026120712" + std::to_string(100000 + r);
        const std::string base = "/tick?game=demo&s=" + id + "&cv=20261201093000";
        const int64_t start = origin + int64_t(r) * 7000;
        // Without server data (one run in six) the loader goes from state 0 straight to 3.
        const bool serverData = r % 6 != 5;
        const bool warm = r % 4 == 0;
        const int lostAt = r % 10 == 7 ? 4 : r % 25 == 11 ? (serverData ? 1 : 3)
                                                          : -1;
        RunInfo info{version, start, 0, -1.0f, {}};
        info.mAt.fill(-1);
        auto tick = [&](int64_t at, int state, const std::string& extra, bool withVersion = true) {
            lines.push_back({at, CombinedLine(at, base + "&sg=" + std::to_string(state) + extra + (withVersion ? "&av=" + version : ""), 204)});
            info.mLast = std::max(info.mLast, at);
        };
        auto enter = [&](int state, int64_t at) {
            tick(at, state, "", state != 0);
            info.mAt[state] = at - start;
            info.mFurthest = state;
        };
        enter(0, start);
        std::vector<int> path = serverData ? std::vector<int>{1, 2, 3, 4} : std::vector<int>{3, 4};
        int64_t at = start;
        bool lost = false;
        for (int state : path) {
            at += 1000 + (r % 3) * 1000;
            enter(state, at);
            if (state == lostAt) {
                lost = true;
                break;
            }
        }
        // Module files: periodic ticks every second with the progress; lost runs stop at 35 %.
        const int64_t filesStart = at;
        const int64_t filesTime = warm ? 1000 : 4000 + (r % 20) * 1000;
        if (info.mFurthest == 4) {
            for (int64_t s = 1000; s < (lost ? 3000 : filesTime); s += 1000) {
                const float progress = lost ? (s == 1000 ? 0.15f : 0.35f) : float(s) / float(filesTime);
                char items[64];
                std::snprintf(items, sizeof items, "&pg=%f", double(progress));
                tick(filesStart + s, 4, items + std::string("&m=0") + "&t=" + std::to_string(s / 1000));
                info.mProgress = progress;
            }
        }
        if (!lost) {
            enter(5, filesStart + filesTime);
            // The final tick (sg=6, f=1) is sometimes logged before the state tick it follows.
            const int64_t handOver = filesStart + filesTime + 1000 + (r % 7) * 1000;
            const std::string final = "&m=0&t=" + std::to_string((handOver - start) / 1000) + "&f=1";
            if (r % 9 == 0) {
                tick(handOver, 6, final);
                enter(6, handOver);
                ++expected[""].mLateTicks;
            } else {
                enter(6, handOver);
                tick(handOver + 1000, 6, final);
            }
        }
        // Requests that are not ticks: the package, a report.
        lines.push_back({start + 500, CombinedLine(start + 500, "/packages/demo.vpk", 206)});
        lines.push_back({start + 600, CombinedLine(start + 600, "/report?game=demo&server=3", 204)});
        latest = std::max(latest, info.mLast);
        infos.push_back(info);
    }
    for (const RunInfo& info : infos) {
        for (Expected* figures : {&expected[info.mVersion], &expected[""]}) {
            ++figures->mRuns;
            for (int state = 0; state < 7; ++state) {
                if (info.mAt[state] < 0) continue;
                ++figures->mReached[state];
                figures->mTimes[state].push_back(info.mAt[state]);
            }
            if (info.mAt[4] >= 0 && info.mAt[5] >= 0 && info.mAt[5] - info.mAt[4] <= 1000) ++figures->mWarm;
            if (info.mFurthest == 6) continue;
            if (info.mLast >= latest - idleMs) {
                ++figures->mStillLoading;
                continue;
            }
            ++figures->mLost;
            ++figures->mStopped[info.mFurthest];
            if (info.mProgress < 0)
                ++figures->mLostWithoutProgress;
            else
                ++figures->mLostProgress[std::min(9, int(info.mProgress * 10))];
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.mMs < b.mMs; });
}

std::string Joined(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines) text += line.mText + "\n";
    return text;
}

void ExpectFigures(const Report& report, const std::string& version, const Expected& expected) {
    SCOPED_TRACE("app version '" + version + "'");
    EXPECT_EQ(report.Field(version, "runs"), double(expected.mRuns));
    EXPECT_EQ(report.Field(version, "lost"), double(expected.mLost));
    EXPECT_EQ(report.Field(version, "stillLoading"), double(expected.mStillLoading));
    EXPECT_EQ(report.Field(version, "warm"), double(expected.mWarm));
    EXPECT_EQ(report.Field(version, "handedOver"), double(expected.mReached[6]));
    for (int state = 0; state < 7; ++state) {
        SCOPED_TRACE("state " + std::to_string(state));
        EXPECT_EQ(report.State(version, state, "reached"), double(expected.mReached[state]));
        EXPECT_EQ(report.State(version, state, "lost"), double(expected.mStopped[state]));
        if (expected.mTimes[state].empty()) {
            EXPECT_EQ(report.State(version, state, "medianSeconds"), -1.0);
            continue;
        }
        // Times are kept in steps of under 0.2 % of their value.
        const double median = Percentile(expected.mTimes[state], 0.5), p90 = Percentile(expected.mTimes[state], 0.9);
        EXPECT_NEAR(report.State(version, state, "medianSeconds"), median, median * 0.002 + 0.001);
        EXPECT_NEAR(report.State(version, state, "p90Seconds"), p90, p90 * 0.002 + 0.001);
    }
    const size_t progress = report.mJson.find("\"tenths\":[", report.VersionAt(version));
    ASSERT_NE(progress, std::string::npos);
    std::string tenths;
    for (size_t i = 0; i < 10; ++i) tenths += std::string(i ? "," : "") + std::to_string(expected.mLostProgress[i]);
    EXPECT_EQ(report.mJson.compare(progress + 10, tenths.size() + 1, tenths + "]"), 0) << tenths;
    EXPECT_EQ(report.Number(progress, "noneSent"), double(expected.mLostWithoutProgress));
}

bool WriteGzip(const std::string& path, const std::vector<std::string>& members) {
    // Each member compressed on its own and the results joined, as `cat a.gz b.gz` does.
    std::string joined;
    for (const std::string& member : members) {
        z_stream stream = {};
        if (deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
        std::string out(deflateBound(&stream, uLong(member.size())) + 64, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.data()));
        stream.avail_in = uInt(member.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = uInt(out.size());
        const int status = deflate(&stream, Z_FINISH);
        out.resize(out.size() - stream.avail_out);
        deflateEnd(&stream);
        if (status != Z_STREAM_END) return false;
        joined += out;
    }
    return WriteNativeFile(path, joined);
}

} // namespace

TEST(TicksTool, GeneratedRunsGiveTheirKnownFunnel) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    std::vector<Line> lines;
    std::map<std::string, Expected> expected;
    const int64_t idleMs = 120 * 1000;
    GenerateRuns(0, 3000, lines, expected, idleMs);
    ASSERT_TRUE(WriteNativeFile(folder.Native("access.log"), Joined(lines)));

    int status = -1;
    const Report report = JsonOf("--idle 120 '" + folder.Native("access.log") + "'", &status);
    EXPECT_EQ(status, 0) << report.mJson;
    // The log holds runs still loading at its end, runs lost before their first periodic tick
    // and runs lost in a state reached without server data.
    ASSERT_GT(expected[""].mStillLoading, 0u);
    ASSERT_GT(expected[""].mLostWithoutProgress, 0u);
    ASSERT_GT(expected[""].mStopped[3], 0u);
    for (const auto& [version, figures] : expected) ExpectFigures(report, version, figures);
    EXPECT_EQ(report.Lines("otherRequests"), 6000.0);
    EXPECT_EQ(report.Lines("malformed"), 0.0);
    EXPECT_EQ(report.Lines("ticks") + 6000.0, report.Lines("read"));
    EXPECT_EQ(report.Lines("lateTicks"), double(expected[""].mLateTicks));

    // The same log on standard input and as a table: the terminal shows the same counts.
    CommandRun table = RunCommand(Tool() + " < '" + folder.Native("access.log") + "' --idle 120");
    EXPECT_EQ(table.mStatus, 0);
    EXPECT_NE(table.mOutput.find("app version 1.0: 1500 runs, " + std::to_string(expected["1.0"].mReached[6]) +
                                 " handed over, " + std::to_string(expected["1.0"].mLost) + " lost"),
              std::string::npos)
        << table.mOutput;
    EXPECT_NE(table.mOutput.find("all app versions: 3000 runs"), std::string::npos);
}

TEST(TicksTool, LogsGivenNewestFirstStillEndTheirRuns) {
    // Two rotated logs an hour apart, the newer given first: the log's time goes back once. Runs
    // lost in either log must still end as lost, not wait as "still loading" until the end.
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    std::vector<Line> older, newer;
    std::map<std::string, Expected> olderFigures, newerFigures;
    GenerateRuns(0, 400, older, olderFigures, 120 * 1000);
    GenerateRuns(1000, 400, newer, newerFigures, 120 * 1000);
    ASSERT_TRUE(WriteNativeFile(folder.Native("access.log.1"), Joined(older)));
    ASSERT_TRUE(WriteNativeFile(folder.Native("access.log"), Joined(newer)));

    CommandRun run = RunCommand(Tool() + " --json --idle 120 '" + folder.Native("access.log") + "' '" +
                                folder.Native("access.log.1") + "' 2>&1");
    EXPECT_EQ(run.mStatus, 0);
    EXPECT_NE(run.mOutput.find("the log's time went back"), std::string::npos) << run.mOutput;
    const Report report{run.mOutput.substr(run.mOutput.find('{'))};
    const Expected& a = olderFigures[""];
    const Expected& b = newerFigures[""];
    EXPECT_EQ(report.Field("", "runs"), double(a.mRuns + b.mRuns));
    EXPECT_EQ(report.Field("", "handedOver"), double(a.mReached[6] + b.mReached[6]));
    EXPECT_EQ(report.Field("", "lost") + report.Field("", "stillLoading"),
              double(a.mLost + a.mStillLoading + b.mLost + b.mStillLoading));
    EXPECT_LE(report.Field("", "stillLoading"), double(a.mStillLoading + b.mStillLoading));
    EXPECT_EQ(report.Lines("lateTicks"), double(a.mLateTicks + b.mLateTicks));
}

TEST(TicksTool, ReadsTheDemoNginxTickLog) {
    // nginx's "$msec $args": millisecond times; the first tick of a run carries no app version.
    const std::string log = std::string(VEXAL_TEST_DATA_DIR) + "/ticks/demo-tick.log";
    int status = -1;
    const Report report = JsonOf("'" + log + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(report.mJson.find("\"appVersion\":\"\""), std::string::npos) << report.mJson;
    EXPECT_EQ(report.Field("1.0.0", "runs"), 2.0);
    EXPECT_EQ(report.Field("1.0.0", "handedOver"), 2.0);
    EXPECT_EQ(report.Field("1.0.0", "warm"), 1.0); // the second run found its files in place
    EXPECT_EQ(report.Lines("lateTicks"), 0.0);
    EXPECT_NEAR(report.State("1.0.0", 4, "medianSeconds"), 0.083, 0.0005);
    EXPECT_NEAR(report.State("1.0.0", 5, "medianSeconds"), 0.361, 0.0005);
    EXPECT_NEAR(report.State("1.0.0", 5, "p90Seconds"), 6.377, 6.377 * 0.002);
    EXPECT_NEAR(report.State("1.0.0", 6, "p90Seconds"), 7.395, 7.395 * 0.002);

    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    const std::string svg = folder.Native("funnel.svg");
    CommandRun run = RunTool("--svg '" + svg + "' '" + log + "'");
    EXPECT_EQ(run.mStatus, 0) << run.mOutput;
    const std::string picture = ReadNativeFile(svg);
    EXPECT_EQ(picture.rfind("<?xml", 0), 0u);
    EXPECT_NE(picture.find("</svg>"), std::string::npos);
}

TEST(TicksTool, DamagedTruncatedAndMixedLinesAreCountedAndSkipped) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    const std::string a = "/tick?s=run-a&cv=1", b = "/tick?s=run-b&cv=1";
    std::string log;
    auto add = [&log](const std::string& line) { log += line + "\n"; };
    add(CombinedLine(1796646343000, a + "&sg=0", 204));
    add("10.0.0.1 - - [07/Dec/2026:12:25:44 +0000] \"GET " + a + "&sg=3&av=2.0 HTTP/1.1\" 204 0"); // common format
    add(CombinedLine(1796646345000, "/index.html", 200));                                          // not a tick
    add("");
    add("garbage without any shape");
    add(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11));                          // TLS on plain HTTP
    add("10.0.0.1 - - [07/Dec/20");                                                                // cut in the time
    add("10.0.0.1 - - [32/Dec/2026:12:25:44 +0000] \"GET " + a + "&sg=4 HTTP/1.1\" 204 0");        // no such day
    add("10.0.0.1 - - [07/Dec/2026:12:25:46 +0000] \"GET " + a + "&sg=9&av=2.0 HTTP/1.1\" 204 0"); // no such state
    add("10.0.0.1 - - [07/Dec/2026:12:25:46 +0000] \"GET " + a + "&sg=-1 HTTP/1.1\" 204 0");
    add("10.0.0.1 - - [07/Dec/2026:12:25:46 +0000] \"GET /tick?s=&sg=4 HTTP/1.1\" 204 0"); // no run id
    add("10.0.0.1 - - [07/Dec/2026:12:25:46 +0000] \"-\" 400 0 \"-\" \"-\"");              // nginx, no request
    add(std::string(100000, 'x'));                                                         // longer than any request
    add("10.0.0.1 - - [07/Dec/2026:12:25:47 +0000] \"GET " + a + "&sg=4&pg=0.5&av=2.0 HTTP/1.1\" 204 0\r");
    // Cut inside the request: the address is whole, the tick counts.
    add("10.0.0.1 - - [07/Dec/2026:12:25:48 +0000] \"GET " + a + "&sg=4&pg=0.620000&av=2.0");
    // The demo's access-log format ($msec $status $bytes $method $request_uri "$http_range").
    add("1796646343.250 204 0 GET " + b + "&sg=0 \"-\"");
    add("1796646343.500 204 0 GET /packages/demo.vpk \"bytes=0-1131\"");
    add("1796646344.100 204 0 GET " + b + "&sg=6&av=2.0&m=0&t=0&f=1 \"-\"");
    log += CombinedLine(1796646349000, b + "&sg=6&av=2.0", 204); // after the final tick, and no line break
    ASSERT_TRUE(WriteNativeFile(folder.Native("mixed.log"), log));

    int status = -1;
    const Report report = JsonOf("'" + folder.Native("mixed.log") + "'", &status);
    EXPECT_EQ(status, 0) << report.mJson;
    EXPECT_EQ(report.Lines("read"), 19.0);
    EXPECT_EQ(report.Lines("ticks"), 7.0);
    EXPECT_EQ(report.Lines("otherRequests"), 3.0);
    EXPECT_EQ(report.Lines("malformed"), 9.0);
    EXPECT_EQ(report.Lines("lateTicks"), 1.0);
    EXPECT_EQ(report.Field("2.0", "runs"), 2.0);
    EXPECT_EQ(report.State("2.0", 4, "reached"), 1.0);
    EXPECT_EQ(report.State("2.0", 6, "reached"), 1.0);
    EXPECT_EQ(report.Field("2.0", "stillLoading"), 1.0);
    EXPECT_NEAR(report.State("2.0", 4, "medianSeconds"), 4.0, 0.01);
}

TEST(TicksTool, GzipInputJoinedMembersAndCutStreams) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    std::vector<Line> lines;
    std::map<std::string, Expected> expected;
    GenerateRuns(0, 400, lines, expected, 1800 * 1000);
    const std::string text = Joined(lines);
    const size_t half = text.find('\n', text.size() / 2) + 1;
    // Rotated logs: the older half compressed in two members, the newer half plain.
    const size_t quarter = text.find('\n', text.size() / 4) + 1;
    ASSERT_TRUE(WriteGzip(folder.Native("access.log.1.gz"), {text.substr(0, quarter), text.substr(quarter, half - quarter)}));
    ASSERT_TRUE(WriteNativeFile(folder.Native("access.log"), text.substr(half)));

    int status = -1;
    Report report = JsonOf("'" + folder.Native("access.log.1.gz") + "' '" + folder.Native("access.log") + "'", &status);
    EXPECT_EQ(status, 0);
    ExpectFigures(report, "", expected[""]);
    // Standard input compressed too.
    report = JsonOf("- < '" + folder.Native("access.log.1.gz") + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(report.Lines("read"), double(std::count(text.begin(), text.begin() + half, '\n')));

    // A compressed file cut short: the lines before the cut are counted, the status says so.
    const std::string whole = ReadNativeFile(folder.Native("access.log.1.gz"));
    ASSERT_TRUE(WriteNativeFile(folder.Native("cut.gz"), whole.substr(0, whole.size() * 3 / 4)));
    CommandRun cut = RunTool("'" + folder.Native("cut.gz") + "'");
    EXPECT_EQ(cut.mStatus, 1);
    EXPECT_NE(cut.mOutput.find("cut.gz: the compressed data ends early"), std::string::npos) << cut.mOutput;
    report = JsonOf("'" + folder.Native("cut.gz") + "'", &status);
    EXPECT_EQ(status, 1);
    EXPECT_GT(report.Lines("read"), 0.0);
    EXPECT_GT(report.Field("", "runs"), 100.0);
}

TEST(TicksTool, OptionsAndUnreadableInputs) {
    CommandRun help = RunTool("--help");
    EXPECT_EQ(help.mStatus, 0);
    EXPECT_NE(help.mOutput.find("usage: vexal-ticks"), std::string::npos);
    EXPECT_EQ(RunTool("--bogus").mStatus, 2);
    EXPECT_EQ(RunTool("--idle 0").mStatus, 2);
    EXPECT_EQ(RunTool("--svg").mStatus, 2);
    CommandRun missing = RunTool("/nonexistent/access.log");
    EXPECT_EQ(missing.mStatus, 1);
    EXPECT_NE(missing.mOutput.find("cannot open /nonexistent/access.log"), std::string::npos);
    EXPECT_NE(missing.mOutput.find("lines: 0 read"), std::string::npos);
    CommandRun unwritable = RunTool("--svg /nonexistent/funnel.svg /dev/null");
    EXPECT_EQ(unwritable.mStatus, 1);
    EXPECT_NE(unwritable.mOutput.find("cannot write /nonexistent/funnel.svg"), std::string::npos);
}
