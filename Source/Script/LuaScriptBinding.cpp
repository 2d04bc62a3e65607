// Native classes and objects seen by scripts: registration, the lookup through links, property
// accessors, text conversion, binding and the lifetime of bound objects.
//
// Each object table T gets a metatable of its own (hidden behind __metatable, so scripts see
// the class table): [1] is T's link (the class metatable M, or the per-object field table P),
// [3] the link's own link (M when P is used), [2] the native slot, a userdata whose finaliser
// is the release hook. The slot is reachable only through T, so it becomes garbage in the same
// collection as T. Towards scripts T's metatable stands for M: it carries every metamethod M
// has ("__" names: __eq, __call, __lt, __concat, arithmetic, __newindex, __tostring,
// __metatable ...), copied when T is bound and again whenever M gets one, from registration or
// from a script assigning it to the class table. Two names stay T's own: __index, which is the
// lookup cache below (M's __index is consulted after the links, as the lookup rule says), and
// __mode, which would change how long an object's fields and children live.
//
// Lookups that miss T's own entries go to T's lookup cache Q (T's metatable's __index, a plain
// table, so the VM reads it without leaving the interpreter). Q holds the link entries that
// earlier lookups found; a miss in Q reaches Q's metatable, whose __index resolves the key
// through the links and then the property accessors, and remembers link entries in Q. Every
// write to a link table (the field table by the property writer, M by registration and by the
// class-field writer) forgets the key in the caches that may hold it, so Q never answers
// differently from the links: method calls cost a table lookup instead of a native call.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <new>

#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"
#include "Source/Script/ScriptBinding.h"

