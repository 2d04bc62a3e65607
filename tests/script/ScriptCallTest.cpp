// The native call protocol: readers, returns, texts, pending errors, parameter counting, and
// both value conversions.
#include <lua.hpp>

#include <cmath>

#include "ScriptTestClasses.h"

namespace ScriptTest {
namespace {

class ScriptCallTest : public ScriptFixture {
protected:
    void SetUp() override {
        ScriptFixture::SetUp();
        Publish("t", new Thing());
    }
};

TEST_F(ScriptCallTest, TypedReadersAndReturnsConvertLikeTheEngine) {
    Run(u"assert(t:rInt8(300) == 44 and t:rInt8(-129) == 127 and t:rUInt8(-1) == 255)\n"
        u"assert(t:rInt16(70000) == 4464 and t:rUInt16(-1) == 65535 and t:rWChar(65536 + 65) == 65)\n"
        u"assert(t:rInt32(2^31) == -2^31 and t:rInt32('12') == 12 and t:rInt32(3.9) == 3)\n"
        u"assert(t:rUInt32(0xFFFFFFFF) == 4294967295 and t:rUInt32(-1) == 4294967295)\n"
        u"assert(t:rInt64(2^53) == 2^53 and t:rInt64(-2^40) == -2^40 and t:rInt64(1e300) == 2^63)\n"
        u"assert(t:rUInt64(2^63) == 2^63 and t:rUInt64(2^64 - 2^11) == 2^64 - 2^11)\n"
        u"assert(t:rDouble(0.1) == 0.1 and t:rFloat(0.5) == 0.5 and t:rFloat(0.1) ~= 0.1)\n"
        u"assert(t:rBool(nil) == false and t:rBool(0) == true and t:rBool(false) == false)\n"
        // Missing parameters give the defaults.
        u"assert(t:rInt32() == 0 and t:rDouble() == 0 and t:rBool() == false and t:rString() == '')");
    EXPECT_EQ(RunNumber(u"return t:rFloat(0.1)"), double(0.1f));
}

TEST_F(ScriptCallTest, ParameterCountWithAndWithoutSelf) {
    Run(u"assert(t:count(1, 2) == 2 and t:count() == 0 and t:count(nil, nil, nil) == 3)\n"
        u"assert(countFree(1, 2) == 2 and firstFree(7, 8) == 7)\n"
        // A bound object passed to a free function is its self: parameter 0 follows it.
        u"assert(countFree(t, 1) == 1)");
}

TEST_F(ScriptCallTest, TextParametersFollowTheTextRule) {
    Run(u"assert(t:rString(3) == '3' and t:rString(3.5) == '3.5' and t:rString(nil) == 'nil')\n"
        u"assert(t:rString(true) == 'true' and t:rString(false) == 'false')\n"
        u"assert(t:rString(setmetatable({}, {__tostring = function() return 'x' end})) == 'x')\n"
        u"assert(t:rString(setmetatable({}, {__tostring = function() error('no') end})):find('^table: 0x'))\n"
        u"assert(t:rString({}):find('^table: 0x%x+$') and t:rString(print):find('^function: 0x'))\n"
        u"assert(t:rString(coroutine.create(print)) == '' and t:rString('caf\\195\\169') == 'caf\\195\\169')\n"
        u"local long = string.rep('ab\\195\\169', 500)\n"
        u"assert(#long == 2000 and t:rString(long) == long)\n"
        u"assert(t:rString(t) == tostring(t))\n"
        u"assert(t:rTwoStrings('a', 'b'))\n"
        // A number read as text stays a number for the next reader.
        u"assert(t:rTwoStrings(1, 2))");
}

TEST_F(ScriptCallTest, PendingErrorsBecomeScriptErrorsWithThePosition) {
    Run(u"local ok, message = pcall(function()\n"
        u"  local never = t:fail()\n"
        u"end)\n"
        u"assert(not ok and message == 'test:2: boom', message)\n"
        // The protocol recovers: later calls see their own frames.
        u"assert(t:count(1) == 1 and t:rString('after') == 'after')");
    mManager->RunString(nullptr, u"t:fail()", u"top.lua", 0);
    EXPECT_EQ(LastError().find(u"top.lua:1: boom"), 0u);
    EXPECT_EQ(RunNumber(u"return t:count(1, 2, 3)"), 3.0);
}

TEST_F(ScriptCallTest, CoroutinesReadTheirOwnArguments) {
    Run(u"local co = coroutine.wrap(function(a, b)\n"
        u"  local first = t:rInt32(a)\n"
        u"  local x = coroutine.yield(first + t:count(a, b))\n"
        u"  return t:rString(x)\n"
        u"end)\n"
        u"assert(co(5, 6) == 7)\n"
        u"assert(co(9) == '9')");
}

TEST_F(ScriptCallTest, ObjectsAsParametersAndResults) {
    Run(u"local other = Thing.new()\n"
        u"assert(t:object(other) == other and t:object({}) == nil and t:object(5) == nil)\n"
        u"assert(t:itself() == t)");
}

TEST_F(ScriptCallTest, LuaValuesToVariables) {
    RunNumber(u"return {1, 2, 3}");
    ASSERT_EQ(mOut.GetType(), Variable::kArray);
    ASSERT_EQ(mOut.GetChildCount(), 3);
    EXPECT_EQ(mOut.GetChild(2).GetType(), Variable::kDouble);
    EXPECT_EQ(mOut.GetChild(2).GetNumber(), 3.0);
    EXPECT_EQ(mOut.GetCount().GetInteger(), 3);

    RunNumber(u"return {1, 2, x = 3}");
    ASSERT_EQ(mOut.GetType(), Variable::kStructure);
    EXPECT_EQ(mOut.Find(u"1").GetNumber(), 1.0);
    EXPECT_TRUE(mOut.Find(u"1").HasKeyNumber());
    EXPECT_EQ(mOut.Find(u"2").GetKeyNumber(), 2.0);
    EXPECT_EQ(mOut.Find(u"x").GetNumber(), 3.0);
    EXPECT_FALSE(mOut.Find(u"x").HasKeyNumber());

    EXPECT_EQ(RunText(u"return 'caf\\195\\169'"), u"caf\u00e9");
    RunNumber(u"return true");
    EXPECT_EQ(mOut.GetType(), Variable::kBool);
    RunNumber(u"return function() return 8 end");
    ASSERT_EQ(mOut.GetType(), Variable::kFunction);
    int32_t reference = mOut.GetFunctionRef();
    Variable result;
    mManager->CallFunction(nullptr, reference, &result);
    EXPECT_EQ(result.GetNumber(), 8.0);
    mManager->UnrefFunction(&reference);
    RunNumber(u"return t");
    EXPECT_EQ(mOut.GetType(), Variable::kObject);
    EXPECT_NE(mOut.GetObject(), nullptr);
    RunNumber(u"return nil");
    EXPECT_EQ(mOut.GetType(), Variable::kNone);
    // A table that contains itself converts once; where it comes again it is empty.
    RunNumber(u"local s = {a = 1} s.self = s return s");
    EXPECT_EQ(mOut.GetType(), Variable::kStructure);
    EXPECT_EQ(mOut.Find(u"a").GetNumber(), 1.0);
    EXPECT_EQ(mOut.Find(u"self").GetType(), Variable::kStructure);
    EXPECT_EQ(mOut.Find(u"self").GetChildCount(), 0);
}

TEST_F(ScriptCallTest, TypedTargetsChooseTheConversion) {
    struct Case {
        const char16_t* script;
        uint32_t target;
        uint32_t typeAfter;
        double value;
    };
    const Case cases[] = {
        {u"return t:variable(4294967295, 10)", Variable::kUInt32, Variable::kInt64, 4294967295.0},
        {u"return t:variable(-1, 10)", Variable::kUInt32, Variable::kInt64, 4294967295.0},
        {u"return t:variable(70000, 5)", Variable::kInt16, Variable::kInt16, 4464.0},
        {u"return t:variable(65535, 5)", Variable::kInt16, Variable::kInt16, -1.0},
        {u"return t:variable(300, 8)", Variable::kUInt8, Variable::kUInt8, 44.0},
        {u"return t:variable(-2^40, 7)", Variable::kInt64, Variable::kInt64, -1099511627776.0},
        {u"return t:variable(2^63, 11)", Variable::kUInt64, Variable::kUInt64, 9223372036854775808.0},
        {u"return t:variable(0.1, 12)", Variable::kFloat, Variable::kFloat, double(0.1f)},
        {u"return t:variable('2.5', 13)", Variable::kDouble, Variable::kDouble, 2.5},
        {u"return t:variable(nil, 2)", Variable::kBool, Variable::kBool, 0.0},
        {u"return t:variable(2^31, 6)", Variable::kInt32, Variable::kInt32, -2147483648.0},
    };
    for (const Case& c : cases) {
        double pushed = RunNumber(c.script);
        EXPECT_EQ(gLastVariable.GetType(), c.typeAfter) << ToUtf8(c.script);
        EXPECT_EQ(gLastVariable.GetNumber(), c.value) << ToUtf8(c.script);
        if (c.target != Variable::kBool) {
            EXPECT_EQ(pushed, c.value) << ToUtf8(c.script);
        }
    }
    EXPECT_EQ(RunNumber(u"return #t:variable('a\\0b', 14)"), 3.0);
    EXPECT_EQ(gLastVariable.GetByteCount(), 3u);
    EXPECT_EQ(RunText(u"return t:variable(12, 15)"), u"12");
    Run(u"assert(t:variable(t, 16) == t)");
    Run(u"assert(t:variable({}, 16) == nil)");
    Run(u"assert(#t:variable({1}, 0x100) == 0)");
    Run(u"assert(t:variable(5, 1) == nil)");
}

TEST_F(ScriptCallTest, VariablesToLuaValues) {
    Variable value(u"", Variable::kStructure);
    auto add = [&](const char16_t* name, uint32_t type) -> Variable& { return value.Create(name, type); };
    add(u"b", Variable::kBool).SetBool(true);
    add(u"wc", Variable::kWChar).SetInteger(0xFFFF);
    add(u"i8", Variable::kInt8).SetInteger(-5);
    add(u"i16", Variable::kInt16).SetInteger(-300);
    add(u"i32", Variable::kInt32).SetInteger(-70000);
    add(u"i64", Variable::kInt64).SetInteger(-(int64_t(1) << 40));
    add(u"u8", Variable::kUInt8).SetInteger(255);
    add(u"u16", Variable::kUInt16).SetInteger(65535);
    add(u"u32", Variable::kUInt32).SetInteger(0xFFFFFFFF);
    add(u"u64", Variable::kUInt64).SetUnsigned(0x8000000000000800ull);
    add(u"f", Variable::kFloat).SetNumber(0.5);
    add(u"d", Variable::kDouble).SetNumber(-0.25);
    add(u"bytes", Variable::kBytes).SetBytes("a\0b", 3);
    add(u"text", Variable::kWideString).SetString(u"caf\u00e9");
    add(u"empty", Variable::kWideString);
    add(u"obj", Variable::kObject).SetObject(new Thing());
    add(u"nothing", Variable::kObject);
    add(u"null", Variable::kNone);
    Variable& list = add(u"list", Variable::kArray | Variable::kInt32);
    list.AddElements(3);
    for (int32_t i = 0; i < 3; ++i) list.GetChild(i).SetInteger(i * 10);
    Variable& numbered = add(u"numbered", Variable::kInt32);
    numbered.SetKeyNumber(5);
    numbered.SetInteger(55);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), "v", value);
    Run(u"assert(v.b == true and v.wc == 65535 and v.i8 == -5 and v.i16 == -300 and v.i32 == -70000)\n"
        u"assert(v.i64 == -2^40 and v.u8 == 255 and v.u16 == 65535 and v.u32 == 4294967295)\n"
        u"assert(v.u64 == 2^63 + 2^11 and v.f == 0.5 and v.d == -0.25)\n"
        u"assert(v.bytes == 'a\\0b' and v.text == 'caf\\195\\169' and v.empty == '')\n"
        u"assert(getmetatable(v.obj) == Thing and v.nothing == nil and v.null == nil)\n"
        u"assert(#v.list == 3 and v.list[3] == 20 and v[5] == 55 and v.numbered == nil)");
}

TEST_F(ScriptCallTest, FunctionReferenceFallsBackToTheOwnersStoredFunction) {
    Run(u"t:store(function() return 'stored' end, 100000)\n"
        u"local f = t:ownerRef(100000)\n"
        u"assert(type(f) == 'function' and f() == 'stored')\n"
        u"assert(select('#', t:ownerRef(100001)) == 1 and t:ownerRef(100001) == nil)");
}

TEST_F(ScriptCallTest, ReturnStringsOfEveryLength) {
    Run(u"for _, n in ipairs({0, 1, 1023, 1024, 5000}) do\n"
        u"  local s = string.rep('x', n)\n"
        u"  assert(t:rString(s) == s, n)\n"
        u"end");
}

} // namespace
} // namespace ScriptTest
