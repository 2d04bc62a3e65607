// Binding a game module library by its exported entry point names.
#include "loader/ModuleBinding.h"

#include <cstring>

namespace {

template <typename Function>
void Look(Function& entry, LibraryHandle library, const char* name)
{
    entry = reinterpret_cast<Function>(FindLibrarySymbol(library, name));
}

} // namespace

bool BindModule(ModuleBinding& binding, const WideChar* path)
{
    std::memset(&binding, 0, sizeof(binding));
    LibraryHandle library = LoadDynamicLibrary(path);
    if (library == _null)
        return false;
    binding.mLibrary = library;
    Look(binding.mVersion, library, "_VobVersion");
    Look(binding.mCreate, library, "_VobCreate");
    Look(binding.mDelete, library, "_VobDelete");
    Look(binding.mUpdate, library, "_VobUpdate");
    Look(binding.mRender, library, "_VobRender");
    Look(binding.mConfig, library, "_VobConfig");
    Look(binding.mMessage, library, "_VobMessage");
    Look(binding.mProgress, library, "_VobProgress");
    Look(binding.mSpeed, library, "_VobSpeed");
    Look(binding.mExternalValue, library, "_VobExternalValue");
    if (binding.mCreate == _null || binding.mDelete == _null || binding.mUpdate == _null ||
        binding.mRender == _null || binding.mMessage == _null || binding.mProgress == _null) {
        UnbindModule(binding);
        return false;
    }
    return true;
}

void UnbindModule(ModuleBinding& binding)
{
    UnloadDynamicLibrary(binding.mLibrary);
    std::memset(&binding, 0, sizeof(binding));
}