namespace Vexal {

namespace {

const WideChar kTableOnTop[] = u"lua_type( mLuaState, -1 ) == LUA_TTABLE";
const WideChar kFunctionOnTop[] = u"lua_type( mLuaState, -1 ) == LUA_TFUNCTION";

enum ObjectMetaIndex { kLinkIndex = 1,
                       kSlotIndex = 2,
                       kSecondLinkIndex = 3 };

// Q's metatable: [1] is T, __index the caching reader.
enum CacheMetaIndex { kCacheOwnerIndex = 1 };

// Keys of the class metatable's own bookkeeping (light userdata of these addresses): the shared
// caching reader, and the weak-keyed set of the lookup caches of the class's objects.
const char kCachingReaderKey = 0;
const char kCacheSetKey = 0;

// The extension table X of a class (links[C] = X) holds the class metatable M under this light
// userdata key, apart from every script-assigned field (a script cannot make a light userdata).
void* const kClassMetatableKey = reinterpret_cast<void*>(1);

// Property accessors are stored in M under the address of the interned name. Addresses are
// 8-aligned, so the setter's key sets bit 0: on 64-bit addresses bit 31 may already be set,
// which would give getter and setter one key.
void* GetterKey(const void* address) { return const_cast<void*>(address); }
void* SetterKey(const void* address) { return reinterpret_cast<void*>(uintptr_t(address) | 1u); }

// The address of the interned string of the key at index (a number through its text, left on
// the stack), or null for other keys.
const void* KeyAddress(lua_State* L, int index) {
    int type = lua_type(L, index);
    if (type == LUA_TSTRING) return lua_tostring(L, index);
    if (type == LUA_TNUMBER) {
        lua_pushvalue(L, index);
        return lua_tostring(L, -1);
    }
    return _null;
}

// Finds the accessor for the key at keyIndex in the class metatable at classIndex and calls it
// with the object at objectIndex (then the key for the catch-all accessor, then the value on top
// for a setter). Leaves the accessor's result on top and returns true, or returns false without
// an accessor.
bool CallAccessor(lua_State* L, int objectIndex, int keyIndex, int classIndex, bool setter) {
    int valueIndex = lua_gettop(L);
    const void* address = KeyAddress(L, keyIndex);
    lua_pushlightuserdata(L, setter ? SetterKey(address) : GetterKey(address));
    lua_rawget(L, classIndex);
    bool catchAll = false;
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        const void* slot = lua_topointer(L, classIndex);
        lua_pushlightuserdata(L, setter ? SetterKey(slot) : GetterKey(slot));
        lua_rawget(L, classIndex);
        catchAll = true;
    }
    if (!lua_isfunction(L, -1)) return false;
    lua_pushvalue(L, objectIndex);
    if (catchAll) lua_pushvalue(L, keyIndex);
    if (setter) lua_pushvalue(L, valueIndex);
    lua_call(L, 1 + (catchAll ? 1 : 0) + (setter ? 1 : 0), 1);
    return true;
}

int PropertyReader(lua_State* L);

// Resolves the key at keyIndex for the object table at objectIndex after T's own entry was nil:
// the raw entry of T's link, of the link's link, then M's __index (the property accessors).
// Leaves the result on top and returns 1, or returns 0 for nothing. A link entry found for a
// string key is remembered in the lookup cache at cacheIndex (0: none).
int ResolveKey(lua_State* L, int objectIndex, int keyIndex, int cacheIndex) {
    if (!lua_getmetatable(L, objectIndex)) return 0;
    int meta = lua_gettop(L);
    int classIndex = 0; // the last link found: the class metatable, whose accessors come last
    for (int level : {kLinkIndex, kSecondLinkIndex}) {
        lua_rawgeti(L, meta, level);
        if (!lua_istable(L, -1)) break;
        classIndex = lua_gettop(L);
        lua_pushvalue(L, keyIndex);
        lua_rawget(L, classIndex);
        if (!lua_isnil(L, -1)) {
            if (cacheIndex != 0 && lua_type(L, keyIndex) == LUA_TSTRING) {
                lua_pushvalue(L, keyIndex);
                lua_pushvalue(L, -2);
                lua_rawset(L, cacheIndex);
            }
            return 1;
        }
        lua_pop(L, 1);
    }
    if (classIndex == 0) return 0;
    // Last comes M's __index: the property reader, unless a script gave the class its own.
    lua_pushliteral(L, "__index");
    lua_rawget(L, classIndex);
    if (lua_tocfunction(L, -1) == PropertyReader) {
        lua_pop(L, 1);
        return CallAccessor(L, objectIndex, keyIndex, classIndex, false) ? 1 : 0;
    }
    if (lua_isfunction(L, -1)) {
        lua_pushvalue(L, objectIndex);
        lua_pushvalue(L, keyIndex);
        lua_call(L, 2, 1);
        return 1;
    }
    if (lua_istable(L, -1)) {
        lua_pushvalue(L, keyIndex);
        lua_gettable(L, -2);
        return 1;
    }
    return 0;
}

// M.__index, called with (T, k): the lookup without a cache.
int PropertyReader(lua_State* L) {
    lua_settop(L, 2);
    return ResolveKey(L, 1, 2, 0);
}

// __index of a lookup cache, called with (Q, k) after Q's entry was nil.
int CachingReader(lua_State* L) {
    lua_settop(L, 2);
    if (!lua_getmetatable(L, 1)) return 0; // 3
    lua_rawgeti(L, 3, kCacheOwnerIndex);   // 4: T
    if (!lua_istable(L, 4)) return 0;
    return ResolveKey(L, 4, 2, 1);
}

// Removes the key at keyIndex (every key when keyIndex is 0) from the table at index.
void ForgetKey(lua_State* L, int index, int keyIndex) {
    if (keyIndex != 0) {
        lua_pushvalue(L, keyIndex);
        lua_pushnil(L);
        lua_rawset(L, index);
        return;
    }
    // Assigning nil to present fields is allowed while traversing.
    lua_pushnil(L);
    while (lua_next(L, index)) {
        lua_pop(L, 1);
        lua_pushvalue(L, -1);
        lua_pushnil(L);
        lua_rawset(L, index);
    }
}

// True for a key of M that T's metatable carries as well: a string "__name" other than
// "__index" and "__mode".
bool IsSharedMetafield(lua_State* L, int keyIndex) {
    if (lua_type(L, keyIndex) != LUA_TSTRING) return false;
    size_t size = 0;
    const char* name = lua_tolstring(L, keyIndex, &size);
    if (size < 3 || name[0] != '_' || name[1] != '_') return false;
    return std::strcmp(name, "__index") != 0 && std::strcmp(name, "__mode") != 0;
}

// Copies M's entry for the key at keyIndex into the object metatable at metaIndex (a
// metatable without a metatable of its own, so a plain set also clears the engine's memory of
// absent metamethods).
void CopyMetafield(lua_State* L, int classIndex, int metaIndex, int keyIndex) {
    lua_pushvalue(L, keyIndex);
    lua_pushvalue(L, keyIndex);
    lua_rawget(L, classIndex);
    lua_settable(L, metaIndex);
}

// Copies every metamethod of M into the object metatable at metaIndex.
void CopyMetafields(lua_State* L, int classIndex, int metaIndex) {
    lua_pushnil(L);
    while (lua_next(L, classIndex)) {
        lua_pop(L, 1);
        int key = lua_gettop(L);
        if (IsSharedMetafield(L, key)) CopyMetafield(L, classIndex, metaIndex, key);
    }
}

// After a write to M of the key at keyIndex (every key when keyIndex is 0): the lookup caches of
// the class's objects forget it, and a metamethod reaches every object's metatable.
void ClassEntryChanged(lua_State* L, int classIndex, int keyIndex) {
    int top = lua_gettop(L);
    bool metafield = keyIndex == 0 || IsSharedMetafield(L, keyIndex);
    lua_pushlightuserdata(L, const_cast<char*>(&kCacheSetKey));
    lua_rawget(L, classIndex);
    int caches = top + 1;
    if (lua_istable(L, caches)) {
        lua_pushnil(L);
        while (lua_next(L, caches)) {
            lua_pop(L, 1);
            int cache = lua_gettop(L);
            if (!lua_istable(L, cache)) continue;
            ForgetKey(L, cache, keyIndex);
            // Q's metatable names T; T's own metatable is the one to update.
            if (metafield && lua_getmetatable(L, cache)) {
                lua_rawgeti(L, -1, kCacheOwnerIndex);
                if (lua_istable(L, -1) && lua_getmetatable(L, -1)) {
                    int meta = lua_gettop(L);
                    if (keyIndex != 0) CopyMetafield(L, classIndex, meta, keyIndex);
                    else CopyMetafields(L, classIndex, meta);
                }
                lua_settop(L, cache);
            }
        }
    }
    lua_settop(L, top);
}

// __newindex of object tables, called with (T, k, v).
int PropertyWriter(lua_State* L) {
    lua_settop(L, 3);
    if (!lua_getmetatable(L, 1)) return 0; // 4
    lua_rawgeti(L, 4, kLinkIndex);         // 5
    if (!lua_istable(L, 5)) return 0;
    lua_rawgeti(L, 4, kSecondLinkIndex); // 6
    int classIndex = 5;
    int fieldIndex = 1;
    if (lua_istable(L, 6)) {
        classIndex = 6;
        fieldIndex = 5;
    }
    lua_pushvalue(L, 3);
    // A setter that gives a value finishes the write (bound setters give the object itself).
    if (CallAccessor(L, 1, 2, classIndex, true) && !lua_isnil(L, -1)) return 0;
    lua_settop(L, 6);
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 3);
    lua_rawset(L, fieldIndex);
    if (fieldIndex != 1) {
        // The field table is a link: the cache may hold the class's entry for this key.
        lua_getfield(L, 4, "__index");
        if (lua_istable(L, -1)) ForgetKey(L, lua_gettop(L), 2);
    }
    return 0;
}

