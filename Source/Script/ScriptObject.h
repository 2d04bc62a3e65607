// The base class of every native object that scripts can see.
#pragma once

#include "Common/Types.h"

namespace Vexal {

struct ObjectBinding;

// A native object visible to scripts as a Lua table (its object table). A derived class binds
// itself in its constructor with IScriptManager::BindObject (giving its own class name) and the
// base destructor unbinds it, so a script still holding the table afterwards sees a null object
// and no bound function ever reaches the deleted object.
//
// Lifetime: an object bound natively is anchored (kept alive) until it is first handed to a
// script; from then on it lives while a script, a parent (AttachChild), a hold (HoldObject) or a
// lock (LockObject) refers to its table. Once unreachable and unlocked, the collector deletes it
// through this virtual destructor. An owner that deletes an object itself may do so at any time.
// Objects still reachable by scripts when the manager is destroyed are deleted with the state,
// except fresh (never handed out) and locked ones, which stay with their native owner.
// Single thread: the thread that drives the script manager.
class ScriptObject {
public:
    ScriptObject();
    // Unbinds the object (IScriptManager::UnbindObject) when it is still bound.
    virtual ~ScriptObject();

    ScriptObject(const ScriptObject&) = delete;
    ScriptObject& operator=(const ScriptObject&) = delete;

    // Link to the script side; null until BindObject, owned by the object, freed by UnbindObject.
    ObjectBinding* mBinding;
    // Opaque value reserved for creation and destruction notifications; 0.
    int32_t mTag;
    // Values of mCallState.
    static constexpr int32_t kCallIdle = 0;
    static constexpr int32_t kCallRunning = 2;
    // kCallRunning while one of the object's bound native functions runs, kCallIdle otherwise
    // (set by the dispatcher, DispatchNative).
    int32_t mCallState;
};

} // namespace Vexal
