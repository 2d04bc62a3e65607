// The dispatcher shape of every bound method with no result of its own, for the script
// benchmarks: open the call, find the target and the self, read the parameters and call the
// method (body), end the call.
#pragma once

#include <lua.hpp>

#include "Source/Script/IScriptManager.h"

template <typename Object, typename Target, typename Body>
int DispatchBound(Body body) {
    Vexal::IScriptManager* m = Vexal::GetScriptManager();
    Target* target = static_cast<Target*>(m->BeginCall(nullptr));
    if (target == nullptr) {
        m->SetPendingError(u"Internal Error : function empty");
        return m->ReturnNothing();
    }
    Vexal::ScriptObject* self = m->GetSelf(nullptr, false);
    if (self == nullptr) return m->ReturnNothing();
    m->ProfileNativeEnter(target);
    self->mCallState = 2;
    body(m, static_cast<Object*>(self), target);
    int results = m->ReturnNothing();
    self->mCallState = 0;
    m->ProfileNativeLeave();
    return results;
}