// __tostring of object tables: the class's "tostring" method, else the native address.
int ObjectText(lua_State* L) {
    lua_settop(L, 1);
    if (lua_getmetatable(L, 1)) {            // 2
        lua_rawgeti(L, 2, kLinkIndex);       // 3
        lua_rawgeti(L, 2, kSecondLinkIndex); // 4
        int classIndex = lua_istable(L, 4) ? 4 : 3;
        if (lua_istable(L, classIndex)) {
            lua_pushstring(L, "tostring");
            lua_rawget(L, classIndex);
            if (lua_isfunction(L, -1)) {
                lua_pushvalue(L, 1);
                lua_call(L, 1, 1);
                return 1;
            }
        }
    }
    WideChar text[64];
    FormatInto(text, 64, u"table: 0x%p", static_cast<void*>(LuaScriptManager::ObjectAt(L, 1)));
    char narrow[128];
    int32_t size = 0;
    Utf16ToUtf8(narrow, 128, text, -1, &size);
    lua_pushlstring(L, narrow, size_t(size));
    return 1;
}

// What a bound closure calls: the target and its dispatcher, held in one userdata upvalue so
// that a call reads both at once.
struct BoundTarget {
    void* mTarget;
    lua_CFunction mDispatcher;
};

// Every method, accessor, constructor and function reference runs through this closure. It
// tells the manager which Lua thread made the call, so a method called from a coroutine reads
// that coroutine's arguments.
int CallTrampoline(lua_State* L) {
    const BoundTarget* bound = static_cast<const BoundTarget*>(lua_touserdata(L, lua_upvalueindex(1)));
    LuaScriptManager* manager = LuaScriptManager::sInstance;
    if (bound == _null || bound->mDispatcher == _null || manager == _null) return 0;
    lua_State* previousThread = manager->mCallThread;
    void* previousTarget = manager->mCallTarget;
    manager->mCallThread = L;
    manager->mCallTarget = bound->mTarget;
    int results = bound->mDispatcher(L);
    manager->mCallThread = previousThread;
    manager->mCallTarget = previousTarget;
    return results;
}

