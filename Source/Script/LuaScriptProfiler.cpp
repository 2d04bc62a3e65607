// The call-cost profiler: records per function, the call and return hook, native calls timed
// by their dispatchers, slow-call lines and the sorted dump.
//
// Open calls live on mProfStack with their own start; a protected call pushes a null marker
// and closes whatever a script error left open above it. A return event closes the innermost
// open call of the returning function, so frames replaced by tail calls (which never return on
// their own) and calls cut short by a script-level pcall are closed with it.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <algorithm>
#include <cstdlib>

#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/Log.h"

namespace Vexal {

namespace {

constexpr int32_t kDumpLines = 100;
const WideChar kKindNative[] = u"C";
const WideChar kKindScript[] = u"Lua";

// Record keys: "C" and the native target's address, or "L" and a script record's number, both
// in hex.
void MakeKey(WideChar (&key)[20], uint64_t value, bool native) {
    static const char kHex[] = "0123456789abcdef";
    key[0] = native ? u'C' : u'L';
    for (int i = 16; i >= 1; --i) {
        key[i] = WideChar(kHex[value & 15]);
        value >>= 4;
    }
    key[17] = 0;
}

// Registry keys (light userdata of these addresses): the weak-keyed table of the profiled script
// functions of a state (function -> identity), and the identities' metatable.
const char kProfiledFunctionsKey = 0;
const char kIdentityMetaKey = 0;

// A profiled script function's identity: reachable only through the weak-keyed table, so it
// becomes garbage once the function is collected, and its finaliser says so.
struct ProfiledFunction {
    ScriptProfileRecord* mRecord;
    uint64_t mSerial;
};

int ProfiledFunctionGone(lua_State* L) {
    const ProfiledFunction* identity = static_cast<const ProfiledFunction*>(lua_touserdata(L, 1));
    if (identity && LuaScriptManager::sInstance) LuaScriptManager::sInstance->ForgetProfiledFunction(identity->mSerial);
    return 0;
}

// Pushes the state's table of profiled functions, made on first use.
void PushProfiledFunctions(lua_State* L) {
    if (!PushWeakKeyedTable(L, LUA_REGISTRYINDEX, &kProfiledFunctionsKey)) return;
    lua_pushlightuserdata(L, const_cast<char*>(&kIdentityMetaKey));
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, ProfiledFunctionGone);
    lua_setfield(L, -2, "__gc");
    lua_rawset(L, LUA_REGISTRYINDEX);
}

void HookFunction(lua_State* L, lua_Debug* ar) {
    LuaScriptManager* manager = LuaScriptManager::sInstance;
    if (manager == _null) return;
    if (ar->event == LUA_HOOKCALL || ar->event == LUA_HOOKRET) manager->ProfileScriptCall(L, ar);
}

struct SortedCall {
    double mValue;
    ScriptProfileRecord* mRecord;
    uint32_t mCalls;
};

} // namespace

// Script records are numbered across managers, so a finaliser that runs late never names the
// record of another manager.
uint64_t LuaScriptManager::sNextProfileSerial = 1;

void LuaScriptManager::SetProfileClock(ScriptProfileClock read, uint64_t frequency) {
    mClockRead = read;
    mClockFrequency = read ? frequency : 0;
}

int64_t LuaScriptManager::ProfileNow() {
    return int64_t(mClockRead ? mClockRead() : ReadHighResolutionCounter());
}

double LuaScriptManager::TicksToMilliseconds(int64_t ticks) {
    if (mClockRead == _null) return CounterToMilliseconds(uint64_t(ticks));
    return mClockFrequency ? double(ticks) / double(mClockFrequency) * 1000.0 : 0.0;
}

void LuaScriptManager::EnableProfiler(bool on) {
    mProfiling = on ? 1 : 0;
    if (on) {
        if (mHookState && mHookState != mLuaState) lua_sethook(mHookState, _null, 0, 0);
        mHookState = mLuaState;
        if (mHookState) lua_sethook(mHookState, HookFunction, LUA_MASKCALL | LUA_MASKRET, 0);
    } else if (mHookState) {
        lua_sethook(mHookState, _null, 0, 0);
        mHookState = _null;
    }
}

void LuaScriptManager::SetCostThreshold(int32_t milliseconds) { mCostThreshold = milliseconds; }
int32_t LuaScriptManager::GetCostThreshold() { return mCostThreshold; }
bool LuaScriptManager::IsProfilerEnabled() { return mProfiling != 0; }

