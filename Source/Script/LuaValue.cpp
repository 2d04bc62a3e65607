// The two value conversions: engine Variable to Lua value and Lua value to Variable.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <cmath>
#include <cstdlib>
#include <new>

#include "Source/Common/StringEncoding.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/ThreadStack.h"
#include "Source/Script/ScriptBinding.h"
#include "Source/Script/ScriptNumbers.h"

namespace Vexal {

namespace {

// What stops a conversion short. Plain data converts whole; a conversion stops only where going
// on would crash or never end, and says so once:
// - a table met again on its own path (a cycle) converts as an empty structure;
// - tables that share a part or hold one table many times grow exponentially when written out
//   as a tree ({t, t} nested 100 deep would be 2^100 values): one conversion makes at most
//   mConversionBudget values, and a table met after that, or an array that does not fit what is
//   left, stays empty (the entries of the tables already open are still named, so the count is
//   bounded by the size of the tables, not by the paths through them);
// - nesting goes on while the native stack has room (and the engine's stack grows); deeper
//   levels stay empty.
struct Conversion {
    int64_t mValuesLeft;
    const char* mStackFloor;
    int mPathIndex; // stack index of the set of tables on the current path; 0 before the first
    bool mCycleTold;
    bool mBudgetTold;
    bool mDepthTold;
};

// The conversion under way; conversions nest only through scripts run on the same thread (a
// __tostring of a key that calls a native), which keep their own.
Conversion* gConversion = _null;

class ConversionScope {
public:
    explicit ConversionScope(int64_t budget)
        : mConversion{budget, StackFloor(), 0, false, false, false}, mOuter(gConversion) {
        gConversion = &mConversion;
    }
    ~ConversionScope() { gConversion = mOuter; }

private:
    Conversion mConversion;
    Conversion* mOuter;
};

void TellCycle() {
    if (gConversion->mCycleTold) return;
    gConversion->mCycleTold = true;
    LogTrace(u"[LS] Value conversion: a table that holds itself is converted as an empty table where it "
             u"comes again");
}

void TellBudget(int64_t budget) {
    if (gConversion->mBudgetTold) return;
    gConversion->mBudgetTold = true;
    LogTrace(u"[LS] Value conversion: tables shared too often; stopped at %lld values, later tables left empty",
             static_cast<long long>(budget));
}

void TellDepth(int32_t depth) {
    if (gConversion->mDepthTold) return;
    gConversion->mDepthTold = true;
    LogTrace(u"[LS] Value conversion: tables nested %d levels deep reach the stack's limit; deeper levels "
             u"left empty",
             depth);
}

// Room for one more level: the native stack above its floor and the engine's stack grown by
// slots.
bool RoomForLevel(lua_State* L, int slots) {
    return StackHasRoom(gConversion->mStackFloor) && lua_checkstack(L, slots);
}

void PushWide(lua_State* L, const WideChar* text, int32_t limit) {
    if (text == _null) {
        lua_pushlstring(L, "", 0);
        return;
    }
    char narrow[1024];
    int32_t size = 0;
    bool truncated = false;
    Utf16ToUtf8(narrow, 1024, text, -1, &size, &truncated);
    if (!truncated || limit > 0) {
        lua_pushlstring(L, narrow, size_t(size));
        return;
    }
    char* heap = Utf16ToUtf8(_null, 0, text, -1, &size);
    lua_pushlstring(L, heap ? heap : "", heap ? size_t(size) : 0);
    std::free(heap);
}

// Keeps the name and takes the new type (and its count child and template).
void Retype(Variable* out, uint32_t type) {
    String name(out->GetName());
    out->Reinitialize(name.Data(), type);
}

bool IsStringMetatable(lua_State* L, int index) {
    if (!lua_getmetatable(L, index)) return false;
    lua_pushlstring(L, "", 0);
    bool same = lua_getmetatable(L, -1) && lua_rawequal(L, -1, -3);
    lua_settop(L, lua_gettop(L) - (same ? 3 : 2));
    return same;
}

} // namespace

void LuaScriptManager::PushVariable(lua_State* L, const Variable& value, ScriptObject* owner) {
    uint32_t type = const_cast<Variable&>(value).GetType();
    if (type != Variable::kStructure && (type & Variable::kArray) == 0) {
        PushVariableAt(L, value, owner, 0);
        return;
    }
    ConversionScope scope(mConversionBudget);
    PushVariableAt(L, value, owner, 0);
}

void LuaScriptManager::PushVariableAt(lua_State* L, const Variable& value, ScriptObject* owner, int32_t depth) {
    Variable& v = const_cast<Variable&>(value);
    uint32_t type = v.GetType();
    bool nested = type == Variable::kStructure || (type & Variable::kArray) != 0;
    if (!lua_checkstack(L, 4) || (nested && !RoomForLevel(L, 4))) {
        if (nested) TellDepth(depth);
        lua_pushnil(L);
        return;
    }
    if (type & Variable::kArray) {
        int32_t count = v.GetChildCount();
        lua_createtable(L, count, 0);
        for (int32_t i = 0; i < count; ++i) {
            PushVariableAt(L, v.GetChild(i), owner, depth + 1);
            lua_rawseti(L, -2, i + 1);
        }
        return;
    }
    switch (type) {
    case Variable::kBool: lua_pushboolean(L, v.GetInteger() != 0); break;
    case Variable::kWChar:
    case Variable::kUInt16: lua_pushinteger(L, uint16_t(v.GetInteger())); break;
    case Variable::kInt8: lua_pushinteger(L, int8_t(v.GetInteger())); break;
    case Variable::kInt16: lua_pushinteger(L, int16_t(v.GetInteger())); break;
    case Variable::kInt32: lua_pushinteger(L, int32_t(v.GetInteger())); break;
    case Variable::kInt64: lua_pushnumber(L, double(v.GetInteger())); break;
    case Variable::kUInt8: lua_pushinteger(L, uint8_t(v.GetInteger())); break;
    case Variable::kUInt32: lua_pushnumber(L, double(uint32_t(v.GetInteger()))); break;
    case Variable::kUInt64: lua_pushnumber(L, UnsignedToNumber(v.GetUnsigned())); break;
    case Variable::kFloat:
    case Variable::kDouble: lua_pushnumber(L, v.GetNumber()); break;
    case Variable::kBytes:
        lua_pushlstring(L, v.GetBytes() ? reinterpret_cast<const char*>(v.GetBytes()) : "", v.GetByteCount());
        break;
    case Variable::kWideString: PushWide(L, v.GetString(), 0); break;
    case Variable::kObject: PushObject(L, v.GetObject(), true); break;
    case Variable::kFunction: {
        int32_t reference = v.GetFunctionRef();
        if (reference > 0) lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
        else lua_pushnil(L);
        if (lua_isnil(L, -1) && owner && owner->mBinding && owner->mBinding->mSlot) {
            lua_pop(L, 1);
            PushObject(L, owner, false);
            if (lua_istable(L, -1)) {
                lua_pushlightuserdata(L, KeyPointer(reference));
                lua_rawget(L, -2);
                lua_remove(L, -2);
            }
        }
        break;
    }
    case Variable::kStructure: {
        int32_t count = v.GetChildCount();
        lua_createtable(L, 0, count);
        for (int32_t i = 0; i < count; ++i) {
            Variable& child = v.GetChild(i);
            if (child.HasKeyNumber()) lua_pushnumber(L, child.GetKeyNumber());
            else PushWide(L, child.GetName().Data(), 1023);
            PushVariableAt(L, child, owner, depth + 1);
            // A NaN key cannot be stored; such a member is left out.
            if (lua_isnumber(L, -2) && std::isnan(lua_tonumber(L, -2))) lua_pop(L, 2);
            else lua_rawset(L, -3);
        }
        break;
    }
    default: lua_pushnil(L); break;
    }
}

void LuaScriptManager::ToVariable(lua_State* L, int index, Variable* out) {
    if (out == _null || out->IsNull()) return;
    if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + index + 1;
    if (lua_type(L, index) != LUA_TTABLE) {
        ToVariableAt(L, index, out, 0);
        return;
    }
    ConversionScope scope(mConversionBudget);
    ToVariableAt(L, index, out, 0);
}

void LuaScriptManager::ToVariableAt(lua_State* L, int index, Variable* out, int32_t depth) {
    uint32_t target = out->GetType();
    switch (target) {
    case Variable::kNone: break;
    case 1: return;
    case Variable::kBool: out->SetBool(lua_toboolean(L, index) != 0); return;
    case Variable::kWChar:
    case Variable::kInt16:
    case Variable::kUInt16:
        out->SetInteger(uint16_t(lua_tointeger(L, index)));
        return;
    case Variable::kInt8:
    case Variable::kUInt8: out->SetInteger(uint8_t(lua_tointeger(L, index))); return;
    case Variable::kInt32: out->SetInteger(int32_t(lua_tointeger(L, index))); return;
    case Variable::kInt64: out->SetInteger(NumberToInt64(lua_tonumber(L, index))); return;
    case Variable::kUInt32:
        // A uint32 target becomes an int64 holding the low 32 bits.
        Retype(out, Variable::kInt64);
        out->SetInteger(int64_t(uint32_t(NumberToInt64(lua_tonumber(L, index)))));
        return;
    case Variable::kUInt64: {
        double number = lua_tonumber(L, index);
        if (number >= 9223372036854775808.0 && number < 18446744073709551616.0) out->SetUnsigned(uint64_t(number));
        else out->SetInteger(NumberToInt64(number));
        return;
    }
    case Variable::kFloat:
    case Variable::kDouble: out->SetNumber(lua_tonumber(L, index)); return;
    case Variable::kBytes: {
        size_t size = 0;
        const char* bytes = _null;
        int type = lua_type(L, index);
        if (type == LUA_TSTRING || type == LUA_TNUMBER) {
            lua_pushvalue(L, index);
            bytes = lua_tolstring(L, -1, &size);
        }
        out->SetBytes(bytes, bytes ? uint32_t(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size) : 0);
        if (bytes) lua_pop(L, 1);
        return;
    }
    case Variable::kWideString: {
        WideChar* buffer = TakePoolBuffer();
        if (buffer == _null) return;
        WideChar* text = TextOf(L, index, buffer, true);
        out->SetString(text);
        if (text != buffer) std::free(text);
        if (!mFreeBuffers.Push(buffer)) std::free(buffer);
        return;
    }
    case Variable::kObject: out->SetObject(ObjectAt(L, index)); return;
    default: return;
    }

    // Untyped target: decided by the Lua value.
    switch (lua_type(L, index)) {
    case LUA_TBOOLEAN:
        Retype(out, Variable::kBool);
        out->SetBool(lua_toboolean(L, index) != 0);
        break;
    case LUA_TLIGHTUSERDATA:
        Retype(out, Variable::kObject);
        out->SetObject(static_cast<ScriptObject*>(lua_touserdata(L, index)));
        break;
    case LUA_TNUMBER:
        Retype(out, Variable::kDouble);
        out->SetNumber(lua_tonumber(L, index));
        break;
    case LUA_TSTRING: {
        size_t size = 0;
        const char* text = lua_tolstring(L, index, &size);
        Retype(out, Variable::kWideString);
        WideChar* wide = Utf8ToUtf16(_null, 0, text, int32_t(size > 0x7FFFFFFF ? 0x7FFFFFFF : size));
        out->SetString(wide);
        std::free(wide);
        break;
    }
    case LUA_TTABLE:
        if (ScriptObject* obj = ObjectAt(L, index)) {
            Retype(out, Variable::kObject);
            out->SetObject(obj);
        } else if (gConversion->mValuesLeft <= 0) {
            TellBudget(mConversionBudget);
        } else if (!RoomForLevel(L, 6)) {
            TellDepth(depth);
        } else {
            TableToVariable(L, index, out, depth);
        }
        break;
    case LUA_TFUNCTION:
        Retype(out, Variable::kFunction);
        lua_pushvalue(L, index);
        out->SetFunctionRef(luaL_ref(L, LUA_REGISTRYINDEX));
        break;
    case LUA_TUSERDATA:
        if (IsStringMetatable(L, index)) {
            Retype(out, Variable::kBytes);
            out->SetBytes(lua_touserdata(L, index), uint32_t(lua_objlen(L, index)));
        }
        break;
    default: break;
    }
}

void LuaScriptManager::TableToVariable(lua_State* L, int index, Variable* out, int32_t depth) {
    // The tables on the current path, kept in a set made for the outermost one.
    bool madePath = gConversion->mPathIndex == 0;
    if (madePath) {
        lua_newtable(L);
        gConversion->mPathIndex = lua_gettop(L);
    }
    int path = gConversion->mPathIndex;
    lua_pushvalue(L, index);
    lua_rawget(L, path);
    bool again = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
    if (again) {
        TellCycle();
        Retype(out, Variable::kStructure);
    } else {
        lua_pushvalue(L, index);
        lua_pushboolean(L, 1);
        lua_rawset(L, path);
        TableEntriesToVariable(L, index, out, depth);
        lua_pushvalue(L, index);
        lua_pushnil(L);
        lua_rawset(L, path);
    }
    if (madePath) {
        lua_remove(L, path);
        gConversion->mPathIndex = 0;
    }
}

void LuaScriptManager::TableEntriesToVariable(lua_State* L, int index, Variable* out, int32_t depth) {
    size_t length = lua_objlen(L, index);
    // An array when every entry is one of 1..n.
    size_t entries = 0;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        lua_pop(L, 1);
        if (++entries > length) {
            lua_pop(L, 1);
            break;
        }
    }
    if (length >= 1 && entries <= length && length <= 0x7FFFFFFF) {
        if (int64_t(length) > gConversion->mValuesLeft) {
            gConversion->mValuesLeft = 0;
            TellBudget(mConversionBudget);
            return;
        }
        gConversion->mValuesLeft -= int64_t(length);
        Retype(out, Variable::kArray);
        out->AddElements(int32_t(length));
        for (int32_t i = 0; i < out->GetChildCount(); ++i) {
            lua_rawgeti(L, index, i + 1);
            ToVariableAt(L, lua_gettop(L), &out->GetChild(i), depth + 1);
            lua_pop(L, 1);
        }
        return;
    }
    Retype(out, Variable::kStructure);
    WideChar* name = TakePoolBuffer();
    if (name == _null) return;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        int valueIndex = lua_gettop(L);
        int keyIndex = valueIndex - 1;
        --gConversion->mValuesLeft;
        // The key's text comes from a copy, so the traversal keeps its own key.
        TextOf(L, keyIndex, name, false);
        Variable* child = new (std::nothrow) Variable(name, Variable::kNone);
        if (child) {
            ToVariableAt(L, valueIndex, child, depth + 1);
            if (lua_type(L, keyIndex) == LUA_TNUMBER) child->SetKeyNumber(lua_tonumber(L, keyIndex));
            out->AddChild(child);
        }
        lua_settop(L, keyIndex);
    }
    if (!mFreeBuffers.Push(name)) std::free(name);
}

} // namespace Vexal
