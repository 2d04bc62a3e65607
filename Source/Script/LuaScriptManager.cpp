// The script manager: creation, states, protected calls, error capture, compiling and running
// scripts, fields and calls of stored script functions.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <new>

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/Resource.h"

namespace Vexal {

const WideChar kScriptModule[] = u"Source/Script/LuaScriptManager";

LuaScriptManager* LuaScriptManager::sInstance = _null;

// Defined with the binding: the class table's lookup and field writer, the native-slot
// finaliser.
int ClassIndex(lua_State* L);
int ClassFieldWriter(lua_State* L);
int NativeSlotRelease(lua_State* L);

namespace {

// Error values that are strings or numbers get a stack traceback from the script's own debug
// library; anything else is returned as it is.
int TracebackHandler(lua_State* L) {
    if (!lua_isstring(L, 1)) return 1;
    lua_getfield(L, LUA_GLOBALSINDEX, "debug");
    if (!lua_istable(L, -1)) {
        lua_settop(L, 1);
        return 1;
    }
    lua_getfield(L, -1, "traceback");
    if (!lua_isfunction(L, -1)) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushvalue(L, 1);
    lua_pushinteger(L, 2);
    lua_call(L, 2, 1);
    return 1;
}

int GetFieldThunk(lua_State* L) {
    lua_gettable(L, 1);
    return 1;
}

int NewRef(lua_State* L) { return luaL_ref(L, LUA_REGISTRYINDEX); }

void OpenLibrary(lua_State* L, lua_CFunction open, const char* name) {
    lua_pushcfunction(L, open);
    lua_pushstring(L, name);
    lua_call(L, 1, 0);
}

} // namespace

IScriptManager* GetScriptManager() {
    if (LuaScriptManager::sInstance) return LuaScriptManager::sInstance;
    LuaScriptManager* manager = new (std::nothrow) LuaScriptManager();
    LogTrace(u"[KL] Lua ScriptManager Created");
    if (manager == _null) return _null;
    // A manager without its first state could run nothing.
    if (manager->GetLuaState() == _null) {
        delete manager;
        return _null;
    }
    LuaScriptManager::sInstance = manager;
    return manager;
}

IScriptManager* FindScriptManager() { return LuaScriptManager::sInstance; }

LuaScriptManager::LuaScriptManager()
    : mCallThread(_null), mCallTarget(_null), mSelfTable(_null), mSelfSlot(_null), mErrorCallback(_null), mLuaState(_null), mProfiling(0), mCostThreshold(-1),
      mProfRecords(397), mAllocMinimum(-1), mAllocRecords(397), mReturnBuffer(_null), mClassName(_null),
      mObjectsRef(0), mAnchorRef(0), mClassBaseRef(0), mPendingResult(0), mPendingDepth(0), mConversionBudget(kConversionBudget), mSlotMetaRef(0),
      mClassLinksRef(0), mTracebackRef(0), mClockRead(_null), mClockFrequency(0), mHookState(_null),
      mAllocState(_null), mLastProfileKey{_null, _null}, mLastProfileRecord{_null, _null},
      mFirstProfileSerial(sNextProfileSerial) {
    SwitchState(uint32_t(CreateState(_null)));
}

LuaScriptManager::~LuaScriptManager() {
    for (TempString& temp : mTempStrings) std::free(temp.mText);
    mTempStrings.Clear();
    while (mFreeBuffers.GetCount() > 0) std::free(mFreeBuffers.Pop());
    std::free(mReturnBuffer);
    mReturnBuffer = _null;
    if (mProfiling) DumpProfile();
    // Neither the call hook nor the allocation observer may outlive the manager.
    StopProfiling();
    // Closing a state finalises every native slot: script-owned objects are deleted, and their
    // destructors still find this manager.
    for (ScriptState& state : mStates)
        if (state.mOwnsState) lua_close(state.mState);
    mStates.Clear();
    mLuaState = _null;
    FreeConfigs();
    if (sInstance == this) sInstance = _null;
    for (auto* e = mProfRecords.GetHead(); e; e = e->mNext) delete e->mValue;
    for (auto* e = mAllocRecords.GetHead(); e; e = e->mNext) delete e->mValue;
}

void LuaScriptManager::SetErrorCallback(ScriptErrorCallback callback) { mErrorCallback = callback; }

int32_t LuaScriptManager::CreateState(lua_State* existing) {
    ScriptState state = {};
    lua_State* L = existing;
    if (L == _null) {
        L = luaL_newstate();
        if (L == _null) {
            LogFailure(u"[LS] Can't open new lua state");
            return -1;
        }
        // No io, os or package library: scripts reach neither files nor processes.
        OpenLibrary(L, luaopen_base, "");
        OpenLibrary(L, luaopen_table, LUA_TABLIBNAME);
        OpenLibrary(L, luaopen_string, LUA_STRLIBNAME);
        OpenLibrary(L, luaopen_math, LUA_MATHLIBNAME);
        OpenLibrary(L, luaopen_bit, LUA_BITLIBNAME);
        OpenLibrary(L, luaopen_debug, LUA_DBLIBNAME);
        OpenLibrary(L, luaopen_jit, LUA_JITLIBNAME);
        RestrictBaseLibrary(L);
        lua_getfield(L, LUA_GLOBALSINDEX, "jit");
        if (lua_istable(L, -1)) {
            lua_getfield(L, -1, "off");
            if (lua_isfunction(L, -1)) lua_pcall(L, 0, 0, 0);
            else lua_pop(L, 1);
        }
        lua_pop(L, 1);
        state.mOwnsState = 1;
    }
    state.mState = L;
    int top = lua_gettop(L);

    // Object table: weak values, so an object table no script holds drops out.
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "v");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    state.mObjectsRef = NewRef(L);

