// The script manager core: states, libraries, runs and result modes, errors, compiled chunks,
// fields and stored functions.
#include <lua.hpp>

#include <string>
#include <vector>

#include "ScriptTestClasses.h"
#include "Source/Common/Buffer.h"
#include "Source/Platform/Log.h"
#include "Source/Script/NativeCall.h"

namespace ScriptTest {
namespace {

std::vector<std::u16string> gLogLines;
void CaptureSink(const WideChar* text, void*, uint8_t) { gLogLines.push_back(ToU16(text)); }

std::vector<std::u16string> gCallbackTexts;
int32_t gNotified = 0;
int32_t ErrorCallback(intptr_t value) {
    if (value > 0xFFFF) gCallbackTexts.push_back(ToU16(reinterpret_cast<const WideChar*>(value)));
    else gNotified = int32_t(value);
    return 11;
}

class ScriptManagerTest : public ScriptFixture {
protected:
    void SetUp() override {
        gLogLines.clear();
        gCallbackTexts.clear();
        SetLogSinks(CaptureSink, nullptr, CaptureSink, nullptr);
        ScriptFixture::SetUp();
    }
    void TearDown() override {
        ScriptFixture::TearDown();
        SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    }
    bool Logged(const std::u16string& text) {
        for (const std::u16string& line : gLogLines)
            if (line.find(text) != std::u16string::npos) return true;
        return false;
    }
};

TEST_F(ScriptManagerTest, OneManagerWithTheEngineLibrariesOnly) {
    EXPECT_EQ(Vexal::GetScriptManager(), mManager);
    EXPECT_EQ(Vexal::FindScriptManager(), mManager);
    EXPECT_EQ(mManager->GetEngineKind(), 2);
    EXPECT_EQ(mManager->ReservedQuery(5), 0);
    EXPECT_EQ(mManager->GetScriptContext(), mManager->GetLuaState());
    Run(u"assert(io == nil and os == nil and package == nil and require == nil)\n"
        u"assert(type(table.insert) == 'function' and type(string.format) == 'function')\n"
        u"assert(type(math.floor) == 'function' and type(bit.band) == 'function')\n"
        u"assert(type(debug.traceback) == 'function' and type(jit.off) == 'function')\n"
        u"assert(jit.status() == false)");
}

TEST_F(ScriptManagerTest, CreationIsLoggedOnce) {
    delete mManager;
    gLogLines.clear();
    mManager = Vexal::GetScriptManager();
    Vexal::GetScriptManager();
    ASSERT_NE(mManager, nullptr);
    RegisterTestClasses(mManager);
    int count = 0;
    for (const std::u16string& line : gLogLines) count += line.find(u"[KL] Lua ScriptManager Created") != std::u16string::npos;
    EXPECT_EQ(count, 1);
}

TEST_F(ScriptManagerTest, SwitchStateRejectsAnIndexOutOfRange) {
    lua_State* first = mManager->GetLuaState();
    EXPECT_FALSE(mManager->SwitchState(1));
    EXPECT_TRUE(Logged(u"[LS] Failed to switch script state to invalid index 1"));
    EXPECT_EQ(mManager->GetLuaState(), first);

    lua_State* own = luaL_newstate();
    int32_t index = mManager->CreateState(own);
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(mManager->SwitchState(uint32_t(index)));
    EXPECT_EQ(mManager->GetLuaState(), own);
    EXPECT_EQ(RunNumber(u"return 1 + 1"), 2.0);
    EXPECT_TRUE(mManager->SwitchState(0));
    EXPECT_EQ(mManager->GetLuaState(), first);
    delete mManager; // an adopted state stays open
    mManager = Vexal::GetScriptManager();
    lua_close(own);
}

TEST_F(ScriptManagerTest, ResultModes) {
    lua_State* L = mManager->GetLuaState();
    int top = lua_gettop(L);
    Variable out(u"keep", Variable::kNone);
    mManager->RunString(&out, u"return 5", u"modes", 1);
    EXPECT_EQ(out.GetType(), Variable::kDouble);
    EXPECT_EQ(out.GetNumber(), 5.0);
    EXPECT_EQ(lua_gettop(L), top);

    Variable untouched;
    mManager->RunString(&untouched, u"return 5", u"modes", 0);
    EXPECT_EQ(untouched.GetType(), Variable::kNone);
    EXPECT_EQ(lua_gettop(L), top);
}

// A result left waiting belongs to the native call that ran the script; outside one the result
// is dropped, so no later call without self returns it (or its own last argument) instead of
// nothing.
TEST_F(ScriptManagerTest, ModeTwoWaitsOnlyForTheNativeCallThatRanIt) {
    EXPECT_EQ(RunNumber(u"return runMode2()"), 42.0);
    lua_State* L = mManager->GetLuaState();
    int top = lua_gettop(L);
    mManager->RunString(nullptr, u"return 6", u"modes", 2);
    EXPECT_EQ(lua_gettop(L), top);
    Publish("t", new Thing());
    Run(u"assert(select('#', t.rInt32('a', 'b')) == 0)\n"
        u"assert(runMode2() == 42 and select('#', t.rInt32('c')) == 0)");
}

TEST_F(ScriptManagerTest, ErrorsAreCapturedWithTracebackReportedAndCalledBack) {
    mManager->SetErrorCallback(ErrorCallback);
    Variable out(u"", Variable::kInt32);
    out.SetInteger(3);
    mManager->RunString(&out, u"local function f() error('bad thing') end\nf()", u"err.lua", 1);
    std::u16string error = LastError();
    EXPECT_EQ(error.find(u"err.lua:1: bad thing"), 0u) << ToUtf8(error);
    EXPECT_NE(error.find(u"stack traceback:"), std::u16string::npos);
    ASSERT_EQ(gCallbackTexts.size(), 1u);
    EXPECT_EQ(gCallbackTexts[0], error);
    // Logged a line at a time: each line of the message and its traceback is a log line.
    for (size_t start = 0, end; start < error.size(); start = end + 1) {
        end = std::min(error.find(u'\n', start), error.size());
        EXPECT_TRUE(Logged(error.substr(start, end - start))) << ToUtf8(error.substr(start, end - start));
    }
    EXPECT_FALSE(Logged(u"\\x0a"));
    EXPECT_EQ(out.GetType(), Variable::kNone);

    mManager->RunString(nullptr, u"error({})", u"err.lua", 0);
    EXPECT_EQ(LastError(), u"");
    mManager->RunString(nullptr, u"x = ", u"syntax.lua", 0);
    EXPECT_NE(LastError().find(u"syntax.lua:1:"), std::u16string::npos);
    mManager->RunString(nullptr, u"return 1", u"ok.lua", 0);
    EXPECT_EQ(LastError(), u"");

    EXPECT_EQ(mManager->NotifyError(5), 11);
    EXPECT_EQ(gNotified, 5);
    mManager->SetErrorCallback(nullptr);
    EXPECT_EQ(mManager->NotifyError(5), 0);
}

TEST_F(ScriptManagerTest, ChunkNamesAreCutAtWholeCharacters) {
    const char16_t* source = u"return #debug.getinfo(1, 'S').source";
    std::u16string ascii(2000, u'a');
    mManager->RunString(&mOut, source, ascii.c_str(), 1);
    EXPECT_EQ(mOut.GetNumber(), 1023.0);
    std::u16string twoBytes(2000, u'\u00e9');
    mOut.Reset();
    mManager->RunString(&mOut, source, twoBytes.c_str(), 1);
    EXPECT_EQ(mOut.GetNumber(), 1023.0);
    std::u16string threeBytes(2000, u'\u4e2d');
    mOut.Reset();
    mManager->RunString(&mOut, source, threeBytes.c_str(), 1);
    EXPECT_EQ(mOut.GetNumber(), 1021.0);
    EXPECT_EQ(RunText(u"return debug.getinfo(1, 'S').source"), u"@test");
}

TEST_F(ScriptManagerTest, RunBufferTakesBytesAsStoredAndRecognisesConfigBlobs) {
    Buffer script;
    const char text[] = "\xEF\xBB\xBFreturn 'caf\xC3\xA9'\r\n";
    script.Set(text, sizeof text - 1, true);
    script.SetName(u"loading.lua");
    mManager->RunBuffer(&mOut, &script, 1);
    EXPECT_EQ(ToU16(mOut.GetString()), u"caf\u00e9");

    Buffer blob;
    blob.Set("LUC1 this is not lua", 20, true);
    mOut.Reset();
    mManager->RunBuffer(&mOut, &blob, 1);
    EXPECT_EQ(LastError(), u"");
    EXPECT_EQ(mOut.GetType(), Variable::kNone);
}

TEST_F(ScriptManagerTest, RunBufferFailureBecomesTheNativeCallsErrorOnly) {
    Run(u"local ok, message = pcall(runBuffer)\n"
        u"assert(not ok and message:find('inner.lua:1: inner', 1, true), message)");
    // Outside a native call the failure does not linger to hit a later call.
    Buffer failing;
    failing.Set("error('outside')", 16, true);
    mManager->RunBuffer(nullptr, &failing, 0);
    EXPECT_NE(LastError().find(u"outside"), std::u16string::npos);
    EXPECT_EQ(RunNumber(u"return countFree(1, 2)"), 2.0);
}

TEST_F(ScriptManagerTest, RunFileAndCompileFileReadFiles) {
    std::string path = std::string(testing::TempDir()) + "script_run_file.lua";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("return 40 + 2", file);
    std::fclose(file);
    std::u16string widePath(path.begin(), path.end());
    mManager->RunFile(&mOut, widePath.c_str(), 1);
    EXPECT_EQ(mOut.GetNumber(), 42.0);
    int32_t chunk = mManager->CompileFile(widePath.c_str());
    EXPECT_GT(chunk, 0);
    mManager->UnrefFunction(&chunk);
    std::remove(path.c_str());

    mOut.Reset();
    mOut.Reinitialize(u"", Variable::kInt32);
    mManager->RunFile(&mOut, u"/nonexistent/script.lua", 1);
    EXPECT_EQ(mOut.GetType(), Variable::kNone);
    EXPECT_EQ(mManager->CompileFile(u"/nonexistent/script.lua"), 0);
}

TEST_F(ScriptManagerTest, CompiledChunksAreCalledByReference) {
    int32_t chunk = mManager->CompileString(u"return 7 * 6");
    ASSERT_GT(chunk, 0);
    Variable result;
    mManager->CallFunction(nullptr, chunk, &result);
    EXPECT_EQ(result.GetNumber(), 42.0);
    mManager->UnrefFunction(&chunk);
    EXPECT_EQ(chunk, 0);
    EXPECT_EQ(mManager->CompileString(u"return +"), 0);
    EXPECT_NE(LastError(), u"");
    int32_t buffered = mManager->CompileBuffer("return 'b'", 10);
    EXPECT_GT(buffered, 0);
    mManager->UnrefFunction(&buffered);
}

// Compiled text ends at its first NUL: a length counting the terminator, a zero-padded block or
// a file ending in zero bytes compiles; text after a NUL is left out, with a line saying so.
TEST_F(ScriptManagerTest, CompiledTextEndsAtItsFirstNul) {
    int32_t chunk = mManager->CompileBuffer("x = 1", 6);
    EXPECT_GT(chunk, 0) << ToUtf8(LastError());
    mManager->UnrefFunction(&chunk);
    const char padded[16] = "return 3";
    chunk = mManager->CompileBuffer(padded, 16);
    Variable result;
    mManager->CallFunction(nullptr, chunk, &result);
    EXPECT_EQ(result.GetNumber(), 3.0);
    mManager->UnrefFunction(&chunk);
    EXPECT_FALSE(Logged(u"not compiled"));

    chunk = mManager->CompileBuffer("return 4\0return +", 17);
    result.Reset();
    mManager->CallFunction(nullptr, chunk, &result);
    EXPECT_EQ(result.GetNumber(), 4.0);
    mManager->UnrefFunction(&chunk);
    EXPECT_TRUE(Logged(u"[LS] Script text ends at a NUL byte after 8 bytes; 9 bytes after it are not compiled"));

    std::string path = std::string(testing::TempDir()) + "script_nul_end.lua";
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite("return 5\n\0", 1, 10, file);
    std::fclose(file);
    std::u16string widePath(path.begin(), path.end());
    chunk = mManager->CompileFile(widePath.c_str());
    std::remove(path.c_str());
    result.Reset();
    mManager->CallFunction(nullptr, chunk, &result);
    EXPECT_EQ(result.GetNumber(), 5.0);
    mManager->UnrefFunction(&chunk);
}

TEST_F(ScriptManagerTest, FieldsOfTheGlobalsAndOfObjects) {
    Variable number(u"", Variable::kInt32);
    number.SetInteger(12);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), u"wideName", number);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), "narrowName", number);
    EXPECT_EQ(RunNumber(u"return wideName + narrowName"), 24.0);

    Thing* thing = new Thing();
    mManager->SetField(thing, "extra", number);
    Publish("t", thing);
    EXPECT_EQ(RunNumber(u"return rawget(t, 'extra')"), 12.0);
    Variable read;
    mManager->GetField(&read, thing, "name"); // through the property getter
    EXPECT_EQ(ToU16(read.GetString()), u"thing");
    Variable global;
    mManager->GetField(&global, static_cast<ScriptObject*>(nullptr), u"wideName");
    EXPECT_EQ(global.GetNumber(), 12.0);
    // A getter that fails is reported, not fatal.
    Run(u"setmetatable(_G, {__index = function(t, k) error('getter failed') end})");
    Variable failing;
    mManager->GetField(&failing, static_cast<ScriptObject*>(nullptr), "nothing");
    EXPECT_EQ(failing.GetType(), Variable::kNone);
    EXPECT_NE(LastError().find(u"getter failed"), std::u16string::npos);
    Run(u"setmetatable(_G, nil)");
}

