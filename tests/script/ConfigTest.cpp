// Configuration blobs: loading "LUC1" records through RunBuffer and saving loaded trees.
#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ScriptTestClasses.h"
#include "Source/Common/Buffer.h"
#include "Source/Platform/Log.h"
#include "support/ScratchFolder.h"

namespace ScriptTest {
namespace {

using namespace std::string_literals;

std::vector<std::u16string> gLines;
void CaptureSink(const WideChar* text, void*, uint8_t) { gLines.push_back(ToU16(text)); }

// Record bytes as the loader reads them.
std::string Word(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[size_t(i)] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}
std::string Value(uint8_t type, const std::string& eight) { return std::string(1, char(type)) + eight; }
std::string NestedItem(const std::string& node) { return std::string(1, '\x04') + node; }
// A hash entry: 24 bytes whose byte 21 is the type; a nested node follows type 4.
std::string Entry(char fill, uint8_t type, const std::string& nested = "") {
    std::string entry(24, fill);
    entry[21] = char(type);
    return entry + nested;
}
std::string Node(const std::vector<std::string>& items, const std::vector<std::string>& entries) {
    std::string node = Word(uint32_t(items.size())) + Word(uint32_t(entries.size())) + "HEADER-WORDS-16B";
    for (const std::string& item : items) node += item;
    for (const std::string& entry : entries) node += entry;
    return node;
}
std::string Record(const std::string& name, const std::vector<std::string>& strings, const std::string& root) {
    std::string record = "LUC1" + Word(uint32_t(name.size())) + name;
    for (const std::string& text : strings) record += Word(uint32_t(text.size())) + text;
    return record + Word(0xFFFFFFFFu) + root;
}

// A tree with every kind of content: values, a nested item, plain and nested entries.
std::string SampleTree() {
    std::string leaf = Node({Value(3, "\x02\0\0\0\0\0\0\0"s)}, {});
    std::string inner = Node({Value(1, "ABCDEFGH")}, {Entry('e', 3)});
    return Node({Value(3, "12345678"), NestedItem(inner), Value(0, std::string(8, '\0'))},
                {Entry('x', 3), Entry('y', 4, leaf)});
}

class ConfigTest : public ScriptFixture {
protected:
    void SetUp() override {
        gLines.clear();
        SetLogSinks(CaptureSink, nullptr, CaptureSink, nullptr);
        ScriptFixture::SetUp();
    }
    void TearDown() override {
        ScriptFixture::TearDown();
        SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    }
    // The scripts' side of configuration blobs: hosts in the table at index 1 of the globals'
    // metatable, box recording what it was given.
    void InstallLibrary() {
        Run(u"__boxed = {}\n"
            u"__hosts = {}\n"
            u"setmetatable(_G, {__hosts, __index = __hosts})\n"
            u"__luaconf = {box = function(host) __boxed[#__boxed + 1] = host return {host = host} end}");
    }
    // Runs bytes through RunBuffer from an exact-size copy, so a read past the end is caught.
    void RunBlob(const std::string& bytes) {
        void* copy = std::malloc(bytes.size() ? bytes.size() : 1);
        std::memcpy(copy, bytes.data(), bytes.size());
        Buffer buffer;
        buffer.Set(copy, uint32_t(bytes.size()), false);
        buffer.SetName(u"blob");
        mManager->RunBuffer(&mOut, &buffer, 0);
        std::free(copy);
    }
    int Boxed() { return int(RunNumber(u"return #__boxed")); }
    Vexal::ScriptConfigNode* Root(const std::string& name) {
        lua_State* L = mManager->GetLuaState();
        int top = lua_gettop(L);
        void* root = nullptr;
        if (lua_getmetatable(L, LUA_GLOBALSINDEX)) {
            lua_rawgeti(L, -1, 1);
            if (lua_istable(L, -1)) {
                lua_getfield(L, -1, (name + "_host").c_str());
                root = lua_touserdata(L, -1);
            }
        }
        lua_settop(L, top);
        return static_cast<Vexal::ScriptConfigNode*>(root);
    }
    bool Logged(const std::u16string& text) {
        for (const std::u16string& line : gLines)
            if (line.find(text) != std::u16string::npos) return true;
        return false;
    }
};

TEST_F(ConfigTest, TwoRecordsRunTwoBoxingLinesInOrder) {
    InstallLibrary();
    RunBlob(Record("alpha", {"one", "two"}, SampleTree()) + Record("beta", {}, Node({}, {})));
    EXPECT_EQ(LastError(), u"") << ToUtf8(LastError());
    EXPECT_FALSE(Logged(u"[LS] Load config nodes failed"));
    ASSERT_NE(Root("alpha"), nullptr);
    ASSERT_NE(Root("beta"), nullptr);
    Run(u"assert(#__boxed == 2)\n"
        u"assert(type(__boxed[1]) == 'userdata' and __boxed[1] == __hosts.alpha_host)\n"
        u"assert(__boxed[2] == __hosts.beta_host)\n"
        u"assert(alpha.host == __boxed[1] and beta.host == __boxed[2])");
}

TEST_F(ConfigTest, ABlobIsNeverCompiledAsLua) {
    InstallLibrary();
    RunBlob("LUC1" + Word(3) + "abc" + Word(0xFFFFFFFFu) + Node({}, {}) + "error('compiled')");
    EXPECT_EQ(Boxed(), 1);
    EXPECT_FALSE(Logged(u"compiled"));
}

TEST_F(ConfigTest, SavingTwiceGivesTwoRecordsReadInOneRun) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    InstallLibrary();
    std::string record = Record("gamma", {"one", "two", "three"}, SampleTree());
    RunBlob(record);
    Vexal::ScriptConfigNode* root = Root("gamma");
    ASSERT_NE(root, nullptr);
    // The "_G." prefix is dropped from the saved name.
    String path = folder.Wide("saved.luc");
    mManager->SaveConfig(root, u"_G.gamma", path.Data());
    mManager->SaveConfig(root, u"_G.gamma", path.Data());
    EXPECT_EQ(ReadNativeFile(folder.Native("saved.luc")), record + record);