    lua_newtable(L);
    state.mAnchorRef = NewRef(L);

    // Class links (class table -> extension table); classes live as long as the state.
    lua_newtable(L);
    lua_pushvalue(L, -1);
    state.mClassLinksRef = NewRef(L);

    // Class base metatable: lookups walk the class table's link, writes go to the extension
    // table and the class metatable.
    lua_newtable(L);
    lua_pushvalue(L, -2);
    lua_newtable(L);
    lua_pushcclosure(L, ClassIndex, 2);
    lua_setfield(L, -2, "__index");
    lua_pushvalue(L, -2);
    lua_pushcclosure(L, ClassFieldWriter, 1);
    lua_setfield(L, -2, "__newindex");
    state.mClassBaseRef = NewRef(L);
    lua_pop(L, 1);

    // Native slots carry the object release hook as finaliser.
    lua_newtable(L);
    lua_pushcfunction(L, NativeSlotRelease);
    lua_setfield(L, -2, "__gc");
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
    state.mSlotMetaRef = NewRef(L);

    lua_pushcfunction(L, TracebackHandler);
    state.mTracebackRef = NewRef(L);
    lua_settop(L, top);

    int32_t index = mStates.GetCount();
    if (!mStates.Append(state)) {
        if (state.mOwnsState) lua_close(L);
        LogFailure(u"[LS] Can't open new lua state");
        return -1;
    }
    return index;
}

bool LuaScriptManager::SwitchState(uint32_t index) {
    if (index >= uint32_t(mStates.GetCount())) {
        LogFailure(u"[LS] Failed to switch script state to invalid index %d", int32_t(index));
        return false;
    }
    const ScriptState& state = mStates[int32_t(index)];
    mLuaState = state.mState;
    mObjectsRef = state.mObjectsRef;
    mAnchorRef = state.mAnchorRef;
    mClassBaseRef = state.mClassBaseRef;
    mSlotMetaRef = state.mSlotMetaRef;
    mClassLinksRef = state.mClassLinksRef;
    mTracebackRef = state.mTracebackRef;
    return true;
}

int32_t LuaScriptManager::GetEngineKind() { return 2; }
lua_State* LuaScriptManager::GetLuaState() { return mLuaState; }
void LuaScriptManager::Initialize() {}
void LuaScriptManager::Finalize() {}
lua_State* LuaScriptManager::GetScriptContext() { return mLuaState; }
int32_t LuaScriptManager::ReservedQuery(intptr_t) { return 0; }