TEST_F(ScriptManagerTest, StoredFunctionsAreCalledWithArgumentsAndResults) {
    Thing* thing = new Thing();
    Publish("t", thing);
    Run(u"sum = 0\nassert(t:store(function(a, b) sum = sum + (a or 0) + (b or 0); return sum end) == 64)");
    Variable result;
    mManager->CallFunction(thing, 64, &result);
    EXPECT_EQ(result.GetNumber(), 0.0);
    Variable one(u"", Variable::kInt32);
    one.SetInteger(5);
    mManager->CallFunction(thing, 64, one, &result);
    EXPECT_EQ(result.GetNumber(), 5.0);
    Variable two(u"", Variable::kDouble);
    two.SetNumber(2.5);
    Array<Variable*> arguments;
    arguments.Append(&one);
    arguments.Append(&two);
    mManager->CallFunction(thing, 64, arguments, &result);
    EXPECT_EQ(result.GetNumber(), 12.5);

    // Key 0, a missing key and an error leave the result and the stack alone.
    lua_State* L = mManager->GetLuaState();
    int top = lua_gettop(L);
    mManager->CallFunction(thing, 0, &result);
    mManager->CallFunction(thing, 65, &result);
    EXPECT_EQ(result.GetNumber(), 12.5);
    Run(u"t:store(function() error('callback failed') end, 66)");
    mManager->CallFunction(thing, 66, &result);
    EXPECT_NE(LastError().find(u"callback failed"), std::u16string::npos);
    EXPECT_EQ(result.GetNumber(), 12.5);
    EXPECT_EQ(lua_gettop(L), top);

    int32_t key = 64;
    mManager->ClearObjectCallback(thing, &key);
    EXPECT_EQ(key, 0);
    mManager->CallFunction(thing, 64, &result);
    EXPECT_EQ(result.GetNumber(), 12.5);
    EXPECT_EQ(RunNumber(u"return t:store(42)"), 0.0); // not a function
}

