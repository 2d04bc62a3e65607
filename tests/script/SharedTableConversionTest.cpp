// Script tables converted to Variables and back: plain data converts whole however large or deep;
// a table that holds itself, tables shared too often and nesting past the stack's room each stop
// the conversion where they would never end, with one line saying so.
#include <cstdint>
#include <string>
#include <vector>

#include "ScriptTestClasses.h"
#include "Source/Platform/Log.h"
#include "Source/Script/LuaScriptManager.h"

namespace ScriptTest {
namespace {

std::vector<std::u16string> gLines;
void CaptureSink(const WideChar* text, void*, uint8_t) { gLines.push_back(ToU16(text)); }

int64_t CountValues(Variable& value) {
    int64_t count = 1;
    for (int32_t i = 0; i < value.GetChildCount(); ++i) count += CountValues(value.GetChild(i));
    return count;
}

class SharedTableConversionTest : public ScriptFixture {
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
    int Count(const std::u16string& text) {
        int count = 0;
        for (const std::u16string& line : gLines) count += line.find(text) != std::u16string::npos;
        return count;
    }
};

TEST_F(SharedTableConversionTest, ATableMetAgainOnItsOwnPathConvertsEmpty) {
    mManager->RunString(&mOut, u"local t = {x = 1} t.a = t t.b = {t, 2} return t", u"cycle", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kStructure);
    ASSERT_EQ(mOut.GetChildCount(), 3);
    for (int32_t i = 0; i < 3; ++i) {
        Variable& child = mOut.GetChild(i);
        if (child.GetName() == u"x") {
            EXPECT_EQ(child.GetNumber(), 1.0);
        } else if (child.GetName() == u"a") {
            EXPECT_EQ(child.GetType(), Variable::kStructure);
            EXPECT_EQ(child.GetChildCount(), 0);
        } else {
            ASSERT_EQ(child.GetType(), Variable::kArray);
            EXPECT_EQ(child.GetChild(0).GetType(), Variable::kStructure);
            EXPECT_EQ(child.GetChild(0).GetChildCount(), 0);
            EXPECT_EQ(child.GetChild(1).GetNumber(), 2.0);
        }
    }
    EXPECT_EQ(Count(u"[LS] Value conversion: a table that holds itself"), 1);
    // A table shared by two siblings is no cycle: both convert whole.
    gLines.clear();
    mOut.Reset();
    mManager->RunString(&mOut, u"local s = {1, 2} return {s, s}", u"shared", 1);
    ASSERT_EQ(mOut.GetChildCount(), 2);
    EXPECT_EQ(mOut.GetChild(1).GetChildCount(), 2);
    EXPECT_EQ(Count(u"[LS]"), 0);
}

TEST_F(SharedTableConversionTest, TablesSharedTooOftenStopAtTheBudgetAndKeepTheirFirstValues) {
    static_cast<Vexal::LuaScriptManager*>(mManager)->SetConversionBudget(1 << 16);
    // 2^40 paths when written out; the values reached first are kept.
    mManager->RunString(&mOut, u"local t = {7} for i = 1, 40 do t = {t, t} end return t", u"levels", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kArray);
    EXPECT_GT(CountValues(mOut), int64_t(1) << 15);
    EXPECT_LE(CountValues(mOut), int64_t(1) << 17);
    Variable* deepest = &mOut;
    while (deepest->GetChildCount() > 0) deepest = &deepest->GetChild(0);
    EXPECT_EQ(deepest->GetNumber(), 7.0);
    EXPECT_EQ(Count(u"[LS] Value conversion: tables shared too often; stopped at 65536 values"), 1);
    EXPECT_EQ(Count(u"[LS]"), 1);
}

TEST_F(SharedTableConversionTest, NestingPastTheStacksRoomStopsWithOneLine) {
    mManager->RunString(&mOut, u"local t = {} for i = 1, 100000 do t = {t} end return t", u"nest", 1);
    int32_t depth = 0;
    for (Variable* level = &mOut; level->GetChildCount() > 0; level = &level->GetChild(0)) ++depth;
    EXPECT_GE(depth, 1000);
    EXPECT_LT(depth, 100000);
    EXPECT_EQ(Count(u"[LS] Value conversion: tables nested"), 1);
    EXPECT_EQ(Count(u"[LS]"), 1);
    // What came over goes back whole.
    mManager->SetField(static_cast<ScriptObject*>(nullptr), "nest", mOut);
    mOut.Reset();
    mManager->RunString(&mOut, u"local t, d = nest, 1 while t[1] do t, d = t[1], d + 1 end return d", u"back", 1);
    EXPECT_EQ(mOut.GetNumber(), double(depth));
}

// A million elements, a hundred thousand keys and a thousand levels, from a script and back.
TEST_F(SharedTableConversionTest, LargeAndDeepDataConvertsWholeBothWays) {
    mManager->RunString(&mOut, u"local t = {} for i = 1, 1000000 do t[i] = i end return t", u"array", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kArray);
    ASSERT_EQ(mOut.GetChildCount(), 1000000);
    EXPECT_EQ(mOut.GetChild(999999).GetNumber(), 1000000.0);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), "array", mOut);
    Run(u"assert(#array == 1000000 and array[1000000] == 1000000) array = nil");

    mOut.Reset();
    mManager->RunString(&mOut, u"local t = {} for i = 1, 100000 do t['k' .. i] = i end return t", u"keys", 1);
    ASSERT_EQ(mOut.GetType(), Variable::kStructure);
    ASSERT_EQ(mOut.GetChildCount(), 100000);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), "keys", mOut);
    Run(u"local n = 0 for k, v in pairs(keys) do n = n + 1 assert(k == 'k' .. v) end\n"
        u"assert(n == 100000) keys = nil");

    mOut.Reset();
    mManager->RunString(&mOut, u"local t = {v = 7} for i = 2, 1000 do t = {t} end return t", u"deep", 1);
    Variable* level = &mOut;
    int32_t depth = 1;
    while (level->GetType() == Variable::kArray && level->GetChildCount() == 1) {
        level = &level->GetChild(0);
        ++depth;
    }
    EXPECT_EQ(depth, 1000);
    ASSERT_EQ(level->GetType(), Variable::kStructure);
    EXPECT_EQ(level->GetChild(0).GetNumber(), 7.0);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), "deep", mOut);
    Run(u"local t, d = deep, 1 while t[1] do t, d = t[1], d + 1 end assert(d == 1000 and t.v == 7)");
    EXPECT_EQ(Count(u"[LS]"), 0);
}

} // namespace
} // namespace ScriptTest