int LuaScriptManager::ProtectedCall(int nargs) {
    lua_State* L = mLuaState;
    int base = lua_gettop(L) - nargs;
    int32_t depth = mCallStack.GetCount();
    lua_State* callThread = mCallThread;
    void* callTarget = mCallTarget;
    bool marked = mProfiling != 0;
    if (marked) mProfStack.Push(ScriptProfileCall{_null, 0, _null, -1});

    lua_rawgeti(L, LUA_REGISTRYINDEX, mTracebackRef);
    lua_insert(L, base);
    int status = lua_pcall(L, nargs, 1, base);
    lua_remove(L, base);

    if (marked) CloseProtectedCalls();
    // An error raised inside native calls skipped their return operations.
    UnwindCalls(depth);
    mCallThread = callThread;
    mCallTarget = callTarget;
    if (status != 0) lua_gc(L, LUA_GCCOLLECT, 0);
    return status;
}

void LuaScriptManager::CaptureError() {
    lua_State* L = mLuaState;
    int type = lua_type(L, -1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        size_t size = 0;
        const char* text = lua_tolstring(L, -1, &size);
        WideChar* wide = Utf8ToUtf16(_null, 0, text, int32_t(size));
        mLastError = wide ? wide : u"";
        std::free(wide);
        if (mErrorCallback) mErrorCallback(intptr_t(mLastError.Data()));
    } else {
        mLastError.Clear();
    }
    lua_pop(L, 1);
}

void LuaScriptManager::ReportError() {
    // The log writes line breaks that a text brings in as escapes; a message and its traceback
    // stay readable as one log line each.
    const WideChar* line = mLastError.Data();
    for (;;) {
        const WideChar* end = line;
        while (*end != 0 && *end != u'\n') ++end;
        const int32_t length = int32_t(end - line) - (end > line && end[-1] == u'\r' ? 1 : 0);
        if (length > 0 || *end == 0) LogFailure(u"%ls", String(line, length).Data());
        if (*end == 0) return;
        line = end + 1;
    }
}

int32_t LuaScriptManager::CompileString(const WideChar* text) {
    char* utf8 = Utf16ToUtf8(_null, 0, text ? text : u"");
    if (utf8 == _null) return 0;
    int32_t reference = CompileBuffer(utf8, int32_t(std::strlen(utf8)));
    std::free(utf8);
    return reference;
}

int32_t LuaScriptManager::CompileBuffer(const char* text, int32_t length) {
    if (text == _null || length < 0) length = 0;
    // Compiled text ends at its first NUL, as luaL_loadstring reads it: a length that counts a
    // terminator or a zero-padded block compiles the text before it. Text after a NUL is
    // never compiled, and that is said.
    if (const void* end = length > 0 ? std::memchr(text, 0, size_t(length)) : _null) {
        int32_t textLength = int32_t(static_cast<const char*>(end) - text);
        int32_t after = 0;
        for (int32_t i = textLength; i < length; ++i) after += text[i] != 0;
        if (after > 0) {
            LogTrace(u"[LS] Script text ends at a NUL byte after %d bytes; %d bytes after it are not compiled",
                     textLength, length - textLength);
        }
        length = textLength;
    }
    // The text itself names the chunk, as for luaL_loadstring; the copy adds its terminator.
    char* copy = static_cast<char*>(std::malloc(size_t(length) + 1));
    if (copy == _null) return 0;
    if (length > 0) std::memcpy(copy, text, size_t(length));
    copy[length] = 0;
    lua_State* L = mLuaState;
    int status = LoadScriptText(L, copy, size_t(length), copy);
    std::free(copy);
    if (status != 0) {
        CaptureError();
        ReportError();
        return 0;
    }
    mLastError.Clear();
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TFUNCTION, u"lua_type( mLuaState, -1 ) == LUA_TFUNCTION",
                     kScriptModule)) {
        lua_pop(L, 1);
        return 0;
    }
    return NewRef(L);
}

