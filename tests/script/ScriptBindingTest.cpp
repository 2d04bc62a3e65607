// Classes and objects seen by scripts: lookup order, properties, class fields, text conversion
// and the lifetime of bound objects.
#include <lua.hpp>

#include "ScriptTestClasses.h"
#include "Source/Script/LuaScriptManager.h"
#include "Source/Common/StringFormatter.h"

namespace ScriptTest {
namespace {

class ScriptBindingTest : public ScriptFixture {};

TEST_F(ScriptBindingTest, MethodsPropertiesAndConstantsResolveInOrder) {
    Thing* thing = new Thing();
    Publish("t", thing);
    Run(u"assert(t.K == 7 and Thing.C == 16 and t.C == nil and Thing.K == nil)\n"
        u"assert(t:rInt32(5) == 5 and Thing.twice(4) == 8)\n"
        u"assert(t.name == 'thing' and t.missing == nil)\n"
        u"t.value = 12 assert(t.value == 12 and rawget(t, 'value') == nil)\n"
        u"t.color = 0xFFFFFFFF assert(t.color == 4294967295)\n"
        // The object's own entry comes before the class metatable.
        u"t.rInt32 = 'shadowed' assert(t.rInt32 == 'shadowed')\n"
        u"t.rInt32 = nil assert(t:rInt32(3) == 3)\n"
        // A write without a setter becomes a plain field of the object table.
        u"t.name = 'renamed' assert(rawget(t, 'name') == 'renamed' and t.name == 'renamed')\n"
        u"assert(t:chain():chain() == t)");
    EXPECT_EQ(thing->mValue, 14);
    EXPECT_EQ(thing->mColor, 0xFFFFFFFFu);
}

TEST_F(ScriptBindingTest, ScriptDefinedClassMethodsReachEveryObject) {
    Thing* first = new Thing();
    Thing* second = new Thing();
    Publish("a", first);
    Publish("b", second);
    Run(u"function Thing:triple(x) return 3 * x + self:rInt32(0) end\n"
        u"Thing.flag = 'on'\n"
        u"assert(a:triple(2) == 6 and b:triple(3) == 9)\n"
        u"assert(Thing.triple ~= nil and rawget(Thing, 'triple') == nil and Thing.flag == 'on')\n"
        u"assert(a.flag == 'on' and Thing.new ~= nil)\n"
        u"local c = Thing.new() assert(c:triple(1) == 3)");
}

// Method lookups are remembered per object; every write to a class or a field table must reach
// what was remembered, and accessors must still run on every read.
TEST_F(ScriptBindingTest, RememberedLookupsFollowEveryWriteToTheLinks) {
    Thing* thing = new Thing();
    Publish("t", thing);
    Publish("u", new Thing());
    Run(u"assert(t:rInt32(1) == 1 and u:rInt32(2) == 2)\n"
        u"function Thing:rInt32(x) return -x end\n"
        u"assert(t:rInt32(1) == -1 and u:rInt32(2) == -2)\n"
        u"Thing.rInt32 = nil assert(t.rInt32 == nil and u.rInt32 == nil)\n"
        u"Thing.rInt32 = 5 assert(t.rInt32 == 5)");
    thing->mValue = 3;
    Run(u"assert(t.value == 3)");
    thing->mValue = 4;
    Run(u"assert(t.value == 4)");

    // Registration on a class opened again: a new method and a constant replace what the
    // objects found before.
    Run(u"assert(t:rBool(true) == true and t.K == 7)");
    mManager->BeginClass("Thing", nullptr);
    mManager->AddMethod(
        "rBool", nullptr, [](lua_State*) {
            IScriptManager* m = Vexal::GetScriptManager();
            m->BeginCall(nullptr);
            return m->ReturnInt32(77);
        },
        false);
    Variable eight(u"", Variable::kInt32);
    eight.SetInteger(8);
    mManager->AddConstant("K", eight, 0, false);
    mManager->EndClass();
    Run(u"assert(t:rBool(true) == 77 and t.K == 8 and u.K == 8)");

    // Field tables are per object: a field of one Bag is never seen through another.
    Publish("a", new Thing("Bag", true));
    Publish("b", new Thing("Bag", true));
    Run(u"assert(a:m() == 1 and b:m() == 1)\n"
        u"a.m = 2 assert(a.m == 2 and b:m() == 1)\n"
        u"a.keep = 3 assert(a.keep == 3 and a.keep == 3 and b.keep == 'dyn:keep')");
}

// A method call remembers its self table; once that object is gone, no other table may be taken
// for it, even one the allocator places at the same address.
TEST_F(ScriptBindingTest, ARememberedSelfNeverOutlivesItsTable) {
    auto* manager = static_cast<Vexal::LuaScriptManager*>(mManager);
    Publish("gone", new Thing());
    Run(u"method = gone.rInt32 assert(gone:rInt32(1) == 1)");
    ASSERT_NE(manager->mSelfTable, nullptr);

    // The table must outlive the release hook that forgets it: the native slot holds it.
    lua_State* L = mManager->GetLuaState();
    lua_getglobal(L, "gone");
    ASSERT_TRUE(lua_getmetatable(L, -1));
    lua_rawgeti(L, -1, 2);
    ASSERT_EQ(lua_type(L, -1), LUA_TUSERDATA);
    lua_getfenv(L, -1);
    EXPECT_TRUE(lua_rawequal(L, -1, -4));
    lua_pop(L, 4);

    // Collected step by step, with fresh tables kept alive taking up the freed memory at every
    // point of the cycle.
    Run(u"gone = nil\n"
        u"local keep = {}\n"
        u"for i = 1, 20000 do\n"
        u"  collectgarbage('step', 0)\n"
        u"  local t = {} keep[i] = t\n"
        u"  assert(select('#', method(t, 1)) == 0, 'taken for the old object')\n"
        u"end");
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sDeleted, 1);
    EXPECT_EQ(manager->mSelfTable, nullptr);