TEST_F(ScriptManagerTest, FunctionReferencesByRegistryAndMovedOntoObjects) {
    Thing* thing = new Thing();
    Publish("t", thing);
    int32_t reference = int32_t(RunNumber(u"return t:ref(function(x) return (x or 1) * 3 end)"));
    ASSERT_GT(reference, 0);
    Variable result;
    mManager->CallFunction(nullptr, reference, &result);
    EXPECT_EQ(result.GetNumber(), 3.0);
    EXPECT_EQ(mManager->MoveRefToObject(thing, 77, reference), 77);
    mManager->CallFunction(thing, 77, &result);
    EXPECT_EQ(result.GetNumber(), 3.0);

    int32_t native = mManager->CreateFunctionRef(
        reinterpret_cast<void*>(+[](Thing*, IScriptManager* m) { return m->ReturnInt32(99); }),
        [](lua_State*) {
            return Vexal::DispatchNative<Thing, int32_t (*)(Thing*, IScriptManager*), Vexal::SelfRule::kOptional>(
                [](IScriptManager* m, Thing* self, auto target) { return target(self, m); });
        });
    mManager->CallFunction(nullptr, native, &result);
    EXPECT_EQ(result.GetNumber(), 99.0);
    mManager->UnrefFunction(&native);
    EXPECT_EQ(RunNumber(u"return t:ref(5)"), 0.0);
}

TEST_F(ScriptManagerTest, CreateInstanceStoresANewObject) {
    mManager->CreateInstance("made", "Thing");
    EXPECT_EQ(Thing::sLive, 1);
    Run(u"assert(getmetatable(made) == Thing)");
}

TEST_F(ScriptManagerTest, CollectGarbageRunsAFullCollection) {
    Run(u"junk = {} for i = 1, 1000 do junk[i] = {i} end junk = nil");
    double before = RunNumber(u"return collectgarbage('count')");
    mManager->CollectGarbage();
    EXPECT_LT(RunNumber(u"return collectgarbage('count')"), before);
}

} // namespace
} // namespace ScriptTest