ScriptProfileRecord* LuaScriptManager::FindProfileRecord(const void* key, bool native) {
    int kind = native ? 1 : 0;
    if (mLastProfileRecord[kind] && mLastProfileKey[kind] == key) return mLastProfileRecord[kind];
    WideChar text[20];
    MakeKey(text, uint64_t(uintptr_t(key)), native);
    auto* entry = mProfRecords.Find(text);
    if (entry == _null) return _null;
    mLastProfileKey[kind] = key;
    mLastProfileRecord[kind] = entry->mValue;
    return entry->mValue;
}

ScriptProfileRecord* LuaScriptManager::AddProfileRecord(const void* key, bool native) {
    uint64_t serial = native ? 0 : sNextProfileSerial++;
    WideChar text[20];
    MakeKey(text, native ? uint64_t(uintptr_t(key)) : serial, native);
    ScriptProfileRecord* record = new (std::nothrow) ScriptProfileRecord();
    if (record == _null) return _null;
    auto* entry = mProfRecords.Insert(text);
    if (entry == _null) {
        delete record;
        return _null;
    }
    record->mKey = key;
    record->mSerial = serial;
    record->mGone = 0;
    record->mCFunc = native ? 1 : 0;
    record->mLine = -1;
    record->mCalls = 0;
    record->mStart = 0;
    record->mTotal = 0;
    entry->mValue = record;
    return record;
}

void LuaScriptManager::RegisterNativeProfile(const void* target, const char* className, const char* memberName,
                                             const WideChar* accessor) {
    // One record per target: a target registered twice keeps its first name.
    if (FindProfileRecord(target, true)) return;
    ScriptProfileRecord* record = AddProfileRecord(target, true);
    if (record == _null) return;
    WideChar member[1024];
    Utf8ToUtf16(member, 1024, memberName ? memberName : "");
    WideChar owner[1024];
    Utf8ToUtf16(owner, 1024, className ? className : "");
    if (accessor) record->mName = Format(u"%ls.%ls(%ls)", owner, member, accessor);
    else if (className) record->mName = Format(u"%ls.%ls", owner, member);
    else record->mName = member;
}

void LuaScriptManager::ProfileNativeEnter(const void* target) {
    if (!mProfiling) return;
    ScriptProfileRecord* record = FindProfileRecord(target, true);
    if (record == _null) {
        // Registered while profiling was off: the record is made now, named as the calling
        // script names the function.
        record = AddProfileRecord(target, true);
        if (record == _null) return;
        lua_State* L = mCallThread ? mCallThread : mLuaState;
        lua_Debug ar;
        WideChar name[256];
        name[0] = 0;
        if (L && lua_getstack(L, 0, &ar) && lua_getinfo(L, "n", &ar) && ar.name) Utf8ToUtf16(name, 256, ar.name);
        if (name[0]) record->mName = name;
        else record->mName = Format(u"%p", target);
    }
    int64_t now = ProfileNow();
    record->mStart = now;
    mProfStack.Push(ScriptProfileCall{record, now, _null, -1});
}

void LuaScriptManager::ProfileNativeLeave() {
    if (!mProfiling) return;
    // Script calls that a script-level pcall cut short inside this native call are closed
    // with it.
    for (int32_t i = mProfStack.GetCount() - 1; i >= 0; --i) {
        ScriptProfileRecord* record = mProfStack.At(i).mRecord;
        if (record == _null) break;
        if (record->mCFunc) {
            while (mProfStack.GetCount() - 1 > i) CloseProfiledCall(false);
            break;
        }
    }
    CloseProfiledCall(true);
}