    // The same holds across objects made and dropped by scripts in a loop.
    Run(u"for i = 1, 300 do\n"
        u"  local made = Thing.new() assert(made:rInt32(i) == i)\n"
        u"  if i % 50 == 0 then collectgarbage() end\n"
        u"end");
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 0);
}

// Native metamethods of class "Pair": equal and less than by value, call and unary minus give
// the value plus the argument or negated, addition the value plus the number.
Thing* PairSelf(IScriptManager* m) {
    m->BeginCall(nullptr);
    return static_cast<Thing*>(m->GetSelf(nullptr, false));
}
int PairEqual(lua_State*) {
    IScriptManager* m = Vexal::GetScriptManager();
    Thing* self = PairSelf(m);
    auto* other = static_cast<Thing*>(m->GetParamObject(0));
    return m->ReturnBool(self && other && self->mValue == other->mValue);
}
int PairLess(lua_State*) {
    IScriptManager* m = Vexal::GetScriptManager();
    Thing* self = PairSelf(m);
    auto* other = static_cast<Thing*>(m->GetParamObject(0));
    return m->ReturnBool(self && other && self->mValue < other->mValue);
}
int PairCall(lua_State*) {
    IScriptManager* m = Vexal::GetScriptManager();
    Thing* self = PairSelf(m);
    return m->ReturnInt32(self ? self->mValue + m->GetParamInt32(0) : -1);
}
int PairMinus(lua_State*) {
    IScriptManager* m = Vexal::GetScriptManager();
    Thing* self = PairSelf(m);
    return m->ReturnInt32(self ? -self->mValue : 0);
}
int PairAdd(lua_State*) {
    IScriptManager* m = Vexal::GetScriptManager();
    Thing* self = PairSelf(m);
    return m->ReturnInt32(self ? self->mValue + m->GetParamInt32(0) : -1);
}