    mManager->RunFile(&mOut, path.Data(), 0);
    EXPECT_EQ(LastError(), u"");
    EXPECT_EQ(Boxed(), 3);
    Run(u"assert(__boxed[2] ~= __boxed[1] and __boxed[3] == __hosts.gamma_host)");
}

TEST_F(ConfigTest, RepeatedStringsKeepTheirFirstIndex) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    InstallLibrary();
    std::string tree = Node({Value(4 + 1, "\x04\0\0\0\0\0\0\0"s)}, {});
    RunBlob(Record("s", {"a", "b", "a", "", "c", "b", ""}, tree));
    mManager->SaveConfig(Root("s"), u"s", folder.Wide("s.luc").Data());
    EXPECT_EQ(ReadNativeFile(folder.Native("s.luc")), Record("s", {"a", "b", "", "c"}, tree));
}

TEST_F(ConfigTest, ANameOutsideAsciiIsSavedWithItsByteLength) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    InstallLibrary();
    RunBlob(Record("plain", {}, Node({}, {})));
    mManager->SaveConfig(Root("plain"), u"gr\u00f6\u00dfe", folder.Wide("u.luc").Data());
    std::string expected = Record("gr\xc3\xb6\xc3\x9f"
                                  "e",
                                  {}, Node({}, {}));
    EXPECT_EQ(ReadNativeFile(folder.Native("u.luc")), expected);
    RunBlob(expected);
    EXPECT_NE(Root("gr\xc3\xb6\xc3\x9f"
                   "e"),
              nullptr);
    EXPECT_EQ(Boxed(), 2);
}

