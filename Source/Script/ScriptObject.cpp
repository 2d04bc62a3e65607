// The base of script-visible native objects: unbinding on destruction.
#include "Source/Script/ScriptObject.h"

#include "Source/Script/IScriptManager.h"
#include "Source/Script/ScriptBinding.h"

namespace Vexal {

ScriptObject::ScriptObject() : mBinding(_null), mTag(0), mCallState(kCallIdle) {}

ScriptObject::~ScriptObject() {
    if (mBinding == _null) return;
    if (IScriptManager* manager = FindScriptManager()) manager->UnbindObject(this);
    if (mBinding) ReleaseBindingRecord(this);
}

void ReleaseBindingRecord(ScriptObject* obj) {
    ObjectBinding* binding = obj->mBinding;
    if (binding == _null) return;
    if (binding->mSlot) {
        binding->mSlot->mTag = 0;
        binding->mSlot->mObject = _null;
    }
    obj->mBinding = _null;
    delete binding;
}

} // namespace Vexal