// The class metatable stands behind every object: metamethods registered or assigned by a
// script reach the objects bound before as well as after, with the object's own lookup kept.
TEST_F(ScriptBindingTest, ClassMetamethodsReachEveryObjectOldAndNew) {
    mManager->BeginClass("Pair", nullptr);
    mManager->EndClass();
    Thing* old = new Thing("Pair");
    old->mValue = 3;
    Publish("old", old);
    mManager->BeginClass("Pair", nullptr);
    mManager->AddMethod("__eq", nullptr, PairEqual, false);
    mManager->AddMethod("__lt", nullptr, PairLess, false);
    mManager->AddMethod("__call", nullptr, PairCall, false);
    mManager->AddMethod("__unm", nullptr, PairMinus, false);
    mManager->AddMethod("__add", nullptr, PairAdd, false);
    mManager->EndClass();
    Thing* same = new Thing("Pair");
    same->mValue = 3;
    Publish("same", same);
    Thing* larger = new Thing("Pair");
    larger->mValue = 9;
    Publish("larger", larger);
    Run(u"assert(old == same and same == old and old ~= larger)\n"
        u"assert(old < larger and not (larger < old))\n"
        u"assert(old(4) == 7 and larger(1) == 10 and -old == -3 and old + 2 == 5)\n"
        u"assert(getmetatable(old) == Pair and getmetatable(larger) == Pair)");

    // Metamethods a script assigns to the class table, after the objects exist.
    Run(u"function Pair.__concat(a, b) return 'joined' end\n"
        u"function Pair.__le(a, b) return true end\n"
        u"assert(old .. 'x' == 'joined' and larger .. 'y' == 'joined' and larger <= old)\n"
        u"local written\n"
        u"Pair.__newindex = function(t, k, v) written = k end\n"
        u"old.field = 1 same.other = 2\n"
        u"assert(written == 'other' and rawget(old, 'field') == nil)\n"
        u"Pair.__index = function(t, k) return 'class:' .. k end\n"
        u"rawset(old, 'own', 5)\n"
        u"assert(old.own == 5 and old.missing == 'class:missing' and larger.x == 'class:x')\n"
        u"Pair.__metatable = 'locked' assert(getmetatable(same) == 'locked')");
    Thing* later = new Thing("Pair");
    Publish("later", later);
    Run(u"assert(later.y == 'class:y' and later .. 1 == 'joined' and getmetatable(later) == 'locked')");
}

TEST_F(ScriptBindingTest, GetmetatableGivesTheClassTableAndCannotReplaceIt) {
    Publish("t", new Thing());
    Run(u"assert(getmetatable(t) == Thing)\n"
        u"assert(not pcall(setmetatable, t, {}))\n"
        u"assert(getmetatable(Bag.new()) == Bag)");
}

TEST_F(ScriptBindingTest, TostringGivesTheNativeAddressOrTheClassMethod) {
    Thing* thing = new Thing();
    Publish("t", thing);
    WideChar expected[64];
    FormatInto(expected, 64, u"table: 0x%p", static_cast<void*>(thing));
    EXPECT_EQ(RunText(u"return tostring(t)"), ToU16(expected));
    Run(u"function Thing:tostring() return 'thing #' .. self:rInt32(1) end");
    EXPECT_EQ(RunText(u"return tostring(t)"), u"thing #1");
}

TEST_F(ScriptBindingTest, OwnFieldTableAndCatchAllAccessor) {
    Thing* bag = new Thing("Bag", true);
    Publish("b", bag);
    Run(u"assert(b.anything == 'dyn:anything' and b[5] == 'dyn:5' and b:m() == 1)\n"
        // Taken by the catch-all setter: nothing is stored.
        u"b.set_x = 1 assert(b.set_x == 'dyn:set_x')\n"
        // Refused by the setter: stored in the per-object field table, read through the link.
        u"b.keep = 2 assert(rawget(b, 'keep') == nil and b.keep == 2)\n"
        // The field table comes before the class metatable, the object table before both.
        u"b.m = 3 assert(b.m == 3) rawset(b, 'm', 4) assert(b.m == 4)");
    EXPECT_EQ(bag->mLastKey, u"m");

    // Without a field table the same accessor sees the keys, and refused writes land in the
    // object table itself.
    Publish("plainBag", new Thing("Bag", false));
    Run(u"assert(plainBag.other == 'dyn:other' and plainBag:m() == 1)\n"
        u"plainBag.keep = 5 assert(rawget(plainBag, 'keep') == 5)\n"
        u"plainBag.set_z = 6 assert(rawget(plainBag, 'set_z') == nil)");
}

// A native object of another class, bound under the class name "Thing": scripts see Thing's
// methods and properties on it, but none of them may run on it. Its mark lies where a Thing keeps
// its value.
class Stranger final : public ScriptObject {
public:
    Stranger() { Vexal::GetScriptManager()->BindObject("Thing", this, false); }
    int32_t mMark = 0;
};

