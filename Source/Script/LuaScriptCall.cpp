// The native call protocol: call frames, typed parameter readers with the pooled text buffers,
// return operations, pending script errors and script functions stored by native code.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Script/ScriptBinding.h"
#include "Source/Script/ScriptNumbers.h"

namespace Vexal {

namespace {

void CopyText(WideChar* buffer, const WideChar* text) {
    std::memcpy(buffer, text, (size_t(String::Length(text)) + 1) * sizeof(WideChar));
}

const WideChar kEmptyText[] = u"";

} // namespace

void* LuaScriptManager::BeginCall(lua_CFunction function) {
    lua_State* L = mCallThread ? mCallThread : mLuaState;
    CallFrame frame = {_null, L, lua_gettop(L)};
    mCallStack.Push(frame);
    if (function) return reinterpret_cast<void*>(function);
    // The trampoline of the running closure has read its target.
    return mCallTarget;
}

ScriptObject* LuaScriptManager::GetSelf(void*, bool peekOnly) {
    int32_t depth = mCallStack.GetCount();
    if (depth == 0) return peekOnly ? ObjectAt(mLuaState, 1) : _null;
    CallFrame& frame = mCallStack.At(depth - 1);
    ScriptObject* self = frame.mArgs >= 1 ? SelfAt(frame.mState, 1) : _null;
    if (!peekOnly) frame.mSelf = self;
    return self;
}

int LuaScriptManager::ParamIndex(int32_t index, lua_State** L) {
    int32_t depth = mCallStack.GetCount();
    if (depth == 0 || index < 0) return 0;
    const CallFrame& frame = mCallStack.At(depth - 1);
    int luaIndex = index + 1 + (frame.mSelf ? 1 : 0);
    if (luaIndex > frame.mArgs) return 0;
    *L = frame.mState;
    return luaIndex;
}

int32_t LuaScriptManager::GetParamCount() {
    if (mCallStack.GetCount() == 0) return 0;
    CallFrame& frame = mCallStack.Top();
    return frame.mArgs - (frame.mSelf ? 1 : 0);
}

int64_t LuaScriptManager::ParamInteger(int32_t index) {
    lua_State* L;
    int i = ParamIndex(index, &L);
    return i ? int64_t(lua_tointeger(L, i)) : 0;
}

double LuaScriptManager::ParamNumber(int32_t index) {
    lua_State* L;
    int i = ParamIndex(index, &L);
    return i ? double(lua_tonumber(L, i)) : 0.0;
}

bool LuaScriptManager::GetParamBool(int32_t index) {
    lua_State* L;
    int i = ParamIndex(index, &L);
    return i ? lua_toboolean(L, i) != 0 : false;
}

WideChar LuaScriptManager::GetParamWChar(int32_t index) { return WideChar(ParamInteger(index)); }
int8_t LuaScriptManager::GetParamInt8(int32_t index) { return int8_t(ParamInteger(index)); }
int16_t LuaScriptManager::GetParamInt16(int32_t index) { return int16_t(ParamInteger(index)); }
int32_t LuaScriptManager::GetParamInt32(int32_t index) { return int32_t(ParamInteger(index)); }
int64_t LuaScriptManager::GetParamInt64(int32_t index) { return NumberToInt64(ParamNumber(index)); }
uint8_t LuaScriptManager::GetParamUInt8(int32_t index) { return uint8_t(ParamInteger(index)); }
uint16_t LuaScriptManager::GetParamUInt16(int32_t index) { return uint16_t(ParamInteger(index)); }
uint32_t LuaScriptManager::GetParamUInt32(int32_t index) { return uint32_t(NumberToInt64(ParamNumber(index))); }

uint64_t LuaScriptManager::GetParamUInt64(int32_t index) {
    double number = ParamNumber(index);
    // Values of 2^63 and above keep their magnitude instead of saturating.
    if (number >= 9223372036854775808.0 && number < 18446744073709551616.0) return uint64_t(number);
    return uint64_t(NumberToInt64(number));
}

float LuaScriptManager::GetParamFloat(int32_t index) { return float(ParamNumber(index)); }
double LuaScriptManager::GetParamDouble(int32_t index) { return ParamNumber(index); }

WideChar* LuaScriptManager::TakePoolBuffer() {
    if (mFreeBuffers.GetCount() > 0) return mFreeBuffers.Pop();
    return static_cast<WideChar*>(std::malloc(size_t(kPoolUnits) * sizeof(WideChar)));
}

namespace {

// text (size bytes of UTF-8) as UTF-16 in buffer (kPoolUnits units), or in a heap copy of the
// whole text when it does not fit and allowHeap is set.
WideChar* ConvertText(WideChar* buffer, int32_t units, const char* text, size_t size, bool allowHeap) {
    if (size > 0x7FFFFFFF) size = 0x7FFFFFFF;
    // Plain ASCII widens unit by unit, as the converter would.
    if (size < size_t(units)) {
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
        size_t i = 0;
        while (i < size && bytes[i] != 0 && bytes[i] < 0x80) {
            buffer[i] = WideChar(bytes[i]);
            ++i;
        }
        if (i == size) {
            buffer[size] = 0;
            return buffer;
        }
    }
    bool truncated = false;
    Utf8ToUtf16(buffer, units, text, int32_t(size), _null, &truncated);
    if (truncated && allowHeap) {
        if (WideChar* heap = Utf8ToUtf16(_null, 0, text, int32_t(size))) return heap;
    }
    return buffer;
}

} // namespace

WideChar* LuaScriptManager::TextOf(lua_State* L, int index, WideChar* buffer, bool allowHeap) {
    if (index < 0 && index > LUA_REGISTRYINDEX) index = lua_gettop(L) + index + 1;
    int type = lua_type(L, index);
    size_t size = 0;
    if (type == LUA_TSTRING) {
        const char* text = lua_tolstring(L, index, &size);
        return ConvertText(buffer, kPoolUnits, text, size, allowHeap);
    }
    int top = lua_gettop(L);
    const char* text = _null;
    if (type == LUA_TNUMBER) {
        // A copy, so that a number parameter stays a number for later readers.
        lua_pushvalue(L, index);
        text = lua_tolstring(L, -1, &size);
    } else if (type == LUA_TTABLE && luaL_getmetafield(L, index, "__tostring")) {
        if (lua_isfunction(L, -1)) {
            // Protected: readers never fail, whatever the script's conversion does.
            int32_t depth = mCallStack.GetCount();
            lua_State* callThread = mCallThread;
            void* callTarget = mCallTarget;
            lua_pushvalue(L, index);
            int status = lua_pcall(L, 1, 1, 0);
            UnwindCalls(depth);
            mCallThread = callThread;
            mCallTarget = callTarget;
            if (status == 0 && lua_type(L, -1) == LUA_TSTRING) text = lua_tolstring(L, -1, &size);
        }
    }
    WideChar* result = buffer;
    if (text) {
        result = ConvertText(buffer, kPoolUnits, text, size, allowHeap);
    } else {
        switch (type) {
        case LUA_TNIL: CopyText(buffer, u"nil"); break;
        case LUA_TBOOLEAN: CopyText(buffer, lua_toboolean(L, index) ? u"true" : u"false"); break;
        case LUA_TTABLE: FormatInto(buffer, kPoolUnits, u"table: 0x%p", lua_topointer(L, index)); break;
        case LUA_TFUNCTION: FormatInto(buffer, kPoolUnits, u"function: 0x%p", lua_topointer(L, index)); break;
        default: buffer[0] = 0; break;
        }
    }
    lua_settop(L, top);
    return result;
}

void LuaScriptManager::GetParamString(const WideChar** out, int32_t index) {
    if (out == _null) return;
    *out = kEmptyText;
    lua_State* L;
    int i = ParamIndex(index, &L);
    if (!i) return;
    WideChar* buffer = TakePoolBuffer();
    if (buffer == _null) return;
    WideChar* text = TextOf(L, i, buffer, true);
    TempString temp = {text, mCallStack.GetCount(), text == buffer ? kPooledText : kHeapText};
    if (text != buffer && !mFreeBuffers.Push(buffer)) std::free(buffer);
    if (!mTempStrings.Append(temp)) {
        if (temp.mKind == kPooledText && mFreeBuffers.Push(text)) return;
        std::free(text);
        return;
    }
    *out = text;
}

ScriptObject* LuaScriptManager::GetParamObject(int32_t index) {
    lua_State* L;
    int i = ParamIndex(index, &L);
    return i ? ObjectAt(L, i) : _null;
}

void LuaScriptManager::GetParamVariable(int32_t index, Variable* out) {
    lua_State* L;
    int i = ParamIndex(index, &L);
    if (i && out) ToVariable(L, i, out);
}

void LuaScriptManager::ReleaseTempStrings(int32_t depth) {
    while (mTempStrings.GetCount() > 0) {
        int32_t last = mTempStrings.GetCount() - 1;
        TempString& temp = mTempStrings[last];
        if (temp.mDepth < depth) break;
        if (temp.mKind != kPooledText || !mFreeBuffers.Push(temp.mText)) std::free(temp.mText);
        mTempStrings.RemoveAt(last);
    }
}

void LuaScriptManager::UnwindCalls(int32_t depth) {
    if (mCallStack.GetCount() <= depth) return;
    while (mCallStack.GetCount() > depth) mCallStack.Pop();
    if (mPendingDepth > depth) mPendingResult = 0;
    ReleaseTempStrings(depth + 1);
}

void LuaScriptManager::SetPendingError(const WideChar* message) {
    mPendingError = message ? message : u"";
}

void LuaScriptManager::RaisePendingError(lua_State* L) {
    // Nothing that owns memory may stay in this frame: lua_error does not return.
    char* text = Utf16ToUtf8(_null, 0, mPendingError.Data());
    mPendingError.Clear();
    luaL_where(L, 1);
    lua_pushstring(L, text ? text : "");
    std::free(text);
    lua_concat(L, 2);
    lua_error(L);
    __builtin_unreachable();
}

int32_t LuaScriptManager::EndCall(CallFrame* frame) {
    int32_t depth = mCallStack.GetCount();
    if (mTempStrings.GetCount() > 0) ReleaseTempStrings(depth);
    if (depth == 0) return 0;
    CallFrame top = mCallStack.At(depth - 1);
    mCallStack.Pop();
    int32_t ended = 1;
    // A waiting result ends with the call it belongs to, taken by ReturnNothing or not.
    if (mPendingResult && mPendingDepth >= depth) {
        ended = mPendingDepth == depth ? 2 : 1;
        mPendingResult = 0;
    }
    if (frame) *frame = top;
    if (!mPendingError.IsEmpty()) RaisePendingError(top.mState);
    return ended;
}

int32_t LuaScriptManager::ReturnNothing() {
    CallFrame frame;
    int32_t ended = EndCall(&frame);
    if (ended == 0) return 0;
    if (frame.mSelf) {
        lua_pushvalue(frame.mState, 1);
        return 1;
    }
    if (ended == 2) {
        if (frame.mState != mLuaState) lua_xmove(mLuaState, frame.mState, 1);
        return 1;
    }
    return 0;
}

int32_t LuaScriptManager::ReturnVariable(const Variable& value) {
    CallFrame frame;
    if (!EndCall(&frame)) return 0;
    PushVariable(frame.mState, value, frame.mSelf);
    return 1;
}

int32_t LuaScriptManager::ReturnInteger(int64_t value) {
    CallFrame frame;
    if (!EndCall(&frame)) return 0;
    lua_pushinteger(frame.mState, lua_Integer(value));
    return 1;
}

int32_t LuaScriptManager::ReturnNumber(double value) {
    CallFrame frame;
    if (!EndCall(&frame)) return 0;
    lua_pushnumber(frame.mState, value);
    return 1;
}

int32_t LuaScriptManager::ReturnBool(bool value) {
    CallFrame frame;
    if (!EndCall(&frame)) return 0;
    lua_pushboolean(frame.mState, value ? 1 : 0);
    return 1;
}

int32_t LuaScriptManager::ReturnWChar(WideChar value) { return ReturnInteger(uint16_t(value)); }
int32_t LuaScriptManager::ReturnInt8(int8_t value) { return ReturnInteger(value); }
int32_t LuaScriptManager::ReturnInt16(int16_t value) { return ReturnInteger(value); }
int32_t LuaScriptManager::ReturnInt32(int32_t value) { return ReturnInteger(value); }
int32_t LuaScriptManager::ReturnInt64(int64_t value) { return ReturnNumber(double(value)); }
int32_t LuaScriptManager::ReturnUInt8(uint8_t value) { return ReturnInteger(value); }
int32_t LuaScriptManager::ReturnUInt16(uint16_t value) { return ReturnInteger(value); }
int32_t LuaScriptManager::ReturnUInt32(uint32_t value) { return ReturnNumber(double(value)); }
int32_t LuaScriptManager::ReturnUInt64(uint64_t value) { return ReturnNumber(UnsignedToNumber(value)); }
int32_t LuaScriptManager::ReturnFloat(float value) { return ReturnNumber(double(value)); }
int32_t LuaScriptManager::ReturnDouble(double value) { return ReturnNumber(value); }

int32_t LuaScriptManager::ReturnString(const WideChar* text) {
    if (mCallStack.GetCount() == 0) return EndCall(_null) ? 1 : 0;
    // The text may be one handed out by GetParamString, which ending the call releases: it
    // is pushed first.
    lua_State* L = mCallStack.Top().mState;
    if (text == _null) text = kEmptyText;
    if (mReturnBuffer == _null) mReturnBuffer = static_cast<char*>(std::malloc(kReturnBufferBytes));
    int32_t size = 0;
    bool truncated = true;
    if (mReturnBuffer) Utf16ToUtf8(mReturnBuffer, kReturnBufferBytes, text, -1, &size, &truncated);
    if (!truncated) {
        lua_pushlstring(L, mReturnBuffer, size_t(size));
    } else {
        char* heap = Utf16ToUtf8(_null, 0, text, -1, &size);
        lua_pushlstring(L, heap ? heap : "", heap ? size_t(size) : 0);
        std::free(heap);
    }
    CallFrame frame;
    EndCall(&frame);
    return 1;
}

int32_t LuaScriptManager::ReturnObject(ScriptObject* obj) {
    CallFrame frame;
    if (!EndCall(&frame)) return 0;
    PushObject(frame.mState, obj, true);
    return 1;
}

int32_t LuaScriptManager::SetObjectCallback(ScriptObject* obj, int32_t key, int32_t paramIndex) {
    if (obj == _null || obj->mBinding == _null || obj->mBinding->mSlot == _null) return 0;
    lua_State* L;
    int i = ParamIndex(paramIndex, &L);
    if (!i || !lua_isfunction(L, i)) return 0;
    PushObject(L, obj, false);
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return 0;
    }
    lua_pushlightuserdata(L, KeyPointer(key));
    lua_pushvalue(L, i);
    lua_rawset(L, -3);
    lua_pop(L, 1);
    return key;
}

