// Configuration blobs ("LUC1" records) handed to the script manager.
#include "Source/Script/LuaScriptManager.h"

#include "Source/Platform/Log.h"

namespace Vexal {

// A block starting with "LUC1" is never compiled as Lua; its records are loaded into node
// trees kept in mConfigs.
void LuaScriptManager::LoadConfigBlob(const uint8_t*, uint32_t) {}

void LuaScriptManager::FreeConfigs() { mConfigs.Clear(); }

void LuaScriptManager::SaveConfig(ScriptConfigNode* tree, const WideChar*, const WideChar*) {
    if (tree == _null) {
        LogFailure(u"[LS] Convert config needs a conf object");
        return;
    }
}

} // namespace Vexal