bool LuaScriptManager::ReadScriptFile(const WideChar* path, Buffer& buffer) {
    if (path == _null || *path == 0) return false;
    if (LoadEmbeddedResource(path, buffer)) {
        buffer.SetName(path);
    } else if (!ReadFileToBuffer(buffer, path)) {
        return false;
    }
    return buffer.GetSize() > 0;
}

int32_t LuaScriptManager::CompileFile(const WideChar* path) {
    Buffer buffer;
    if (!ReadScriptFile(path, buffer)) return 0;
    return CompileBuffer(reinterpret_cast<const char*>(buffer.GetData()), int32_t(buffer.GetSize()));
}

Variable* LuaScriptManager::RunChunk(Variable* out, const char* bytes, size_t size, const char* chunkName,
                                     int32_t resultMode, bool failAsPendingError) {
    lua_State* L = mLuaState;
    int status = LoadScriptText(L, bytes, size, chunkName);
    if (status == 0) status = ProtectedCall(0);
    if (status != 0) {
        CaptureError();
        ReportError();
        // Only a native call in progress can carry the failure to its script; outside one the
        // message would surface at some unrelated later call.
        if (failAsPendingError && mCallStack.GetCount() > 0) {
            WideChar message[1024];
            FormatInto(message, 1024, u"%ls", mLastError.Data());
            SetPendingError(message);
        }
        if (out) out->Reset();
        return out;
    }
    mLastError.Clear();
    if (resultMode == 1) {
        if (out) ToVariable(L, -1, out);
        lua_pop(L, 1);
    } else if (resultMode == 0 || mCallStack.GetCount() == 0) {
        // A waiting result belongs to the native call that runs the script; outside one there
        // is no call to return it, and any later call would take it for its own.
        lua_pop(L, 1);
    } else {
        mPendingResult = 1;
        mPendingDepth = mCallStack.GetCount();
    }
    return out;
}

// "@" and at most 1022 bytes of whole UTF-8 characters of the name.
static void MakeChunkName(char (&chunkName)[1024], const WideChar* name) {
    chunkName[0] = '@';
    chunkName[1] = 0;
    if (name) Utf16ToUtf8(chunkName + 1, 1023, name);
}

Variable* LuaScriptManager::RunString(Variable* out, const WideChar* text, const WideChar* chunkName,
                                      int32_t resultMode) {
    char name[1024];
    MakeChunkName(name, chunkName);
    int32_t size = 0;
    char* utf8 = Utf16ToUtf8(_null, 0, text ? text : u"", -1, &size);
    if (utf8 == _null) {
        if (out) out->Reset();
        return out;
    }
    // A protected call never lets a script error unwind past it, so the text can wait here.
    RunChunk(out, utf8, size_t(size), name, resultMode, false);
    std::free(utf8);
    return out;
}

Variable* LuaScriptManager::RunBuffer(Variable* out, const ScriptBuffer* buffer, int32_t resultMode) {
    if (buffer == _null) {
        if (out) out->Reset();
        return out;
    }
    const uint8_t* data = buffer->GetData();
    uint32_t size = data ? buffer->GetSize() : 0;
    if (size >= 4 && std::memcmp(data, "LUC1", 4) == 0) {
        LoadConfigBlob(data, size);
        if (out) out->Reset();
        return out;
    }
    char name[1024];
    MakeChunkName(name, buffer->GetName().Data());
    return RunChunk(out, data ? reinterpret_cast<const char*>(data) : "", size, name, resultMode, true);
}

Variable* LuaScriptManager::RunFile(Variable* out, const WideChar* path, int32_t resultMode) {
    Buffer buffer;
    if (!ReadScriptFile(path, buffer)) {
        if (out) out->Reset();
        return out;
    }
    return RunBuffer(out, &buffer, resultMode);
}

void LuaScriptManager::SetField(ScriptObject* obj, const char* name, const Variable& value) {
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    if (obj) PushObject(L, obj, false);
    else lua_pushvalue(L, LUA_GLOBALSINDEX);
    if (lua_istable(L, -1)) {
        lua_pushstring(L, name ? name : "");
        PushVariable(L, value, obj);
        lua_rawset(L, -3);
    }
    lua_settop(L, top);
}