NativeSlot* SlotOfTable(lua_State* L, int index) {
    NativeSlot* slot = _null;
    if (lua_type(L, index) == LUA_TTABLE && lua_getmetatable(L, index)) {
        lua_rawgeti(L, -1, kSlotIndex);
        // Light userdata have no length, so only a full userdata of the slot's size passes.
        void* data = lua_touserdata(L, -1);
        if (data && lua_objlen(L, -1) == sizeof(NativeSlot)) slot = static_cast<NativeSlot*>(data);
        lua_pop(L, 2);
    }
    return slot;
}

// Gives the object table at objectIndex, whose metatable is at metaIndex, a lookup cache in
// front of its links, and enters the cache in its class's set so that writes to the class
// reach it.
void AddLookupCache(lua_State* L, int classIndex, int objectIndex, int metaIndex) {
    int top = lua_gettop(L);
    lua_pushlightuserdata(L, const_cast<char*>(&kCachingReaderKey));
    lua_rawget(L, classIndex); // top + 1: the caching reader
    if (!lua_isfunction(L, top + 1)) {
        lua_settop(L, top);
        return;
    }
    lua_newtable(L);          // top + 2: Q
    lua_createtable(L, 1, 1); // top + 3: Q's metatable
    lua_pushvalue(L, objectIndex);
    lua_rawseti(L, top + 3, kCacheOwnerIndex);
    lua_pushvalue(L, top + 1);
    lua_setfield(L, top + 3, "__index");
    lua_setmetatable(L, top + 2);

    PushWeakKeyedTable(L, classIndex, &kCacheSetKey); // top + 3: the class's caches
    lua_pushvalue(L, top + 2);
    lua_pushboolean(L, 1);
    lua_rawset(L, top + 3);

    lua_pushvalue(L, top + 2);
    lua_setfield(L, metaIndex, "__index");
    lua_settop(L, top);
}

// After a registration wrote name into the class metatable on top.
void ClassNameChanged(lua_State* L, const char* name) {
    lua_pushstring(L, name ? name : "");
    ClassEntryChanged(L, lua_gettop(L) - 1, lua_gettop(L));
    lua_pop(L, 1);
}

int AbsoluteIndex(lua_State* L, int index) {
    return (index < 0 && index > LUA_REGISTRYINDEX) ? lua_gettop(L) + index + 1 : index;
}

} // namespace

// __index of the class base metatable, called with (C, k): C's link, the extension table X,
// then the base's own index table. Upvalues: the class links and that index table.
int ClassIndex(lua_State* L) {
    lua_settop(L, 2);
    lua_pushvalue(L, 1);
    lua_rawget(L, lua_upvalueindex(1)); // 3: X
    if (lua_istable(L, 3)) {
        lua_pushvalue(L, 2);
        lua_rawget(L, 3);
        if (!lua_isnil(L, -1)) return 1;
        lua_pop(L, 1);
    }
    lua_pushvalue(L, 2);
    lua_rawget(L, lua_upvalueindex(2));
    return 1;
}

// __newindex of the class base metatable, called with (C, k, v): the value goes into X and into
// M, so a function assigned to a class table becomes a method of every object of the class.
int ClassFieldWriter(lua_State* L) {
    lua_settop(L, 3);
    lua_pushvalue(L, 1);
    lua_rawget(L, lua_upvalueindex(1)); // 4: X
    if (!lua_istable(L, 4)) {
        lua_settop(L, 3);
        lua_rawset(L, 1);
        return 0;
    }
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 3);
    lua_rawset(L, 4);
    lua_pushlightuserdata(L, kClassMetatableKey);
    lua_rawget(L, 4); // 5: M
    if (lua_istable(L, 5)) {
        lua_pushvalue(L, 2);
        lua_pushvalue(L, 3);
        lua_rawset(L, 5);
        ClassEntryChanged(L, 5, 2);
    }
    return 0;
}

