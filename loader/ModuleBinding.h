// The loaded game module library and its ten entry points.
#pragma once

#include "Vexal3DLoader.h"
#include "Source/Platform/DynamicLibrary.h"

// Fields in this order: the library, then the entry points as looked up by name. All none while
// no module is loaded. _VobVersion and _VobExternalValue are looked up but never called.
struct ModuleBinding {
    LibraryHandle mLibrary;
    VobVersionFunction mVersion;
    VobCreateFunction mCreate;
    VobDeleteFunction mDelete;
    VobUpdateFunction mUpdate;
    VobRenderFunction mRender;
    VobConfigFunction mConfig;
    VobMessageFunction mMessage;
    VobProgressFunction mProgress;
    VobSpeedFunction mSpeed;
    VobExternalValueFunction mExternalValue;
};

// Loads the library at path and looks up the ten names. The six required entry points
// (_VobCreate, _VobDelete, _VobUpdate, _VobRender, _VobMessage, _VobProgress) must all be
// present: otherwise the library is unloaded, the binding cleared and false returned. A library
// that cannot be loaded also gives false with the binding all none. On false, reason (when
// given) says why: the dynamic loader's text, or the names of the missing entry points. Nothing
// is logged here. binding must be all none on entry (see UnbindModule).
bool BindModule(ModuleBinding& binding, const WideChar* path, String* reason = _null);

// Unloads the library (when one is loaded) and clears the binding to all none. Does not call
// _VobDelete: the caller does that first.
void UnbindModule(ModuleBinding& binding);
