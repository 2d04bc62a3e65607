// Configuration blobs: any bytes after "LUC1" go through RunBuffer into a manager that has the
// scripts' configuration library. Every record that loads is saved and loaded again.
#include <cstdio>
#include <cstring>
#include <lua.hpp>
#include <string>

#include "FuzzSupport.h"
#include "Source/Common/Buffer.h"
#include "Source/Script/IScriptManager.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;

const char16_t kLibrary[] =
    u"__boxed = 0\n"
    u"__hosts = {}\n"
    u"setmetatable(_G, {__hosts, __index = __hosts})\n"
    u"__luaconf = {box = function(host) __boxed = __boxed + 1 return host end}";

int Boxed(Vexal::IScriptManager* manager) {
    Variable count;
    manager->RunString(&count, u"return __boxed", u"count", 1);
    return int(count.GetNumber());
}

void RunBytes(Vexal::IScriptManager* manager, const void* bytes, size_t size) {
    Buffer buffer;
    buffer.Set(bytes, uint32_t(size), false);
    buffer.SetName(u"blob");
    manager->RunBuffer(_null, &buffer, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = (QuietLogs(), true);
    (void)quiet;
    if (size > kMaxInput) return -1;
    // An exact-size block, so a read past its end is caught.
    uint8_t* blob = static_cast<uint8_t*>(std::malloc(size + 4));
    std::memcpy(blob, "LUC1", 4);
    if (size) std::memcpy(blob + 4, data, size);

    Vexal::IScriptManager* manager = Vexal::GetScriptManager();
    FUZZ_CHECK(manager != _null);
    manager->RunString(_null, kLibrary, u"library", 0);
    lua_State* L = manager->GetLuaState();
    const int top = lua_gettop(L);
    RunBytes(manager, blob, size + 4);
    std::free(blob);
    FUZZ_CHECK(lua_gettop(L) == top);

    // The first tree that loaded, saved and loaded again, boxes once more.
    lua_getglobal(L, "__hosts");
    lua_pushnil(L);
    Vexal::ScriptConfigNode* tree = _null;
    if (lua_next(L, -2)) {
        tree = static_cast<Vexal::ScriptConfigNode*>(lua_touserdata(L, -1));
        lua_pop(L, 2);
    }
    lua_settop(L, top);
    if (tree) {
        std::remove("saved.luc");
        manager->SaveConfig(tree, u"saved", u"saved.luc");
        Buffer saved;
        FILE* file = std::fopen("saved.luc", "rb");
        FUZZ_CHECK(file != _null);
        std::string bytes;
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
        std::fclose(file);
        int before = Boxed(manager);
        RunBytes(manager, bytes.data(), bytes.size());
        FUZZ_CHECK(Boxed(manager) == before + 1);
    }
    delete manager;
    return 0;
}
