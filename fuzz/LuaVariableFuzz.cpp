// Lua values as scripts may build them, converted to Variables with every target type and pushed
// back: a small stack program in the input builds nils, booleans, numbers, strings with any
// bytes, functions, light userdata, byte blocks and tables that nest, share parts and refer to
// themselves.
#include <cstring>
#include <lua.hpp>

#include "FuzzSupport.h"
#include "Source/Common/Variable.h"
#include "Source/Script/LuaScriptManager.h"

namespace {

constexpr int kMaxStack = 48;
constexpr size_t kMaxOperations = 256;

int ScriptFunction(lua_State*) { return 0; }

// Releases the registry references that function conversions took, so runs do not accumulate.
void ReleaseReferences(lua_State* L, Variable& value) {
    if (value.GetType() == Variable::kFunction) luaL_unref(L, LUA_REGISTRYINDEX, value.GetFunctionRef());
    for (int32_t i = 0; i < value.GetChildCount(); ++i) ReleaseReferences(L, value.GetChild(i));
}

// Builds values from the operations in the input; returns how many values it left on the stack.
int Build(lua_State* L, const uint8_t* data, size_t size) {
    const int base = lua_gettop(L);
    size_t at = 0;
    auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
    for (size_t step = 0; step < kMaxOperations && at < size; ++step) {
        const int depth = lua_gettop(L) - base;
        const uint8_t operation = byte();
        switch (operation % 13) {
        case 0:
            if (depth < kMaxStack) lua_pushnil(L);
            break;
        case 1:
            if (depth < kMaxStack) lua_pushboolean(L, byte() & 1);
            break;
        case 2:
            if (depth < kMaxStack) lua_pushinteger(L, lua_Integer(int8_t(byte())) * (1 << (byte() % 31)));
            break;
        case 3: {
            double number = 0;
            uint8_t bytes[8] = {};
            for (uint8_t& b : bytes) b = byte();
            std::memcpy(&number, bytes, sizeof(number));
            if (depth < kMaxStack) lua_pushnumber(L, number);
            break;
        }
        case 4: {
            const size_t length = byte() % 48;
            const size_t available = size - at < length ? size - at : length;
            if (depth < kMaxStack) lua_pushlstring(L, reinterpret_cast<const char*>(data + at), available);
            at += available;
            break;
        }
        case 5:
            if (depth < kMaxStack) lua_createtable(L, 0, 0);
            break;
        case 6: // t[k] = v with t, k, v the top three
            if (depth >= 3 && lua_istable(L, -3) && !lua_isnil(L, -2) && !(lua_isnumber(L, -2) && lua_tonumber(L, -2) != lua_tonumber(L, -2)))
                lua_rawset(L, -3);
            break;
        case 7: // append v to the table below it
            if (depth >= 2 && lua_istable(L, -2)) lua_rawseti(L, -2, int(lua_objlen(L, -2)) + 1);
            break;
        case 8:
            if (depth < kMaxStack) lua_pushcfunction(L, ScriptFunction);
            break;
        // Light userdata only come from native code, which hands out objects; a null one stands
        // for them here (any other address would be taken for an object when pushed back).
        case 9:
            if (depth < kMaxStack) lua_pushlightuserdata(L, _null);
            break;
        case 10: // a table refers to itself under a key
            if (depth >= 2 && lua_istable(L, -1) && !lua_isnil(L, -2) &&
                !(lua_isnumber(L, -2) && lua_tonumber(L, -2) != lua_tonumber(L, -2))) {
                lua_pushvalue(L, -2);
                lua_pushvalue(L, -2);
                lua_rawset(L, -3);
            }
            break;
        case 11: // a byte block: full userdata carrying the strings' metatable
            if (depth < kMaxStack) {
                const size_t length = byte() % 16;
                void* block = lua_newuserdata(L, length);
                for (size_t i = 0; i < length; ++i) static_cast<uint8_t*>(block)[i] = byte();
                lua_pushstring(L, "");
                lua_getmetatable(L, -1);
                lua_remove(L, -2);
                if (lua_istable(L, -1)) lua_setmetatable(L, -2);
                else lua_pop(L, 1);
            }
            break;
        default: // the same value again, from further down (shared parts)
            if (depth >= 1 && depth < kMaxStack) lua_pushvalue(L, -1 - int(byte() % depth));
            break;
        }
    }
    return lua_gettop(L) - base;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Vexal::LuaScriptManager* manager = [] {
        Vexal::GetScriptManager();
        QuietLogs();
        // Shared parts written out as a tree stop at this many values; the full budget would
        // make each such input take seconds and a gigabyte.
        Vexal::LuaScriptManager::sInstance->SetConversionBudget(1 << 16);
        return Vexal::LuaScriptManager::sInstance;
    }();
    if (size < 1 || size > 2048) return -1;
    static const uint32_t kTargets[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                        Variable::kStructure, Variable::kArray, Variable::kArray | Variable::kInt32};
    const uint32_t target = kTargets[data[0] % (sizeof(kTargets) / sizeof(kTargets[0]))];

    lua_State* L = manager->GetLuaState();
    const int top = lua_gettop(L);
    const int made = Build(L, data + 1, size - 1);
    if (made > 0) {
        Variable value(u"value", target);
        manager->ToVariable(L, -1, &value);
        FUZZ_CHECK(lua_gettop(L) == top + made);
        Variable copy;
        copy.CopyFrom(value);
        manager->PushVariable(L, copy, _null);
        FUZZ_CHECK(lua_gettop(L) == top + made + 1);
        ReleaseReferences(L, value);
    }
    lua_settop(L, top);
    return 0;
}