void LuaScriptManager::ProfileScriptCall(lua_State* L, lua_Debug* ar) {
    if (!mProfiling) return;
    bool call = ar->event == LUA_HOOKCALL;
    // The frame slot is only meaningful at entry: the function then sits in its own frame.
    int32_t frame = ar->i_ci;
    if (!lua_getinfo(L, "f", ar)) return;
    // Native functions are timed by their dispatchers.
    if (lua_iscfunction(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    ScriptProfileRecord* record = ScriptProfileRecordOf(L, lua_gettop(L), ar, call);
    lua_pop(L, 1);
    if (call) {
        // A script call still open in this frame slot or above it has ended: replaced by a tail
        // call, or cut short by an error that a script caught.
        while (mProfStack.GetCount() > 0) {
            const ScriptProfileCall& top = mProfStack.Top();
            if (top.mRecord == _null || top.mRecord->mCFunc || top.mThread != L || top.mFrame < frame) break;
            CloseProfiledCall(false);
        }
        if (!VEXAL_CHECK(record != _null && record->mCFunc == 0, u"p != _null && p->mCFunc == _false", kScriptModule))
            return;
        int64_t now = ProfileNow();
        record->mStart = now;
        mProfStack.Push(ScriptProfileCall{record, now, L, frame});
        return;
    }
    // A return without an open call of its own (it began before profiling or outside this
    // protected call) is ignored.
    if (record == _null) return;
    for (int32_t i = mProfStack.GetCount() - 1; i >= 0; --i) {
        ScriptProfileRecord* open = mProfStack.At(i).mRecord;
        if (open == _null) return;
        if (open == record) {
            while (mProfStack.GetCount() - 1 > i) CloseProfiledCall(mProfStack.Top().mRecord->mCFunc != 0);
            CloseProfiledCall(false);
            return;
        }
    }
}

ScriptProfileRecord* LuaScriptManager::ScriptProfileRecordOf(lua_State* L, int index, lua_Debug* ar, bool create) {
    PushProfiledFunctions(L);
    int functions = lua_gettop(L);
    lua_pushvalue(L, index);
    lua_rawget(L, functions);
    const ProfiledFunction* identity = static_cast<const ProfiledFunction*>(lua_touserdata(L, -1));
    // An identity numbered before this manager was made belongs to an earlier manager of a state
    // that outlived it: its record is gone.
    ScriptProfileRecord* record =
        identity && identity->mSerial >= mFirstProfileSerial ? identity->mRecord : _null;
    lua_settop(L, functions - 1);
    if (record || !create) return record;

    record = AddProfileRecord(lua_topointer(L, index), false);
    if (record == _null) return _null;
    if (lua_getinfo(L, "nS", ar)) {
        WideChar text[1024];
        text[0] = 0;
        if (ar->name) Utf8ToUtf16(text, 1024, ar->name);
        record->mName = text;
        // The chunk name exactly as the debug information gives it ("@" kept).
        WideChar* source = Utf8ToUtf16(_null, 0, ar->source ? ar->source : "");
        record->mSource = source ? source : u"";
        std::free(source);
        record->mLine = ar->linedefined;
    }
    PushProfiledFunctions(L);
    lua_pushvalue(L, index);
    auto* made = static_cast<ProfiledFunction*>(lua_newuserdata(L, sizeof(ProfiledFunction)));
    made->mRecord = record;
    made->mSerial = record->mSerial;
    lua_pushlightuserdata(L, const_cast<char*>(&kIdentityMetaKey));
    lua_rawget(L, LUA_REGISTRYINDEX);
    lua_setmetatable(L, -2);
    lua_rawset(L, -3);
    lua_pop(L, 1);
    return record;
}

void LuaScriptManager::ForgetProfiledFunction(uint64_t serial) {
    WideChar text[20];
    MakeKey(text, serial, false);
    auto* entry = mProfRecords.Find(text);
    if (entry) entry->mValue->mGone = 1;
}

void LuaScriptManager::CloseProfiledCall(bool native) {
    if (!VEXAL_CHECK(mProfStack.GetCount() > 0, u"mProfStack.Length( ) > 0", kScriptModule)) return;
    ScriptProfileCall open = mProfStack.Top();
    ScriptProfileRecord* record = open.mRecord;
    // A marker is never taken for a call: the protected call that pushed it removes it.
    if (!VEXAL_CHECK(record != _null && record->mCFunc == (native ? 1 : 0), u"p !=_null && p->mCFunc == cfunc",
                     kScriptModule)) {
        if (record == _null) return;
    }
    mProfStack.Pop();
    int64_t elapsed = ProfileNow() - open.mStart;
    record->mCalls += 1;
    record->mTotal += elapsed;
    if (mCostThreshold > 0) {
        double milliseconds = TicksToMilliseconds(elapsed);
        if (milliseconds > double(mCostThreshold)) ReportSlowCall(record, milliseconds);
    }
}

void LuaScriptManager::ReportSlowCall(const ScriptProfileRecord* record, double milliseconds) {
    const WideChar* kind = record->mCFunc ? kKindNative : kKindScript;
    LogTrace(u"[LS] Cost too much time, threshold is %ld ms", long(mCostThreshold));
    LogTrace(u"");
    if (!record->mSource.IsEmpty()) {
        LogTrace(u"  [%ls], %ls, (%ls:%d), cost %3.2f ms", kind, record->mName.Data(), record->mSource.Data(),
                 record->mLine, milliseconds);
    } else {
        LogTrace(u"  [%ls], %ls, (%ls), cost %3.2f ms", kind, record->mName.Data(),
                 record->mCFunc ? u"" : u"Unknown", milliseconds);
    }
    LogTrace(u"");
}

void LuaScriptManager::CloseProtectedCalls() {
    while (mProfStack.GetCount() > 0 && mProfStack.Top().mRecord != _null)
        CloseProfiledCall(mProfStack.Top().mRecord->mCFunc != 0);
    if (VEXAL_CHECK(mProfStack.GetCount() > 0, u"finish", kScriptModule)) mProfStack.Pop();
}

void LuaScriptManager::DumpProfile() {
    if (!mProfiling) return;
    Array<SortedCall> byTotal;
    Array<SortedCall> byAverage;
    for (auto* entry = mProfRecords.GetHead(); entry; entry = entry->mNext) {
        ScriptProfileRecord* record = entry->mValue;
        if (record->mName.IsEmpty() || record->mCalls == 0) continue;
        double total = TicksToMilliseconds(record->mTotal);
        byTotal.Append(SortedCall{total, record, record->mCalls});
        byAverage.Append(SortedCall{total / double(record->mCalls), record, record->mCalls});
        record->mCalls = 0;
        record->mTotal = 0;
    }
    auto larger = [](const SortedCall& a, const SortedCall& b) { return a.mValue > b.mValue; };
    std::stable_sort(byTotal.begin(), byTotal.end(), larger);
    std::stable_sort(byAverage.begin(), byAverage.end(), larger);

    LogTrace(u"[LS] Dump lua profile Begin");
    LogTrace(u"");
    LogTrace(u"[LS] Order by total call cost (ms)");
    for (int32_t i = 0; i < byTotal.GetCount() && i < kDumpLines; ++i) {
        const SortedCall& line = byTotal[i];
        const ScriptProfileRecord* record = line.mRecord;
        const WideChar* kind = record->mCFunc ? kKindNative : kKindScript;
        double average = line.mValue / double(line.mCalls);
        if (!record->mSource.IsEmpty()) {
            LogTrace(u"  [%ls], %ls, (%ls:%d), called %d time(s), total call cost %3.2f ms, avg %3.2f ms", kind,
                     record->mName.Data(), record->mSource.Data(), record->mLine, int32_t(line.mCalls), line.mValue,
                     average);
        } else {
            LogTrace(u"  [%ls], %ls, (%ls), called %d time(s), total call cost %3.2f ms, avg %3.2f ms", kind,
                     record->mName.Data(), record->mCFunc ? u"" : u"Unknown", int32_t(line.mCalls), line.mValue,
                     average);
        }
    }
    if (byTotal.GetCount() > kDumpLines) LogTrace(u"  %d more ...", byTotal.GetCount() - kDumpLines);

    LogTrace(u"");
    LogTrace(u"[LS] Order by avg call cost (ms)");
    for (int32_t i = 0; i < byAverage.GetCount() && i < kDumpLines; ++i) {
        const SortedCall& line = byAverage[i];
        const ScriptProfileRecord* record = line.mRecord;
        const WideChar* kind = record->mCFunc ? kKindNative : kKindScript;
        if (!record->mSource.IsEmpty()) {
            LogTrace(u"  [%ls], %ls, (%ls:%d), called %d time(s), avg call cost %3.2f ms", kind, record->mName.Data(),
                     record->mSource.Data(), record->mLine, int32_t(line.mCalls), line.mValue);
        } else {
            LogTrace(u"  [%ls], %ls, (Unknown), called %d time(s), avg call cost %3.2f ms", kind,
                     record->mName.Data(), int32_t(line.mCalls), line.mValue);
        }
    }
    if (byAverage.GetCount() > kDumpLines) LogTrace(u"  %d more ...", byAverage.GetCount() - kDumpLines);
    LogTrace(u"");
    LogTrace(u"[LS] Dump lua profile finished");

    // Records of collected script functions have had their last dump (unless a call of one is
    // still open: a frame that a tail call replaced).
    for (auto* entry = mProfRecords.GetHead(); entry;) {
        auto* next = entry->mNext;
        ScriptProfileRecord* record = entry->mValue;
        bool open = false;
        for (int32_t i = 0; i < mProfStack.GetCount() && !open; ++i) open = mProfStack.At(i).mRecord == record;
        if (record->mGone && !open) {
            delete record;
            mProfRecords.Remove(entry);
        }
        entry = next;
    }
}

void LuaScriptManager::VisitProfileRecords(
    void (*visit)(const ScriptProfileRecord& record, double totalMs, void* context), void* context) {
    for (auto* entry = mProfRecords.GetHead(); entry; entry = entry->mNext)
        visit(*entry->mValue, TicksToMilliseconds(entry->mValue->mTotal), context);
}

void LuaScriptManager::StopProfiling() {
    if (mProfiling) EnableProfiler(false);
    DetachAllocationObserver();
}

} // namespace Vexal
