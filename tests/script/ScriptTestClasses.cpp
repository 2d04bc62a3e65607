// Test classes "Thing" and "Bag" with dispatchers that follow the native call protocol.
#include "ScriptTestClasses.h"

#include <lua.hpp>

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Script/NativeCall.h"

namespace ScriptTest {

int32_t Thing::sLive = 0;
int32_t Thing::sDeleted = 0;
Variable gLastVariable;

Thing::Thing(const char* className, bool ownFieldTable) {
    ++sLive;
    Vexal::GetScriptManager()->BindObject(className, this, ownFieldTable);
}

Thing::~Thing() {
    --sLive;
    ++sDeleted;
}

namespace {

typedef int32_t (*Method)(Thing* self, IScriptManager* m);

template <Vexal::SelfRule kRule>
int Dispatch(lua_State*) {
    return Vexal::DispatchNative<Thing, Method, kRule>(
        [](IScriptManager* m, Thing* self, Method target) { return target(self, m); });
}

// Methods end at once without a self; free functions run with or without one.
const lua_CFunction DispatchMethod = Dispatch<Vexal::SelfRule::kRequired>;
const lua_CFunction DispatchFree = Dispatch<Vexal::SelfRule::kOptional>;

int NewThing(lua_State*) {
    return Vexal::ConstructNative(NewThing, [] { return new Thing("Thing", false); });
}
int NewBag(lua_State*) {
    return Vexal::ConstructNative(NewBag, [] { return new Thing("Bag", true); });
}

void* T(Method method) { return reinterpret_cast<void*>(method); }

void AddMethod(IScriptManager* m, const char* name, Method method) { m->AddMethod(name, T(method), DispatchMethod, false); }

} // namespace

void RegisterTestClasses(IScriptManager* m) {
    m->BeginClass("Thing", NewThing);
    AddMethod(m, "rBool", [](Thing*, IScriptManager* m) { return m->ReturnBool(m->GetParamBool(0)); });
    AddMethod(m, "rWChar", [](Thing*, IScriptManager* m) { return m->ReturnWChar(m->GetParamWChar(0)); });
    AddMethod(m, "rInt8", [](Thing*, IScriptManager* m) { return m->ReturnInt8(m->GetParamInt8(0)); });
    AddMethod(m, "rInt16", [](Thing*, IScriptManager* m) { return m->ReturnInt16(m->GetParamInt16(0)); });
    AddMethod(m, "rInt32", [](Thing*, IScriptManager* m) { return m->ReturnInt32(m->GetParamInt32(0)); });
    AddMethod(m, "rInt64", [](Thing*, IScriptManager* m) { return m->ReturnInt64(m->GetParamInt64(0)); });
    AddMethod(m, "rUInt8", [](Thing*, IScriptManager* m) { return m->ReturnUInt8(m->GetParamUInt8(0)); });
    AddMethod(m, "rUInt16", [](Thing*, IScriptManager* m) { return m->ReturnUInt16(m->GetParamUInt16(0)); });
    AddMethod(m, "rUInt32", [](Thing*, IScriptManager* m) { return m->ReturnUInt32(m->GetParamUInt32(0)); });
    AddMethod(m, "rUInt64", [](Thing*, IScriptManager* m) { return m->ReturnUInt64(m->GetParamUInt64(0)); });
    AddMethod(m, "rFloat", [](Thing*, IScriptManager* m) { return m->ReturnFloat(m->GetParamFloat(0)); });
    AddMethod(m, "rDouble", [](Thing*, IScriptManager* m) { return m->ReturnDouble(m->GetParamDouble(0)); });
    AddMethod(m, "rString", [](Thing*, IScriptManager* m) {
        const WideChar* text = nullptr;
        m->GetParamString(&text, 0);
        return m->ReturnString(text);
    });
    // Two texts read in one call, the first checked after the second was taken.
    AddMethod(m, "rTwoStrings", [](Thing*, IScriptManager* m) {
        const WideChar* first = nullptr;
        const WideChar* second = nullptr;
        m->GetParamString(&first, 0);
        m->GetParamString(&second, 1);
        return m->ReturnBool(first != second && first[0] != 0 && second[0] != 0);
    });
    AddMethod(m, "count", [](Thing*, IScriptManager* m) { return m->ReturnInt32(m->GetParamCount()); });
    AddMethod(m, "fail", [](Thing*, IScriptManager* m) {
        m->SetPendingError(u"boom");
        return m->ReturnInt32(7);
    });
    AddMethod(m, "chain", [](Thing* self, IScriptManager* m) {
        ++self->mValue;
        return m->ReturnNothing();
    });
    AddMethod(m, "store", [](Thing* self, IScriptManager* m) {
        int32_t key = m->GetParamCount() > 1 ? m->GetParamInt32(1) : 64;
        return m->ReturnInt32(m->SetObjectCallback(self, key, 0));
    });
    AddMethod(m, "ref", [](Thing*, IScriptManager* m) { return m->ReturnInt32(m->RefParamFunction(0)); });
    AddMethod(m, "object", [](Thing*, IScriptManager* m) { return m->ReturnObject(m->GetParamObject(0)); });
    AddMethod(m, "itself", [](Thing* self, IScriptManager* m) { return m->ReturnObject(self); });
    // Converts parameter 0 into a Variable of the type given by parameter 1 (0: by value).
    AddMethod(m, "variable", [](Thing*, IScriptManager* m) {
        gLastVariable.Reinitialize(u"", uint32_t(m->GetParamInt32(1)));
        m->GetParamVariable(0, &gLastVariable);
        return m->ReturnVariable(gLastVariable);
    });
    // Returns a function reference whose registry slot is empty: the object's stored callback.
    AddMethod(m, "ownerRef", [](Thing*, IScriptManager* m) {
        gLastVariable.Reinitialize(u"", Variable::kFunction);
        gLastVariable.SetFunctionRef(m->GetParamInt32(0));
        return m->ReturnVariable(gLastVariable);
    });
    m->AddProperty("value", T([](Thing* self, IScriptManager* m) { return m->ReturnInt32(self->mValue); }),
                   DispatchMethod, T([](Thing* self, IScriptManager* m) {
                       self->mValue = m->GetParamInt32(0);
                       return m->ReturnNothing();
                   }),
                   DispatchMethod);
    m->AddProperty("color", T([](Thing* self, IScriptManager* m) { return m->ReturnUInt32(self->mColor); }),
                   DispatchMethod, T([](Thing* self, IScriptManager* m) {
                       self->mColor = m->GetParamUInt32(0);
                       return m->ReturnNothing();
                   }),
                   DispatchMethod);
    m->AddReadOnlyProperty("name", T([](Thing*, IScriptManager* m) { return m->ReturnString(u"thing"); }),
                           DispatchMethod);
    Variable seven(u"", Variable::kInt32);
    seven.SetInteger(7);
    m->AddConstant("K", seven, 0, false);
    Variable sixteen(u"", Variable::kUInt32);
    sixteen.SetInteger(16);
    m->AddConstant("C", sixteen, 0, true);
    m->AddMethod("twice", T([](Thing*, IScriptManager* m) { return m->ReturnInt32(2 * m->GetParamInt32(0)); }),
                 DispatchFree, true);
    m->AddMethod("broken", nullptr, DispatchMethod, false);
    m->EndClass();

    m->BeginClass("Bag", NewBag);
    AddMethod(m, "m", [](Thing*, IScriptManager* m) { return m->ReturnInt32(1); });
    // Catch-all accessor: reads give "dyn:" and the key; writes of keys starting with "set_"
    // are taken by the object, every other write becomes a field.
    m->AddProperty("", T([](Thing*, IScriptManager* m) {
                       WideChar buffer[256] = {};
                       {
                           const WideChar* key = nullptr;
                           m->GetParamString(&key, 0);
                           (u"dyn:" + ToU16(key)).copy(buffer, 255);
                       }
                       return m->ReturnString(buffer);
                   }),
                   DispatchMethod, T([](Thing* self, IScriptManager* m) {
                       const WideChar* key = nullptr;
                       m->GetParamString(&key, 0);
                       self->mLastKey = ToU16(key);
                       if (self->mLastKey.rfind(u"set_", 0) == 0) return m->ReturnNothing();
                       Variable none;
                       return m->ReturnVariable(none);
                   }),
                   DispatchMethod);
    m->EndClass();

    m->AddMethod("countFree", T([](Thing*, IScriptManager* m) { return m->ReturnInt32(m->GetParamCount()); }),
                 DispatchFree, false);
    m->AddMethod("firstFree", T([](Thing*, IScriptManager* m) { return m->ReturnInt32(m->GetParamInt32(0)); }),
                 DispatchFree, false);
    m->AddMethod("runMode2", T([](Thing*, IScriptManager* m) {
                     m->RunString(nullptr, u"return 42", u"nested", 2);
                     return m->ReturnNothing();
                 }),
                 DispatchFree, false);
    m->AddMethod("runBuffer", T([](Thing*, IScriptManager* m) {
                     {
                         Buffer script;
                         script.Set("error('inner')", 14, true);
                         script.SetName(u"inner.lua");
                         m->RunBuffer(nullptr, &script, 0);
                     }
                     return m->ReturnNothing();
                 }),
                 DispatchFree, false);
    m->AddMethod("emptyTarget", nullptr, DispatchFree, false);
}

std::u16string ToU16(const WideChar* text) { return text ? std::u16string(text) : std::u16string(); }

std::string ToUtf8(const std::u16string& text) {
    char* utf8 = Utf16ToUtf8(nullptr, 0, text.c_str());
    std::string result = utf8 ? utf8 : "";
    std::free(utf8);
    return result;
}

void ScriptFixture::SetUp() {
    Thing::sLive = 0;
    Thing::sDeleted = 0;
    mManager = Vexal::GetScriptManager();
    ASSERT_NE(mManager, nullptr);
    RegisterTestClasses(mManager);
}

void ScriptFixture::TearDown() {
    gLastVariable.Reset();
    mOut.Reset();
    delete mManager;
    EXPECT_EQ(Vexal::FindScriptManager(), nullptr);
}

void ScriptFixture::Run(const char16_t* text) {
    mManager->RunString(nullptr, text, u"test", 0);
    EXPECT_EQ(LastError(), u"") << ToUtf8(LastError());
}

double ScriptFixture::RunNumber(const char16_t* text) {
    mOut.Reset();
    mManager->RunString(&mOut, text, u"test", 1);
    EXPECT_EQ(LastError(), u"") << ToUtf8(LastError());
    return mOut.GetNumber();
}

std::u16string ScriptFixture::RunText(const char16_t* text) {
    mOut.Reset();
    mManager->RunString(&mOut, text, u"test", 1);
    EXPECT_EQ(LastError(), u"") << ToUtf8(LastError());
    return ToU16(mOut.GetString());
}

std::u16string ScriptFixture::LastError() {
    const WideChar* text = nullptr;
    mManager->GetLastError(&text);
    return ToU16(text);
}

void ScriptFixture::Publish(const char* name, ScriptObject* obj) {
    Variable value(u"", Variable::kObject);
    value.SetObject(obj);
    mManager->SetField(static_cast<ScriptObject*>(nullptr), name, value);
}

} // namespace ScriptTest