// The release hook: the finaliser of a native slot runs once its object table is garbage (or
// its state closes). Objects that are fresh or locked at that point belong to their native
// owner; every other object belonged to the scripts and is deleted.
int NativeSlotRelease(lua_State* L) {
    NativeSlot* slot = static_cast<NativeSlot*>(lua_touserdata(L, 1));
    // The table goes with this slot: its address may be reused from now on.
    if (LuaScriptManager::sInstance) LuaScriptManager::sInstance->ForgetSelf(slot);
    if (slot == _null || slot->mTag != kNativeSlotTag || slot->mObject == _null) return 0;
    ScriptObject* obj = slot->mObject;
    slot->mTag = 0;
    slot->mObject = _null;
    ObjectBinding* binding = obj->mBinding;
    if (binding == _null || binding->mSlot != slot) return 0;
    binding->mSlot = _null;
    if (binding->mLockCount > 0 || binding->mFresh) return 0;
    delete obj;
    return 0;
}

ScriptObject* LuaScriptManager::ObjectAt(lua_State* L, int index) {
    NativeSlot* slot = SlotOfTable(L, AbsoluteIndex(L, index));
    return (slot && slot->mTag == kNativeSlotTag) ? slot->mObject : _null;
}

ScriptObject* LuaScriptManager::SelfAt(lua_State* L, int index) {
    if (lua_type(L, index) != LUA_TTABLE) return _null;
    const void* table = lua_topointer(L, index);
    if (table != mSelfTable) {
        NativeSlot* slot = SlotOfTable(L, index);
        if (slot == _null) return _null;
        mSelfTable = table;
        mSelfSlot = slot;
    }
    return mSelfSlot->mTag == kNativeSlotTag ? mSelfSlot->mObject : _null;
}

void LuaScriptManager::ForgetSelf(const NativeSlot* slot) {
    if (slot == mSelfSlot) {
        mSelfTable = _null;
        mSelfSlot = _null;
    }
}

void LuaScriptManager::PushObject(lua_State* L, ScriptObject* obj, bool clearFresh) {
    if (obj == _null) {
        lua_pushnil(L);
        return;
    }
    ObjectBinding* binding = obj->mBinding;
    lua_rawgeti(L, LUA_REGISTRYINDEX, binding ? binding->mObjectsRef : mObjectsRef);
    lua_pushlightuserdata(L, obj);
    lua_rawget(L, -2);
    lua_remove(L, -2);
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TTABLE, kTableOnTop, kScriptModule)) {
        lua_pop(L, 1);
        lua_pushnil(L);
        return;
    }
    if (clearFresh) ClearFresh(L, obj);
}