TEST_F(ScriptBindingTest, AMethodWithoutTargetOrSelf) {
    Publish("t", new Thing());
    Stranger* stranger = new Stranger();
    Publish("stranger", stranger);
    Run(u"local ok, message = pcall(t.broken, t)\n"
        u"assert(not ok and message:find('Internal Error : function empty', 1, true), message)\n"
        u"ok, message = pcall(emptyTarget)\n"
        u"assert(not ok and message:find('Internal Error : function empty', 1, true))\n"
        // Called with '.' instead of ':' a method has no self: no value, no effect.
        u"assert(select('#', t.rInt32(5)) == 0)\n"
        // An object of another native class is no self either.
        u"stranger:chain() t.chain(stranger) stranger.value = 5");
    EXPECT_EQ(stranger->mMark, 0);
}

TEST_F(ScriptBindingTest, FreshObjectsStayAnchoredUntilHandedOut) {
    Thing* thing = new Thing();
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sDeleted, 0);
    Publish("t", thing);
    Run(u"t = nil");
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sDeleted, 1);

    Run(u"made = Thing.new() made = nil");
    EXPECT_EQ(Thing::sLive, 1);
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 0);
}

TEST_F(ScriptBindingTest, LockedObjectsSurviveUntilUnlocked) {
    Thing* thing = new Thing();
    Publish("t", thing);
    mManager->LockObject(mManager->LockObject(thing));
    Run(u"t = nil");
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 1);
    mManager->UnlockObject(thing);
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 1);
    mManager->UnlockObject(thing);
    mManager->UnlockObject(thing); // never below 0
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 0);
}

TEST_F(ScriptBindingTest, HoldsAreReleasedOldestFirst) {
    Thing* thing = new Thing();
    Publish("t", thing);
    EXPECT_EQ(mManager->HoldObject(thing), thing);
    mManager->HoldObject(thing);
    Run(u"t = nil");
    mManager->ReleaseObject(thing);
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 1);
    mManager->ReleaseObject(thing);
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 0);
}

TEST_F(ScriptBindingTest, AttachedChildrenLiveWithTheirParent) {
    Thing* parent = new Thing();
    Thing* child = new Thing();
    Publish("p", parent);
    EXPECT_EQ(mManager->AttachChild(parent, child), child);
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 2);
    mManager->DetachChild(parent, child);
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 1);
    Run(u"p = nil");
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sLive, 0);
}

TEST_F(ScriptBindingTest, UnboundObjectsReadAsNull) {
    Thing* thing = new Thing();
    Publish("t", thing);
    Run(u"t:store(function() end)");
    delete thing;
    EXPECT_EQ(Thing::sLive, 0);
    // A null object prints as a null pointer of the machine's width.
    const std::u16string null = sizeof(void*) == 8 ? u"0x0000000000000000" : u"0x00000000";
    Run((u"assert(t:rInt32(5) == nil and t.value == nil)\n"
         u"assert(tostring(t) == 'table: " +
         null +
         u"')\n"
         u"other = Thing.new() assert(other:object(t) == nil)")
            .c_str());
    mManager->CollectGarbage();
    EXPECT_EQ(Thing::sDeleted, 1);
    // Operations on an object without binding do nothing.
    Thing* plain = new Thing("NoSuchClass");
    EXPECT_EQ(plain->mBinding, nullptr);
    EXPECT_EQ(mManager->HoldObject(plain), plain);
    mManager->ReleaseObject(plain);
    EXPECT_EQ(mManager->MoveRefToObject(plain, 1, 0), 0);
    delete plain;
}

TEST_F(ScriptBindingTest, ClosingTheManagerDeletesScriptOwnedObjectsOnly) {
    Thing* fresh = new Thing();
    Thing* locked = new Thing();
    Publish("l", locked);
    mManager->LockObject(locked);
    Run(u"kept = Thing.new()");
    EXPECT_EQ(Thing::sLive, 3);
    delete mManager;
    EXPECT_EQ(Thing::sLive, 2);
    delete fresh;
    delete locked;
    mManager = Vexal::GetScriptManager();
    RegisterTestClasses(mManager);
}

} // namespace
} // namespace ScriptTest
