// Binding a game module library by its exported entry point names.
#include "loader/ModuleBinding.h"

#include <cstring>

#include "Source/Platform/File.h"

namespace {

template <typename Function>
void Look(Function& entry, LibraryHandle library, const char* name) {
    entry = reinterpret_cast<Function>(FindLibrarySymbol(library, name));
}

} // namespace

bool BindModule(ModuleBinding& binding, const WideChar* path, String* reason) {
    std::memset(&binding, 0, sizeof(binding));
    // The library loader opens the file and waits: a pipe with the module's name would hold the
    // host's thread for ever.
    if (PathKindOf(path) != kPathFile) {
        if (reason != _null)
            *reason = u"not a regular file";
        return false;
    }
    LibraryHandle library = LoadDynamicLibrary(path, reason);
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
    const struct {
        bool mMissing;
        const WideChar* mName;
    } required[] = {{binding.mCreate == _null, u"_VobCreate"}, {binding.mDelete == _null, u"_VobDelete"}, {binding.mUpdate == _null, u"_VobUpdate"}, {binding.mRender == _null, u"_VobRender"}, {binding.mMessage == _null, u"_VobMessage"}, {binding.mProgress == _null, u"_VobProgress"}};
    String missing;
    for (const auto& entry : required) {
        if (!entry.mMissing)
            continue;
        if (!missing.IsEmpty())
            missing.Append(u", ");
        missing.Append(entry.mName);
    }
    if (!missing.IsEmpty()) {
        if (reason != _null) {
            *reason = u"the library does not export ";
            reason->Append(missing);
        }
        UnbindModule(binding);
        return false;
    }
    return true;
}

void UnbindModule(ModuleBinding& binding) {
    UnloadDynamicLibrary(binding.mLibrary);
    std::memset(&binding, 0, sizeof(binding));
}
