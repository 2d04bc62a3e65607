// The dispatcher of the native call protocol, written once: every bound method, accessor, free
// function and constructor that scripts can call goes through these templates, so each of them
// opens the call, finds its target and self, reports a missing target, keeps the profile and the
// call state, and ends with exactly one return operation in the same way.
#pragma once

#include <type_traits>
#include <typeinfo>

#include "Common/Types.h"
#include "Source/Common/Variable.h"
#include "Source/Script/IScriptManager.h"
#include "Source/Script/ScriptObject.h"

namespace Vexal {

// The script error of a bound function whose closure carries no target.
inline constexpr const WideChar* kFunctionEmpty = u"Internal Error : function empty";

// Whether a dispatcher needs a self object. A method or accessor without one (called with '.'
// instead of ':', or on an object of another class) returns no value and does nothing else; a
// free function runs either way and gets its self, when it has one of the class, or null.
enum class SelfRule { kRequired,
                      kOptional };

// The call's self as an object of class Self, or null when it is none. A target written for one
// class must never run on an object of another: a script can take a method from one object and
// call it on any other. A final class is told by its exact type, which costs a comparison.
template <typename Self>
Self* SelfAs(ScriptObject* object) {
    if constexpr (std::is_same_v<Self, ScriptObject>) {
        return object;
    } else if constexpr (std::is_final_v<Self>) {
        return (object != _null && typeid(*object) == typeid(Self)) ? static_cast<Self*>(object) : _null;
    } else {
        return dynamic_cast<Self*>(object);
    }
}

// The stored target (an opaque address given to AddMethod, AddProperty or CreateFunctionRef) as
// the type the dispatcher registered it with: a function pointer or a pointer to a record.
template <typename Target>
Target TargetAs(void* target) {
    if constexpr (std::is_pointer_v<Target> && std::is_function_v<std::remove_pointer_t<Target>>) {
        return reinterpret_cast<Target>(target);
    } else {
        return static_cast<Target>(target);
    }
}

// The dispatcher. work(manager, self, target) reads the parameters, runs the target on self and
// ends through exactly one return operation, whose result count it returns. A pending error
// raised by that return operation leaves the frame at once: work holds nothing that owns memory
// across it.
template <typename Self, typename Target, SelfRule kRule = SelfRule::kRequired, typename Work>
int DispatchNative(Work work) {
    IScriptManager* manager = FindScriptManager();
    if (manager == _null) return 0;
    void* target = manager->BeginCall(_null);
    if (target == _null) {
        manager->SetPendingError(kFunctionEmpty);
        return manager->ReturnNothing();
    }
    Self* self = SelfAs<Self>(manager->GetSelf(_null, false));
    if (kRule == SelfRule::kRequired && self == _null) return manager->ReturnNothing();
    manager->ProfileNativeEnter(target);
    if (self != _null) self->mCallState = ScriptObject::kCallRunning;
    int results = work(manager, self, TargetAs<Target>(target));
    if (self != _null) self->mCallState = ScriptObject::kCallIdle;
    manager->ProfileNativeLeave();
    return results;
}

// The constructor dispatcher of a class (its "new"), identified by itself: make() creates the
// native object, whose constructor binds it, and the script receives its object table.
template <typename Make>
int ConstructNative(lua_CFunction itself, Make make) {
    IScriptManager* manager = FindScriptManager();
    if (manager == _null) return 0;
    manager->BeginCall(itself);
    manager->ProfileNativeEnter(reinterpret_cast<const void*>(itself));
    int results;
    {
        Variable object(_null, Variable::kObject);
        object.SetObject(make());
        results = manager->ReturnVariable(object);
    }
    manager->ProfileNativeLeave();
    return results;
}

} // namespace Vexal
