// The module's own "VEXALRES" resources, found with FindResourceW in the module that holds the
// table asking for them.
#include "Source/Platform/Resource.h"

#include <windows.h>

#include "Source/Platform/win32/WideText.h"

bool FindModuleResource(const void* inModule, const WideChar* name, const uint8_t** data, uint32_t* size) {
    HMODULE module = _null;
    if (name == _null || data == _null || size == _null ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const wchar_t*>(inModule), &module))
        return false;
    HRSRC found = FindResourceW(module, SystemText(name), L"VEXALRES");
    HGLOBAL loaded = found != _null ? LoadResource(module, found) : _null;
    const void* bytes = loaded != _null ? LockResource(loaded) : _null;
    if (bytes == _null) return false;
    *data = static_cast<const uint8_t*>(bytes);
    *size = uint32_t(SizeofResource(module, found));
    return true;
}
