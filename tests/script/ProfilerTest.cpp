// The call-cost profiler and the allocation dump, timed by a clock the tests drive.
#include <lua.hpp>

#include <string>
#include <vector>

#include "ScriptTestClasses.h"
#include "Source/Platform/Log.h"
#include "Source/Script/LuaScriptManager.h"
#include "Source/Script/NativeCall.h"

namespace ScriptTest {
namespace {

// Whole log lines without their time stamp (a sink gets the stamp and the message apart).
std::vector<std::u16string> gLines;
std::u16string gPending;
void CaptureSink(const WideChar* text, void*, uint8_t endLine) {
    gPending += ToU16(text);
    if (!endLine) return;
    size_t stamp = gPending.find(u' ');
    gLines.push_back(stamp == 19 ? gPending.substr(20) : gPending);
    gPending.clear();
}

// The test clock counts microseconds; scripts move it with advance(us).
uint64_t gNow = 0;
uint64_t TestClock() { return gNow; }

typedef int32_t (*FreeFunction)(IScriptManager* m);

// A global native function following the call protocol.
int DispatchGlobal(lua_State*) {
    return Vexal::DispatchNative<ScriptObject, FreeFunction, Vexal::SelfRule::kOptional>(
        [](IScriptManager* m, ScriptObject*, FreeFunction target) { return target(m); });
}

int32_t Advance(IScriptManager* m) {
    gNow += uint64_t(m->GetParamInt32(0));
    return m->ReturnNothing();
}

int32_t Raise(IScriptManager* m) {
    m->SetPendingError(u"native failure");
    return m->ReturnNothing();
}

int32_t Late(IScriptManager* m) { return m->ReturnInt32(7); }

void AddGlobal(IScriptManager* m, const char* name, FreeFunction function) {
    m->AddMethod(name, reinterpret_cast<void*>(function), DispatchGlobal, false);
}

class ProfilerTest : public ScriptFixture {
protected:
    void SetUp() override {
        gLines.clear();
        gPending.clear();
        gNow = 1000000;
        SetLogSinks(CaptureSink, nullptr, CaptureSink, nullptr);
        ScriptFixture::SetUp();
        Manager()->SetProfileClock(TestClock, 1000000);
    }
    void TearDown() override {
        ScriptFixture::TearDown();
        SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    }
    Vexal::LuaScriptManager* Manager() { return static_cast<Vexal::LuaScriptManager*>(mManager); }
    void RunChunk(const char16_t* text, const char16_t* chunk) {
        mManager->RunString(nullptr, text, chunk, 0);
        EXPECT_EQ(LastError(), u"") << ToUtf8(LastError());
    }
    int Count(const std::u16string& text) {
        int count = 0;
        for (const std::u16string& line : gLines) count += line.find(text) != std::u16string::npos;
        return count;
    }
    // The lines of the dump section starting after the heading, up to the next empty line.
    std::vector<std::u16string> Section(const std::u16string& heading) {
        std::vector<std::u16string> lines;
        size_t i = 0;
        while (i < gLines.size() && gLines[i] != heading) ++i;
        for (++i; i < gLines.size() && !gLines[i].empty(); ++i) lines.push_back(gLines[i]);
        return lines;
    }
};

TEST_F(ProfilerTest, SwitchesAndThreshold) {
    EXPECT_FALSE(mManager->IsProfilerEnabled());
    EXPECT_EQ(mManager->GetCostThreshold(), -1);
    mManager->SetCostThreshold(5);
    EXPECT_EQ(mManager->GetCostThreshold(), 5);
    mManager->EnableProfiler(true);
    EXPECT_TRUE(mManager->IsProfilerEnabled());
    EXPECT_NE(lua_gethook(mManager->GetLuaState()), nullptr);
    mManager->EnableProfiler(false);
    EXPECT_EQ(lua_gethook(mManager->GetLuaState()), nullptr);
}

TEST_F(ProfilerTest, ACallLongerThanTheThresholdIsReported) {
    mManager->EnableProfiler(true);
    AddGlobal(mManager, "advance", Advance);
    mManager->SetCostThreshold(5);
    RunChunk(u"function slow(us)\n  advance(us)\nend", u"timing");

    gLines.clear();
    RunChunk(u"slow(5000)", u"timing");
    EXPECT_EQ(Count(u"[LS] Cost too much time"), 0);

    gLines.clear();
    RunChunk(u"slow(5010)", u"timing");
    std::vector<std::u16string> expected = {
        u"[LS] Cost too much time, threshold is 5 ms", u"", u"  [C], advance, (), cost 5.01 ms", u"",
        u"[LS] Cost too much time, threshold is 5 ms", u"", u"  [Lua], slow, (@timing:1), cost 5.01 ms", u"",
        u"[LS] Cost too much time, threshold is 5 ms", u"", u"  [Lua], , (@timing:0), cost 5.01 ms", u""};
    EXPECT_EQ(gLines, expected);

    // A threshold of 0 or below turns the lines off.
    mManager->SetCostThreshold(0);
    gLines.clear();
    RunChunk(u"slow(50000)", u"timing");
    EXPECT_EQ(Count(u"[LS] Cost too much time"), 0);
}

TEST_F(ProfilerTest, DumpSortsByTotalAndAverageAndResets) {
    mManager->EnableProfiler(true);
    AddGlobal(mManager, "advance", Advance);
    RunChunk(u"function long() advance(30000) end\n"
             u"function often() advance(2000) end\n"
             u"long()\n"
             u"for i = 1, 20 do often() end",
             u"dump");
    gLines.clear();
    mManager->DumpProfile();
    ASSERT_GE(gLines.size(), 3u);
    EXPECT_EQ(gLines[0], u"[LS] Dump lua profile Begin");
    EXPECT_EQ(gLines[1], u"");
    std::vector<std::u16string> total = Section(u"[LS] Order by total call cost (ms)");
    std::vector<std::u16string> expectedTotal = {
        u"  [C], advance, (), called 21 time(s), total call cost 70.00 ms, avg 3.33 ms",
        u"  [Lua], often, (@dump:2), called 20 time(s), total call cost 40.00 ms, avg 2.00 ms",
        u"  [Lua], long, (@dump:1), called 1 time(s), total call cost 30.00 ms, avg 30.00 ms"};
    EXPECT_EQ(total, expectedTotal);
    std::vector<std::u16string> average = Section(u"[LS] Order by avg call cost (ms)");
    std::vector<std::u16string> expectedAverage = {
        u"  [Lua], long, (@dump:1), called 1 time(s), avg call cost 30.00 ms",
        u"  [C], advance, (Unknown), called 21 time(s), avg call cost 3.33 ms",
        u"  [Lua], often, (@dump:2), called 20 time(s), avg call cost 2.00 ms"};
    EXPECT_EQ(average, expectedAverage);
    EXPECT_EQ(gLines.back(), u"[LS] Dump lua profile finished");

    // The counters were reset: a second dump lists nothing.
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_TRUE(Section(u"[LS] Order by total call cost (ms)").empty());
    EXPECT_TRUE(Section(u"[LS] Order by avg call cost (ms)").empty());
    EXPECT_EQ(gLines.back(), u"[LS] Dump lua profile finished");

    // With profiling off the dump writes nothing.
    mManager->EnableProfiler(false);
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_TRUE(gLines.empty());
}

TEST_F(ProfilerTest, EachTableShowsAHundredLines) {
    mManager->EnableProfiler(true);
    RunChunk(u"local fs = {}\n"
             u"for i = 1, 150 do fs[i] = function() end end\n"
             u"for i = 1, 150 do local f = fs[i] f() end",
             u"many");
    gLines.clear();
    mManager->DumpProfile();
    std::vector<std::u16string> total = Section(u"[LS] Order by total call cost (ms)");
    ASSERT_EQ(total.size(), 101u);
    EXPECT_EQ(total.back(), u"  50 more ...");
    std::vector<std::u16string> average = Section(u"[LS] Order by avg call cost (ms)");
    ASSERT_EQ(average.size(), 101u);
    EXPECT_EQ(average.back(), u"  50 more ...");
}

TEST_F(ProfilerTest, AScriptErrorLeavesTheStackAsItWas) {
    mManager->EnableProfiler(true);
    AddGlobal(mManager, "raise", Raise);
    RunChunk(u"function a() b() end\n"
             u"function b() c() end\n"
             u"function c() raise() end\n"
             u"function d() error('script failure') end\n"
             u"function e() d() end",
             u"chain");
    int32_t depth = Manager()->GetProfileStackDepth();
    mManager->RunString(nullptr, u"a()", u"run", 0);
    EXPECT_NE(LastError().find(u"native failure"), std::u16string::npos);
    EXPECT_EQ(Manager()->GetProfileStackDepth(), depth);
    mManager->RunString(nullptr, u"e()", u"run", 0);
    EXPECT_NE(LastError().find(u"script failure"), std::u16string::npos);
    EXPECT_EQ(Manager()->GetProfileStackDepth(), depth);
    // Errors caught by the script itself close the calls they cut short as well.
    RunChunk(u"for i = 1, 3 do pcall(a) pcall(e) end", u"run");
    EXPECT_EQ(Manager()->GetProfileStackDepth(), depth);
    EXPECT_EQ(Count(u"Assertion Failed"), 0);

    gLines.clear();
    mManager->DumpProfile();
    std::vector<std::u16string> total = Section(u"[LS] Order by total call cost (ms)");
    for (const char16_t* name : {u", a, ", u", b, ", u", c, ", u", raise, "}) {
        bool found = false;
        for (const std::u16string& line : total)
            found = found || (line.find(name) != std::u16string::npos && line.find(u"called 4 time(s)") != std::u16string::npos);
        EXPECT_TRUE(found) << ToUtf8(name);
    }
}

TEST_F(ProfilerTest, TailCallsAndRecursionAreClosed) {
    mManager->EnableProfiler(true);
    AddGlobal(mManager, "advance", Advance);
    RunChunk(u"function inner() advance(1000) return 1 end\n"
             u"function outer() return inner() end\n"
             u"function deep(n) advance(1000) if n > 0 then deep(n - 1) end end\n"
             u"for i = 1, 10 do outer() end\n"
             u"deep(2)",
             u"tail");
    EXPECT_EQ(Manager()->GetProfileStackDepth(), 0);
    gLines.clear();
    mManager->DumpProfile();
    std::vector<std::u16string> total = Section(u"[LS] Order by total call cost (ms)");
    // outer ends where its tail call begins (inner is named after the call site, which says
    // outer); deep(2) lasts 3 ms, deep(1) 2 ms, deep(0) 1 ms: each call is timed on its own.
    std::vector<std::u16string> expected = {
        u"  [C], advance, (), called 13 time(s), total call cost 13.00 ms, avg 1.00 ms",
        u"  [Lua], outer, (@tail:1), called 10 time(s), total call cost 10.00 ms, avg 1.00 ms",
        u"  [Lua], deep, (@tail:3), called 3 time(s), total call cost 6.00 ms, avg 2.00 ms",
        u"  [Lua], outer, (@tail:2), called 10 time(s), total call cost 0.00 ms, avg 0.00 ms"};
    EXPECT_EQ(total, expected);
}

TEST_F(ProfilerTest, NativesRegisteredBeforeProfilingGetARecordOnFirstUse) {
    AddGlobal(mManager, "late", Late);
    mManager->EnableProfiler(true);
    AddGlobal(mManager, "advance", Advance);
    RunChunk(u"late() late() advance(10)", u"late");
    EXPECT_EQ(Count(u"Assertion Failed"), 0);
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_EQ(Count(u"  [C], late, (), called 2 time(s)"), 1);
    EXPECT_EQ(Count(u"  [C], advance, (), called 1 time(s)"), 1);
}

TEST_F(ProfilerTest, RegistrationNamesNativeRecords) {
    mManager->EnableProfiler(true);
    mManager->BeginClass("Probe", nullptr);
    mManager->AddMethod("run", reinterpret_cast<void*>(Advance), DispatchGlobal, false);
    mManager->AddProperty("size", reinterpret_cast<void*>(Late), DispatchGlobal, reinterpret_cast<void*>(Raise),
                          DispatchGlobal);
    mManager->EndClass();
    int32_t reference = mManager->CreateFunctionRef(reinterpret_cast<void*>(&gNow), DispatchGlobal);
    EXPECT_NE(reference, 0);
    mManager->UnrefFunction(&reference);
    // The records exist by name; the accessors' own calls show them in a dump.
    mManager->ProfileNativeEnter(reinterpret_cast<void*>(Late));
    mManager->ProfileNativeLeave();
    mManager->ProfileNativeEnter(reinterpret_cast<void*>(Raise));
    mManager->ProfileNativeLeave();
    mManager->ProfileNativeEnter(reinterpret_cast<void*>(Advance));
    mManager->ProfileNativeLeave();
    mManager->ProfileNativeEnter(&gNow);
    mManager->ProfileNativeLeave();
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_EQ(Count(u"  [C], Probe.size(get), (), called 1"), 1);
    EXPECT_EQ(Count(u"  [C], Probe.size(set), (), called 1"), 1);
    EXPECT_EQ(Count(u"  [C], Probe.run, (), called 1"), 1);
    EXPECT_EQ(Count(u"  [C], __call, (), called 1"), 1);
    EXPECT_EQ(Count(u"Assertion Failed"), 0);
}

TEST_F(ProfilerTest, AllocationsAreListedUnderTheirLine) {
    mManager->TrackAllocations(1);
    RunChunk(u"local t = {}\n"
             u"for i = 1, 10000 do\n"
             u"  t[i] = {i, i}\n"
             u"end",
             u"alloc");
    gLines.clear();
    mManager->TrackAllocations(0);
    ASSERT_GE(gLines.size(), 3u);
    EXPECT_EQ(gLines[0], u"[LS] Dump Lua Alloc Begin");
    EXPECT_EQ(gLines[1], u"[LS] Order by total alloc size (byte)");
    EXPECT_EQ(gLines.back(), u"[LS] Dump Lua Alloc End");
    // The loop line is the largest; its columns are total, count and the average per event.
    const std::u16string& top = gLines[2];
    ASSERT_EQ(top.rfind(u"alloc:3:\t\t", 0), 0u) << ToUtf8(top);
    std::string numbers = ToUtf8(top.substr(10));
    long total = 0, count = 0, average = 0;
    ASSERT_EQ(std::sscanf(numbers.c_str(), "%ld\t%ld\t%ld", &total, &count, &average), 3);
    EXPECT_GE(count, 10000);
    EXPECT_GE(total, 10000 * 32);
    EXPECT_EQ(average, total / count);
    // Every listed total is ordered, largest first.
    long previous = total;
    for (size_t i = 3; i + 1 < gLines.size(); ++i) {
        std::string line = ToUtf8(gLines[i]);
        size_t tab = line.find("\t\t");
        ASSERT_NE(tab, std::string::npos);
        long value = std::atol(line.c_str() + tab + 2);
        EXPECT_LE(value, previous);
        previous = value;
    }

    // Records were dropped by the dump and tracking stopped.
    gLines.clear();
    RunChunk(u"local t = {} for i = 1, 100 do t[i] = {} end", u"after");
    mManager->TrackAllocations(0);
    EXPECT_EQ(gLines.size(), 3u);
}

// The profiler shows a chunk's name as the engine reports it: "@" and the name for a run, the
// text itself for a compiled text; only the allocation dump leaves out a leading "@".
TEST_F(ProfilerTest, SourcesAreChunkNamesAsTheEngineReportsThem) {
    mManager->EnableProfiler(true);
    mManager->TrackAllocations(1);
    int32_t chunk = mManager->CompileString(u"function g() local t = {} for i = 1, 500 do t[i] = {} end end g()");
    ASSERT_GT(chunk, 0);
    mManager->CallFunction(nullptr, chunk, nullptr);
    mManager->UnrefFunction(&chunk);
    RunChunk(u"function h()\n  local t = {} for i = 1, 500 do t[i] = {} end\nend h()", u"prof.lua");
    gLines.clear();
    mManager->TrackAllocations(0);
    EXPECT_EQ(Count(u"prof.lua:2:h\t\t"), 1);
    EXPECT_EQ(Count(u"@prof.lua"), 0);
    EXPECT_EQ(Count(u"function g() local t = {} for i = 1, 500 do t[i] = {} end end g():1:g\t\t"), 1);
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_EQ(Count(u"  [Lua], h, (@prof.lua:1), called 1 time(s), total"), 1);
    EXPECT_EQ(Count(u"  [Lua], g, (function g() local t = {} for i = 1, 500 do t[i] = {} end end g():1), called 1 "
                    u"time(s), total"),
              1);
}

// A record belongs to one function for the function's lifetime: a function made after another
// was collected, in the memory the other had, never takes over its name, source and line.
TEST_F(ProfilerTest, ACollectedFunctionsRecordIsNeverInherited) {
    mManager->EnableProfiler(true);
    RunChunk(u"for i = 1, 40 do\n"
             u"  local function alpha() end\n"
             u"  alpha() alpha = nil collectgarbage()\n"
             u"  local function beta() end\n"
             u"  beta() beta = nil collectgarbage()\n"
             u"end",
             u"reuse");
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_EQ(Count(u"  [Lua], alpha, (@reuse:2), called 1 time(s), total"), 40);
    EXPECT_EQ(Count(u"  [Lua], beta, (@reuse:4), called 1 time(s), total"), 40);
    // The records of collected functions go after their last dump.
    mManager->CollectGarbage();
    mManager->CollectGarbage();
    mManager->DumpProfile();
    RunChunk(u"local function gamma() end gamma()", u"after");
    gLines.clear();
    mManager->DumpProfile();
    EXPECT_EQ(Count(u"  [Lua], gamma, (@after:1), called 1 time(s), total"), 1);
    EXPECT_EQ(Count(u"alpha"), 0);
}

// A state the manager adopted outlives it; the next manager profiling the same function makes a
// record of its own instead of reaching one that went with the first manager.
TEST_F(ProfilerTest, AnAdoptedStateKeepsNoRecordOfAnEarlierManager) {
    lua_State* own = luaL_newstate();
    luaL_openlibs(own);
    auto profileKept = [&](const char* script) {
        ASSERT_TRUE(mManager->SwitchState(uint32_t(mManager->CreateState(own))));
        mManager->EnableProfiler(true);
        ASSERT_EQ(luaL_dostring(own, script), 0);
        gLines.clear();
        mManager->DumpProfile();
        EXPECT_EQ(Count(u"  [Lua], kept, (function kept() end kept():1), called 1 time(s), total"), 1);
        mManager->EnableProfiler(false);
        mManager->SwitchState(0);
    };
    profileKept("function kept() end kept()");
    delete mManager;
    mManager = Vexal::GetScriptManager();
    RegisterTestClasses(mManager);
    Manager()->SetProfileClock(TestClock, 1000000);
    profileKept("kept()");
    lua_close(own);
}

TEST_F(ProfilerTest, TheMinimumFiltersTheAllocationDump) {
    mManager->TrackAllocations(1 << 30);
    RunChunk(u"local t = {} for i = 1, 1000 do t[i] = {} end", u"small");
    gLines.clear();
    mManager->TrackAllocations(-1);
    std::vector<std::u16string> expected = {u"[LS] Dump Lua Alloc Begin", u"[LS] Order by total alloc size (byte)",
                                            u"[LS] Dump Lua Alloc End"};
    EXPECT_EQ(gLines, expected);
}

TEST_F(ProfilerTest, DestructionDumpsAndReleasesTheEngine) {
    mManager->EnableProfiler(true);
    mManager->TrackAllocations(1);
    RunChunk(u"function f() end f()", u"end");
    gLines.clear();
    delete mManager;
    mManager = nullptr;
    EXPECT_EQ(Count(u"[LS] Dump lua profile Begin"), 1);
    // Once in each table.
    EXPECT_EQ(Count(u"  [Lua], f, (@end:1), called 1 time(s)"), 2);
    // A new manager starts with neither hook nor observer.
    mManager = Vexal::GetScriptManager();
    RegisterTestClasses(mManager);
    EXPECT_EQ(lua_gethook(mManager->GetLuaState()), nullptr);
    EXPECT_FALSE(mManager->IsProfilerEnabled());
}

} // namespace
} // namespace ScriptTest