void LuaScriptManager::ClearFresh(lua_State* L, ScriptObject* obj) {
    ObjectBinding* binding = obj->mBinding;
    if (binding == _null || !binding->mFresh) return;
    binding->mFresh = 0;
    if (binding->mSlot == _null) return;
    lua_rawgeti(L, LUA_REGISTRYINDEX, binding->mAnchorRef);
    lua_pushlightuserdata(L, obj);
    lua_pushnil(L);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

void LuaScriptManager::PushClosure(void* target, lua_CFunction dispatcher) {
    lua_State* L = mLuaState;
    BoundTarget* bound = static_cast<BoundTarget*>(lua_newuserdata(L, sizeof(BoundTarget)));
    bound->mTarget = target;
    bound->mDispatcher = dispatcher;
    lua_pushcclosure(L, CallTrampoline, 1);
}

void LuaScriptManager::BeginClass(const char* className, lua_CFunction constructor) {
    if (!VEXAL_CHECK(mClassName == _null, u"mClassName == _null", kScriptModule)) return;
    if (className == _null) className = "";
    mClassName = className;
    lua_State* L = mLuaState;

    lua_newtable(L); // C
    lua_pushstring(L, "new");
    PushClosure(_null, constructor);
    lua_rawset(L, -3);
    lua_pushstring(L, className);
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_GLOBALSINDEX);

    bool reopened = !luaL_newmetatable(L, className); // M
    lua_pushcfunction(L, PropertyReader);
    lua_setfield(L, -2, "__index");
    lua_pushcfunction(L, PropertyWriter);
    lua_setfield(L, -2, "__newindex");
    lua_pushcfunction(L, ObjectText);
    lua_setfield(L, -2, "__tostring");
    lua_pushlightuserdata(L, const_cast<char*>(&kCachingReaderKey));
    lua_pushcfunction(L, CachingReader);
    lua_rawset(L, -3);

    lua_rawgeti(L, LUA_REGISTRYINDEX, mClassBaseRef);
    lua_setmetatable(L, -3);
    lua_rawgeti(L, LUA_REGISTRYINDEX, mClassLinksRef); // links[C] = X, X[kClassMetatableKey] = M
    lua_pushvalue(L, -3);
    lua_newtable(L);
    lua_pushlightuserdata(L, kClassMetatableKey);
    lua_pushvalue(L, -5);
    lua_rawset(L, -3);
    lua_rawset(L, -3);
    lua_pop(L, 1);

    lua_pushstring(L, "__metatable");
    lua_pushvalue(L, -3);
    lua_rawset(L, -3);
    lua_remove(L, -2); // M stays on top
    // A class opened again keeps its M and its objects: their caches start over, and they take
    // the new class table and the reset metamethods.
    if (reopened) ClassEntryChanged(L, lua_gettop(L), 0);

    if (mProfiling) RegisterNativeProfile(reinterpret_cast<const void*>(constructor), className, "new", _null);
}

void LuaScriptManager::EndClass() {
    if (!VEXAL_CHECK(mClassName != _null, u"mClassName != _null", kScriptModule)) return;
    mClassName = _null;
    lua_pop(mLuaState, 1);
}

void LuaScriptManager::AddMethod(const char* name, void* target, lua_CFunction dispatcher, bool onClassTable) {
    lua_State* L = mLuaState;
    if (onClassTable) {
        if (!VEXAL_CHECK(mClassName != _null, u"mClassName != _null", kScriptModule)) return;
        lua_getfield(L, LUA_GLOBALSINDEX, mClassName);
    } else if (mClassName) {
        lua_pushvalue(L, -1);
    } else {
        lua_pushvalue(L, LUA_GLOBALSINDEX);
    }
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TTABLE, kTableOnTop, kScriptModule)) {
        lua_pop(L, 1);
        return;
    }
    lua_pushstring(L, name ? name : "");
    PushClosure(target, dispatcher);
    lua_rawset(L, -3);
    if (!onClassTable && mClassName) ClassNameChanged(L, name);
    lua_pop(L, 1);
    if (mProfiling) RegisterNativeProfile(target, mClassName, name, _null);
}

void LuaScriptManager::AddProperty(const char* name, void* getterTarget, lua_CFunction getter,
                                   void* setterTarget, lua_CFunction setter) {
    if (!VEXAL_CHECK(mClassName != _null, u"mClassName != _null", kScriptModule)) return;
    lua_State* L = mLuaState;
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TTABLE, kTableOnTop, kScriptModule)) return;
    const void* address;
    if (name == _null || *name == 0) {
        address = lua_topointer(L, -1);
    } else {
        // The interned name stays pinned, so its address keeps naming the property.
        lua_pushstring(L, name);
        address = lua_tostring(L, -1);
        luaL_ref(L, LUA_REGISTRYINDEX);
    }
    if (getter) {
        lua_pushlightuserdata(L, GetterKey(address));
        PushClosure(getterTarget, getter);
        lua_rawset(L, -3);
        if (mProfiling) RegisterNativeProfile(getterTarget, mClassName, name, u"get");
    }
    if (setter) {
        lua_pushlightuserdata(L, SetterKey(address));
        PushClosure(setterTarget, setter);
        lua_rawset(L, -3);
        if (mProfiling) RegisterNativeProfile(setterTarget, mClassName, name, u"set");
    }
}

void LuaScriptManager::AddReadOnlyProperty(const char* name, void* getterTarget, lua_CFunction getter) {
    AddProperty(name, getterTarget, getter, _null, _null);
}

