// The allocation observer: attributes the Lua engine's allocations to the script location that
// made them, and the dump of the totals.
//
// The observer sits in front of the state's own allocator (lua_setallocf) and looks up the
// innermost script frame of the observed state before passing each request on, while the
// stack it reads is still the one in use. Frees are not attributed: the collector releases
// memory wherever it happens to run.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <algorithm>
#include <cstring>

#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"

namespace Vexal {

namespace {

// The one observer of the process (one manager, one observed state).
struct AllocationObserver {
    lua_Alloc mOriginal;
    void* mOriginalData;
    lua_State* mState;
    LuaScriptManager* mManager;
    bool mBusy; // inside a report: allocations made meanwhile are not reported
};

AllocationObserver sObserver = {};

void* ObservingAllocator(void* data, void* pointer, size_t oldSize, size_t newSize) {
    AllocationObserver* observer = static_cast<AllocationObserver*>(data);
    if (newSize != 0 && !observer->mBusy && observer->mManager) {
        int64_t change = pointer ? int64_t(newSize) - int64_t(oldSize) : int64_t(newSize);
        observer->mBusy = true;
        observer->mManager->RecordAllocation(observer->mState, change);
        observer->mBusy = false;
    }
    return observer->mOriginal(observer->mOriginalData, pointer, oldSize, newSize);
}

struct SortedAllocation {
    ScriptAllocRecord* mRecord;
};

} // namespace

void ScriptChunkName(const lua_Debug& ar, WideChar* out, int32_t size) {
    const char* source = ar.source ? ar.source : "";
    if (*source == '@') ++source;
    Utf8ToUtf16(out, size, source);
}

void LuaScriptManager::RecordAllocation(lua_State* L, int64_t change) {
    lua_Debug ar;
    for (int level = 0; lua_getstack(L, level, &ar); ++level) {
        if (!lua_getinfo(L, "Sln", &ar)) return;
        if (ar.what && std::strcmp(ar.what, "C") == 0) continue;
        WideChar chunk[1024];
        ScriptChunkName(ar, chunk, 1024);
        WideChar function[256];
        function[0] = 0;
        if (ar.name) Utf8ToUtf16(function, 256, ar.name);
        WideChar location[1400];
        FormatInto(location, 1400, u"%ls:%d:%ls", chunk, ar.currentline, function);
        auto* entry = mAllocRecords.Find(location);
        if (entry == _null) {
            ScriptAllocRecord* record = new (std::nothrow) ScriptAllocRecord();
            if (record == _null) return;
            entry = mAllocRecords.Insert(location);
            if (entry == _null) {
                delete record;
                return;
            }
            record->mTotal = 0;
            record->mCount = 0;
            record->mLocation = location;
            entry->mValue = record;
        }
        ScriptAllocRecord* record = entry->mValue;
        int64_t total = int64_t(record->mTotal) + change;
        record->mTotal = int32_t(std::clamp<int64_t>(total, INT32_MIN, INT32_MAX));
        record->mCount += 1;
        return;
    }
}

void LuaScriptManager::DetachAllocationObserver() {
    if (sObserver.mManager != this || sObserver.mState == _null) return;
    lua_setallocf(sObserver.mState, sObserver.mOriginal, sObserver.mOriginalData);
    sObserver = AllocationObserver{};
    mAllocState = _null;
}

void LuaScriptManager::TrackAllocations(int32_t minimum) {
    if (minimum > 0) {
        mAllocMinimum = minimum;
        if (sObserver.mState == _null && mLuaState) {
            void* originalData = _null;
            lua_Alloc original = lua_getallocf(mLuaState, &originalData);
            sObserver = AllocationObserver{original, originalData, mLuaState, this, false};
            lua_setallocf(mLuaState, ObservingAllocator, &sObserver);
            mAllocState = mLuaState;
        }
        return;
    }
    DetachAllocationObserver();
    LogTrace(u"[LS] Dump Lua Alloc Begin");
    LogTrace(u"[LS] Order by total alloc size (byte)");
    Array<ScriptAllocRecord*> listed;
    for (auto* entry = mAllocRecords.GetHead(); entry; entry = entry->mNext)
        if (entry->mValue->mTotal >= mAllocMinimum) listed.Append(entry->mValue);
    std::stable_sort(listed.begin(), listed.end(),
                     [](const ScriptAllocRecord* a, const ScriptAllocRecord* b) { return a->mTotal > b->mTotal; });
    for (ScriptAllocRecord* record : listed) {
        LogTrace(u"%ls\t\t%d\t%d\t%d", record->mLocation.Data(), record->mTotal, int32_t(record->mCount),
                 record->mCount ? int32_t(record->mTotal / int64_t(record->mCount)) : 0);
    }
    LogTrace(u"[LS] Dump Lua Alloc End");
    for (auto* entry = mAllocRecords.GetHead(); entry; entry = entry->mNext) delete entry->mValue;
    mAllocRecords.Destroy();
    mAllocMinimum = -1;
}

} // namespace Vexal
