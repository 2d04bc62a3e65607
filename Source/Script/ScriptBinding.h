// The records that tie a native object to its object table (internal to the script runtime).
#pragma once

#include "Common/Queue.h"
#include "Common/Types.h"

struct lua_State;

namespace Vexal {

class ScriptObject;

// "SPT" and a zero byte, read as one little-endian 32-bit word.
constexpr uint32_t kNativeSlotTag = 0x00545053u;

// The hidden native slot of an object table: a full userdata reachable only through the table's
// own metatable, so it becomes garbage together with the table. Its finaliser is the release
// hook that deletes the native object once no script, parent, hold or lock keeps the table.
struct NativeSlot {
    uint32_t mTag; // kNativeSlotTag while the slot names a live object, 0 afterwards
    uint32_t mReserved;
    ScriptObject* mObject; // null once the object is unbound
};

// One per bound object, owned by the object.
struct ObjectBinding {
    uint8_t mFresh;         // anchored until first handed to a script
    uint8_t mOwnFieldTable; // script fields go to a per-object field table
    int32_t mLockCount;     // while above 0 the collector never deletes the object
    Queue<int32_t> mHeld;   // registry references made by HoldObject, oldest first
    // Where the script side lives. mSlot is null once the table is gone (collected, or its
    // state closed): nothing may touch the state through this binding then.
    NativeSlot* mSlot;
    lua_State* mState;   // the main state of the table
    int32_t mObjectsRef; // that state's object and anchor tables
    int32_t mAnchorRef;
    int32_t mLockRef; // registry reference keeping the table while locked; 0 when unlocked
};

// Frees the binding record of obj without touching any state (the manager is gone); the slot,
// when still set, is cleared so that a surviving table reads as a null object.
void ReleaseBindingRecord(ScriptObject* obj);

} // namespace Vexal