void LuaScriptManager::AddConstant(const char* name, const Variable& value, int32_t, bool onClassTable) {
    if (!VEXAL_CHECK(mClassName != _null, u"mClassName != _null", kScriptModule)) return;
    lua_State* L = mLuaState;
    if (onClassTable) lua_getfield(L, LUA_GLOBALSINDEX, mClassName);
    else lua_pushvalue(L, -1);
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TTABLE, kTableOnTop, kScriptModule)) {
        lua_pop(L, 1);
        return;
    }
    lua_pushstring(L, name ? name : "");
    PushVariable(L, value, _null);
    lua_rawset(L, -3);
    if (!onClassTable) ClassNameChanged(L, name);
    lua_pop(L, 1);
}

void LuaScriptManager::CreateInstance(const char* globalName, const char* className) {
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    lua_getfield(L, LUA_GLOBALSINDEX, className ? className : "");
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TTABLE, kTableOnTop, kScriptModule)) {
        lua_settop(L, top);
        return;
    }
    lua_pushstring(L, "new");
    lua_rawget(L, -2);
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TFUNCTION, kFunctionOnTop, kScriptModule)) {
        lua_settop(L, top);
        return;
    }
    // Protected, so that a failing constructor cannot take the host down; inside a native call
    // the failure still reaches the calling script.
    if (ProtectedCall(0) != 0) {
        CaptureError();
        ReportError();
        if (mCallStack.GetCount() > 0) SetPendingError(mLastError.Data());
        lua_settop(L, top);
        return;
    }
    lua_pushstring(L, globalName ? globalName : "");
    lua_insert(L, -2);
    lua_rawset(L, LUA_GLOBALSINDEX);
    lua_settop(L, top);
}

ScriptObject* LuaScriptManager::BindObject(const char* className, ScriptObject* obj, bool ownFieldTable) {
    if (obj == _null || obj->mBinding != _null) return obj;
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    luaL_getmetatable(L, className ? className : ""); // top + 1: M
    if (!VEXAL_CHECK(lua_type(L, -1) == LUA_TTABLE, kTableOnTop, kScriptModule)) {
        lua_settop(L, top);
        return obj;
    }
    ObjectBinding* binding = new (std::nothrow) ObjectBinding();
    if (binding == _null) {
        lua_settop(L, top);
        return obj;
    }
    binding->mFresh = 1;
    binding->mOwnFieldTable = ownFieldTable ? 1 : 0;
    binding->mLockCount = 0;
    binding->mState = L;
    binding->mObjectsRef = mObjectsRef;
    binding->mAnchorRef = mAnchorRef;
    binding->mLockRef = 0;

    int classIndex = top + 1;
    lua_newtable(L);          // top + 2: T
    lua_createtable(L, 3, 4); // top + 3: T's metatable
    CopyMetafields(L, classIndex, top + 3);
    if (ownFieldTable) {
        lua_newtable(L);
        lua_rawseti(L, -2, kLinkIndex);
        lua_pushvalue(L, classIndex);
        lua_rawseti(L, -2, kSecondLinkIndex);
    } else {
        lua_pushvalue(L, classIndex);
        lua_rawseti(L, -2, kLinkIndex);
    }
    AddLookupCache(L, classIndex, top + 2, top + 3);
    NativeSlot* slot = static_cast<NativeSlot*>(lua_newuserdata(L, sizeof(NativeSlot)));
    slot->mTag = kNativeSlotTag;
    slot->mReserved = 0;
    slot->mObject = obj;
    lua_rawgeti(L, LUA_REGISTRYINDEX, mSlotMetaRef);
    lua_setmetatable(L, -2);
    // The slot keeps T until its release hook has run, so T's address stays T's as long as
    // the manager may remember it as a self.
    lua_pushvalue(L, top + 2);
    lua_setfenv(L, -2);
    lua_rawseti(L, -2, kSlotIndex);
    lua_setmetatable(L, -2); // T on top

    for (int32_t ref : {mObjectsRef, mAnchorRef}) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
        lua_pushlightuserdata(L, obj);
        lua_pushvalue(L, top + 2);
        lua_rawset(L, -3);
        lua_pop(L, 1);
    }
    binding->mSlot = slot;
    obj->mBinding = binding;
    lua_settop(L, top);
    return obj;
}

