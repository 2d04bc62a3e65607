// What loading-screen scripts cannot reach: files through the base library, and precompiled
// chunks through any compile path.
#include <lua.hpp>

#include <string>

#include "ScriptTestClasses.h"
#include "Source/Common/Buffer.h"
#include "Source/Platform/Log.h"

namespace ScriptTest {
namespace {

void QuietSink(const WideChar*, void*, uint8_t) {}

const char16_t kRefused[] = u"[LS] Refused a precompiled chunk: scripts are loaded as text only";

class SandboxTest : public ScriptFixture {
protected:
    void SetUp() override {
        SetLogSinks(QuietSink, nullptr, QuietSink, nullptr);
        ScriptFixture::SetUp();
    }
    void TearDown() override {
        ScriptFixture::TearDown();
        SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    }
    // Bytecode of a small function, made by the engine itself.
    std::string Bytecode() {
        lua_State* L = mManager->GetLuaState();
        luaL_loadstring(L, "return 42");
        lua_getglobal(L, "string");
        lua_getfield(L, -1, "dump");
        lua_pushvalue(L, -3);
        lua_call(L, 1, 1);
        size_t size = 0;
        const char* bytes = lua_tolstring(L, -1, &size);
        std::string dump(bytes, size);
        lua_pop(L, 3);
        return dump;
    }
    void RunBytes(const std::string& bytes) {
        Buffer buffer;
        buffer.Set(bytes.data(), uint32_t(bytes.size()), true);
        buffer.SetName(u"bytes");
        mOut.Reset();
        mManager->RunBuffer(&mOut, &buffer, 1);
    }
};

TEST_F(SandboxTest, TheBaseLibraryReadsNoFiles) {
    Run(u"assert(dofile == nil and loadfile == nil)\n"
        u"assert(debug.debug == nil and type(debug.traceback) == 'function')\n"
        u"assert(loadstring('return 1 + 1')() == 2)\n"
        u"assert(load('return 3')() == 3)\n"
        u"local parts = {'return ', '4'}\n"
        u"assert(load(function() return table.remove(parts, 1) end)() == 4)\n"
        u"local f, message = loadstring('return +', 'named')\n"
        u"assert(f == nil and message:find('named'))");
}

TEST_F(SandboxTest, ScriptsCannotLoadPrecompiledChunks) {
    std::string dump = Bytecode();
    ASSERT_EQ(dump.substr(0, 3), "\x1bLJ");
    lua_State* L = mManager->GetLuaState();
    lua_pushlstring(L, dump.data(), dump.size());
    lua_setglobal(L, "dumped");
    Run(u"local f, message = loadstring(dumped)\n"
        u"assert(f == nil and message == '[LS] Refused a precompiled chunk: scripts are loaded as text only')\n"
        u"f, message = load(dumped, 'x', 'b')\n"
        u"assert(f == nil and message:find('^%[LS%] Refused'))\n"
        u"f, message = load('#!shebang\\n' .. dumped)\n"
        u"assert(f == nil and message:find('^%[LS%] Refused'))\n"
        u"local once = true\n"
        u"f, message = load(function() if once then once = false return dumped end end)\n"
        u"assert(f == nil and message:find('^%[LS%] Refused'))\n"
        u"assert(string.dump(function() end):byte(1) == 27)");
}

TEST_F(SandboxTest, TheManagerRefusesPrecompiledChunks) {
    std::string dump = Bytecode();
    RunBytes(dump);
    EXPECT_NE(LastError().find(kRefused), std::u16string::npos) << ToUtf8(LastError());
    EXPECT_EQ(mOut.GetType(), Variable().GetType());
    // LuaJIT looks for the signature after a byte-order mark and a "#" first line as well.
    RunBytes("\xef\xbb\xbf" + dump);
    EXPECT_NE(LastError().find(kRefused), std::u16string::npos);
    RunBytes("#!/bin/vexal\r\n" + dump);
    EXPECT_NE(LastError().find(kRefused), std::u16string::npos);
    EXPECT_EQ(mManager->CompileBuffer(dump.data(), int32_t(dump.size())), 0);
    EXPECT_NE(LastError().find(kRefused), std::u16string::npos);
    mManager->RunString(nullptr, u"\x1bLJ\x02garbage", u"text", 0);
    EXPECT_NE(LastError().find(kRefused), std::u16string::npos);

    // Text after the same prefixes still runs.
    RunBytes("#!/bin/vexal\nreturn 5");
    EXPECT_EQ(LastError(), u"");
    EXPECT_EQ(mOut.GetNumber(), 5.0);
    RunBytes("\xef\xbb\xbfreturn 6");
    EXPECT_EQ(mOut.GetNumber(), 6.0);
}

} // namespace
} // namespace ScriptTest