int32_t LuaScriptManager::RefParamFunction(int32_t paramIndex) {
    lua_State* L;
    int i = ParamIndex(paramIndex, &L);
    if (!i || !lua_isfunction(L, i)) return 0;
    lua_pushvalue(L, i);
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

void LuaScriptManager::ClearObjectCallback(ScriptObject* obj, int32_t* key) {
    if (obj == _null || key == _null) return;
    if (obj->mBinding && obj->mBinding->mSlot) {
        lua_State* L = obj->mBinding->mState;
        PushObject(L, obj, false);
        if (lua_istable(L, -1)) {
            lua_pushlightuserdata(L, KeyPointer(*key));
            lua_pushnil(L);
            lua_rawset(L, -3);
        }
        lua_pop(L, 1);
    }
    *key = 0;
}

void LuaScriptManager::UnrefFunction(int32_t* reference) {
    if (reference == _null || *reference == 0) return;
    luaL_unref(mLuaState, LUA_REGISTRYINDEX, *reference);
    *reference = 0;
}

int32_t LuaScriptManager::MoveRefToObject(ScriptObject* obj, int32_t key, int32_t reference) {
    if (obj == _null || obj->mBinding == _null || obj->mBinding->mSlot == _null) return 0;
    lua_State* L = obj->mBinding->mState;
    PushObject(L, obj, false);
    if (lua_istable(L, -1)) {
        lua_pushlightuserdata(L, KeyPointer(key));
        if (reference > 0) lua_rawgeti(L, LUA_REGISTRYINDEX, reference);
        else lua_pushnil(L);
        lua_rawset(L, -3);
    }
    lua_pop(L, 1);
    luaL_unref(L, LUA_REGISTRYINDEX, reference);
    return key;
}

} // namespace Vexal
