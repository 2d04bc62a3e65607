// Linux programs carry no resources: the generated tables hold their bytes themselves.
#include "Source/Platform/Resource.h"

bool FindModuleResource(const void*, const WideChar*, const uint8_t**, uint32_t*) { return false; }
