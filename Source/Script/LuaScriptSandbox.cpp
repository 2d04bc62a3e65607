// What scripts may reach: the base library without its file readers, and text chunks only.
//
// LuaJIT loads precompiled bytecode without verifying it, so a malformed chunk can take the
// process down; loading-screen scripts and configuration lines are always text. Every compile
// path of the manager and the script-visible load and loadstring refuse such chunks.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <cstring>

namespace Vexal {

const char kPrecompiledRefused[] = "[LS] Refused a precompiled chunk: scripts are loaded as text only";

namespace {

// LuaJIT's message when a chunk does not match the mode it was loaded with.
const char kWrongModeMessage[] = "attempt to load chunk with wrong mode";

// load(chunk [, name [, mode [, env]]]) and loadstring(text [, name]) over the base library's
// load (upvalue 1), always with mode "t". A text chunk that is precompiled gives nil and the
// refusal text before LuaJIT sees it; a reader function's chunk is refused by the mode.
int TextOnlyLoad(lua_State* L) {
    int count = lua_gettop(L);
    if (lua_type(L, 1) == LUA_TSTRING) {
        size_t size = 0;
        const char* bytes = lua_tolstring(L, 1, &size);
        if (IsPrecompiledChunk(bytes, size)) {
            lua_pushnil(L);
            lua_pushstring(L, kPrecompiledRefused);
            return 2;
        }
    }
    lua_settop(L, 4);
    int base = 4;
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushvalue(L, 1);
    lua_pushvalue(L, 2);
    lua_pushstring(L, "t");
    int arguments = 3;
    if (count >= 4) {
        lua_pushvalue(L, 4);
        ++arguments;
    }
    lua_call(L, arguments, LUA_MULTRET);
    int results = lua_gettop(L) - base;
    if (results >= 2 && lua_isnil(L, base + 1) && lua_type(L, base + 2) == LUA_TSTRING &&
        std::strcmp(lua_tostring(L, base + 2), kWrongModeMessage) == 0) {
        lua_pushstring(L, kPrecompiledRefused);
        lua_replace(L, base + 2);
    }
    return results;
}

void WrapLoader(lua_State* L, const char* name) {
    lua_getfield(L, LUA_GLOBALSINDEX, "load");
    if (!lua_isfunction(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    lua_pushcclosure(L, TextOnlyLoad, 1);
    lua_setfield(L, LUA_GLOBALSINDEX, name);
}

} // namespace

bool IsPrecompiledChunk(const char* bytes, size_t size) {
    if (bytes == _null) return false;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) i = 3;
    // LuaJIT skips a first line starting with "#" before looking for the signature.
    if (i < size && b[i] == '#') {
        while (i < size && b[i] != '\n' && b[i] != '\r') ++i;
        if (i >= size) return false;
        unsigned char end = b[i++];
        if (i < size && (b[i] == '\n' || b[i] == '\r') && b[i] != end) ++i;
    }
    return i < size && b[i] == 0x1B;
}

void RestrictBaseLibrary(lua_State* L) {
    // Both loaders wrap the original load, so loadstring is replaced first.
    WrapLoader(L, "loadstring");
    WrapLoader(L, "load");
    for (const char* name : {"dofile", "loadfile"}) {
        lua_pushnil(L);
        lua_setfield(L, LUA_GLOBALSINDEX, name);
    }
    // debug.debug reads commands from standard input and would hold the host's thread.
    lua_getfield(L, LUA_GLOBALSINDEX, "debug");
    if (lua_istable(L, -1)) {
        lua_pushnil(L);
        lua_setfield(L, -2, "debug");
    }
    lua_pop(L, 1);
}

int LuaScriptManager::LoadScriptText(lua_State* L, const char* bytes, size_t size, const char* chunkName) {
    if (IsPrecompiledChunk(bytes, size)) {
        lua_pushstring(L, kPrecompiledRefused);
        return LUA_ERRSYNTAX;
    }
    return luaL_loadbufferx(L, bytes, size, chunkName, "t");
}

} // namespace Vexal