void LuaScriptManager::SetField(ScriptObject* obj, const WideChar* name, const Variable& value) {
    char narrow[1024];
    narrow[0] = 0;
    if (name) Utf16ToUtf8(narrow, 1024, name);
    SetField(obj, narrow, value);
}

Variable* LuaScriptManager::GetField(Variable* out, ScriptObject* obj, const char* name) {
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    // Getters may raise script errors: read inside a protected call.
    lua_pushcfunction(L, GetFieldThunk);
    if (obj) PushObject(L, obj, false);
    else lua_pushvalue(L, LUA_GLOBALSINDEX);
    if (!lua_istable(L, -1)) {
        lua_settop(L, top);
        return out;
    }
    lua_pushstring(L, name ? name : "");
    if (ProtectedCall(2) != 0) {
        CaptureError();
        ReportError();
    } else if (out) {
        ToVariable(L, -1, out);
    }
    lua_settop(L, top);
    return out;
}

Variable* LuaScriptManager::GetField(Variable* out, ScriptObject* obj, const WideChar* name) {
    char narrow[1024];
    narrow[0] = 0;
    if (name) Utf16ToUtf8(narrow, 1024, name);
    return GetField(out, obj, narrow);
}

void LuaScriptManager::CallStored(ScriptObject* obj, int32_t key, const Variable* const* arguments,
                                  int32_t count, Variable* result) {
    if (key == 0) return;
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    if (obj) {
        if (obj->mBinding == _null) return;
        PushObject(L, obj, false);
        if (!lua_istable(L, -1)) {
            lua_settop(L, top);
            return;
        }
        lua_pushlightuserdata(L, KeyPointer(key));
        lua_rawget(L, -2);
        lua_remove(L, -2);
    } else {
        lua_rawgeti(L, LUA_REGISTRYINDEX, key);
    }
    if (!lua_isfunction(L, -1)) {
        lua_settop(L, top);
        return;
    }
    if (!lua_checkstack(L, count + 2)) {
        lua_settop(L, top);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (arguments[i]) PushVariable(L, *arguments[i], obj);
        else lua_pushnil(L);
    }
    if (ProtectedCall(count) != 0) {
        CaptureError();
        ReportError();
    } else {
        mLastError.Clear();
        if (result) ToVariable(L, -1, result);
    }
    lua_settop(L, top);
}

void LuaScriptManager::CallFunction(ScriptObject* obj, int32_t key, const Array<Variable*>& arguments,
                                    Variable* result) {
    CallStored(obj, key, arguments.begin(), arguments.GetCount(), result);
}

void LuaScriptManager::CallFunction(ScriptObject* obj, int32_t key, const Variable& argument, Variable* result) {
    const Variable* arguments[1] = {&argument};
    CallStored(obj, key, arguments, 1, result);
}

void LuaScriptManager::CallFunction(ScriptObject* obj, int32_t key, Variable* result) {
    CallStored(obj, key, _null, 0, result);
}

int32_t LuaScriptManager::NotifyError(int32_t value) {
    return mErrorCallback ? mErrorCallback(value) : 0;
}

void LuaScriptManager::GetLastError(const WideChar** out) {
    if (out) *out = mLastError.Data();
}

int32_t LuaScriptManager::CollectGarbage() {
    return mLuaState ? lua_gc(mLuaState, LUA_GCCOLLECT, 0) : 0;
}

} // namespace Vexal

bool Vexal::PushWeakKeyedTable(lua_State* L, int holder, const void* key) {
    lua_pushlightuserdata(L, const_cast<void*>(key));
    lua_rawget(L, holder);
    if (lua_istable(L, -1)) return false;
    lua_pop(L, 1);
    lua_newtable(L);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_pushlightuserdata(L, const_cast<void*>(key));
    lua_pushvalue(L, -2);
    lua_rawset(L, holder);
    return true;
}