TEST_F(ConfigTest, NamesBeyondTheHostKeyBufferAreRefused) {
    InstallLibrary();
    std::string longest(2042, 'n');
    RunBlob(Record(longest, {}, Node({}, {})));
    EXPECT_FALSE(Logged(u"[LS] Load config nodes failed"));
    EXPECT_EQ(Boxed(), 1);
    EXPECT_NE(Root(longest), nullptr);

    // The refused record ends the loading: the record after it is not read.
    RunBlob(Record(std::string(2043, 'n'), {}, Node({}, {})) + Record("after", {}, Node({}, {})));
    EXPECT_TRUE(Logged(u"[LS] Load config nodes failed"));
    EXPECT_EQ(Boxed(), 1);
    EXPECT_EQ(Root("after"), nullptr);
}

TEST_F(ConfigTest, WithoutTheHostTableLoadingStops) {
    Run(u"__boxed = {} __luaconf = {box = function(h) __boxed[#__boxed + 1] = h end}");
    RunBlob(Record("first", {}, Node({}, {})));
    EXPECT_TRUE(Logged(u"[LS] Load config nodes failed"));
    EXPECT_EQ(Boxed(), 0);

    gLines.clear();
    Run(u"setmetatable(_G, {'not a table'})");
    RunBlob(Record("first", {}, Node({}, {})));
    EXPECT_TRUE(Logged(u"[LS] Load config nodes failed"));
    EXPECT_EQ(Boxed(), 0);
}

TEST_F(ConfigTest, EveryCutOfABlobLoadsOnlyItsWholeRecords) {
    InstallLibrary();
    std::string first = Record("one", {"x", "yy"}, SampleTree());
    std::string second = Record("two", {"zzz"}, SampleTree());
    std::string blob = first + second;
    int boxed = 0;
    for (size_t size = 4; size <= blob.size(); ++size) {
        gLines.clear();
        RunBlob(blob.substr(0, size));
        int whole = (size >= first.size() ? 1 : 0) + (size == blob.size() ? 1 : 0);
        boxed += whole;
        ASSERT_EQ(Boxed(), boxed) << size;
        bool cutInside = size != first.size() && size != blob.size() &&
                         !(size > first.size() && size < first.size() + 4);
        EXPECT_EQ(Logged(u"[LS] Load config nodes failed"), cutInside) << size;
    }
}

TEST_F(ConfigTest, DamagedTreesAreRefused) {
    InstallLibrary();
    // Counts that the bytes left cannot hold.
    RunBlob(Record("huge", {}, Word(0xFFFFFFFFu) + Word(0) + std::string(16, 'h')));
    RunBlob(Record("huge", {}, Word(0) + Word(0x10000000u) + std::string(16, 'h')));
    RunBlob("LUC1" + Word(0x7FFFFFFFu) + "short");
    RunBlob("LUC1" + Word(7) + "strings" + Word(1000) + "abc");
    EXPECT_EQ(Boxed(), 0);

    // Nesting: 200 levels load, deeper trees are refused.
    auto nested = [](int depth) {
        std::string node = Node({}, {});
        for (int i = 0; i < depth; ++i) node = Node({NestedItem(node)}, {});
        return node;
    };
    RunBlob(Record("deep", {}, nested(200)));
    EXPECT_EQ(Boxed(), 1);
    gLines.clear();
    RunBlob(Record("deeper", {}, nested(201)));
    EXPECT_TRUE(Logged(u"[LS] Load config nodes failed"));
    EXPECT_EQ(Boxed(), 1);
}

TEST_F(ConfigTest, SavingFailuresAreLogged) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    mManager->SaveConfig(nullptr, u"x", folder.Wide("x.luc").Data());
    EXPECT_TRUE(Logged(u"[LS] Convert config needs a conf object"));

    InstallLibrary();
    RunBlob(Record("tree", {}, Node({}, {})));
    ASSERT_NE(Root("tree"), nullptr);
    mManager->SaveConfig(Root("tree"), u"tree", folder.Wide().Data());
    EXPECT_TRUE(Logged(u"[LS] Can't create file for saving config"));
}

} // namespace
} // namespace ScriptTest