void LuaScriptManager::UnbindObject(ScriptObject* obj) {
    if (obj == _null || obj->mBinding == _null) return;
    ObjectBinding* binding = obj->mBinding;
    if (binding->mSlot && binding->mState) {
        lua_State* L = binding->mState;
        int top = lua_gettop(L);
        while (binding->mHeld.GetCount() > 0) luaL_unref(L, LUA_REGISTRYINDEX, binding->mHeld.Pop());
        if (binding->mLockRef) luaL_unref(L, LUA_REGISTRYINDEX, binding->mLockRef);
        binding->mLockRef = 0;
        // Drop the entries that still name this object's table (the address may have been
        // bound again meanwhile).
        for (int32_t ref : {binding->mObjectsRef, binding->mAnchorRef}) {
            lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
            lua_pushlightuserdata(L, obj);
            lua_rawget(L, -2);
            if (SlotOfTable(L, -1) == binding->mSlot) {
                lua_pushlightuserdata(L, obj);
                lua_pushnil(L);
                lua_rawset(L, -4);
            }
            lua_settop(L, top);
        }
    }
    ReleaseBindingRecord(obj);
}

ScriptObject* LuaScriptManager::AttachChild(ScriptObject* parent, ScriptObject* child) {
    if (parent == _null || child == _null || child->mBinding == _null || parent->mBinding == _null) return child;
    if (child->mBinding->mSlot == _null || parent->mBinding->mSlot == _null) return child;
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    PushObject(L, parent, false);
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, child);
        PushObject(L, child, false);
        lua_rawset(L, -3);
    }
    lua_settop(L, top);
    ClearFresh(L, child);
    return child;
}

void LuaScriptManager::DetachChild(ScriptObject* parent, ScriptObject* child) {
    if (parent == _null || child == _null || child->mBinding == _null || parent->mBinding == _null) return;
    lua_State* L = mLuaState;
    int top = lua_gettop(L);
    if (parent->mBinding->mSlot) {
        PushObject(L, parent, false);
        if (lua_istable(L, -1)) {
            lua_pushlightuserdata(L, child);
            lua_pushnil(L);
            lua_rawset(L, -3);
        }
        lua_settop(L, top);
    }
    ClearFresh(L, child);
}

ScriptObject* LuaScriptManager::HoldObject(ScriptObject* obj) {
    if (obj == _null || obj->mBinding == _null || obj->mBinding->mSlot == _null) return obj;
    lua_State* L = obj->mBinding->mState;
    PushObject(L, obj, false);
    int32_t reference = luaL_ref(L, LUA_REGISTRYINDEX);
    if (reference > 0) obj->mBinding->mHeld.Push(reference);
    return obj;
}

void LuaScriptManager::ReleaseObject(ScriptObject* obj) {
    if (obj == _null || obj->mBinding == _null || obj->mBinding->mHeld.GetCount() == 0) return;
    int32_t reference = obj->mBinding->mHeld.Pop();
    if (obj->mBinding->mSlot) luaL_unref(obj->mBinding->mState, LUA_REGISTRYINDEX, reference);
}

ScriptObject* LuaScriptManager::LockObject(ScriptObject* obj) {
    if (obj == _null || obj->mBinding == _null) return obj;
    ObjectBinding* binding = obj->mBinding;
    // While locked the table itself is kept, so the collector never reaches the release hook.
    if (++binding->mLockCount == 1 && binding->mSlot) {
        PushObject(binding->mState, obj, false);
        binding->mLockRef = luaL_ref(binding->mState, LUA_REGISTRYINDEX);
    }
    return obj;
}

void LuaScriptManager::UnlockObject(ScriptObject* obj) {
    if (obj == _null || obj->mBinding == _null || obj->mBinding->mLockCount <= 0) return;
    ObjectBinding* binding = obj->mBinding;
    if (--binding->mLockCount == 0 && binding->mLockRef) {
        if (binding->mSlot) luaL_unref(binding->mState, LUA_REGISTRYINDEX, binding->mLockRef);
        binding->mLockRef = 0;
    }
}

int32_t LuaScriptManager::CreateFunctionRef(void* target, lua_CFunction dispatcher) {
    PushClosure(target, dispatcher);
    if (mProfiling) RegisterNativeProfile(target, _null, "__call", _null);
    return luaL_ref(mLuaState, LUA_REGISTRYINDEX);
}

} // namespace Vexal
