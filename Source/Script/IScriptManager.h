// The engine's only door to the embedded Lua engine: states, scripts, fields, native classes and
// objects, the native call protocol, callbacks, the profiler and configuration blobs.
#pragma once

#include "Common/Types.h"
#include "Common/Array.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/Variable.h"
#include "Source/Script/ScriptObject.h"

// The Lua C interface types, declared here so that users of the interface need no Lua header.
struct lua_State;
typedef int (*lua_CFunction)(lua_State* L);

namespace Vexal {

// A block of script text: the bytes are the script (UTF-8, as stored) or a "LUC1" configuration
// blob; the buffer's name is the chunk name.
typedef ::Buffer ScriptBuffer;

// Called with each captured script error (a pointer to its UTF-16 text, valid during the call)
// and by NotifyError with the caller's value; its result is NotifyError's result.
typedef int32_t (*ScriptErrorCallback)(intptr_t value);

// A loaded configuration tree ("LUC1" blob); opaque outside the configuration loader.
struct ScriptConfigNode;

// Every operation runs on the thread that drives the loader and works on the current Lua state.
// The manager takes no lock. Texts crossing the interface are UTF-16 (WideChar) or UTF-8 (char).
//
// Native call protocol, followed by every bound native function (a dispatcher; DispatchNative
// and ConstructNative in NativeCall.h are the one implementation):
//   target = BeginCall(_null)              // null: SetPendingError(kFunctionEmpty),
//                                          //       return ReturnNothing()
//   self = GetSelf(_null, false)           // null: return ReturnNothing()
//   ProfileNativeEnter(target); self->mCallState = kCallRunning;
//   ... typed parameter readers, the target's work ...
//   n = exactly one Return... operation;   // may raise the pending script error (no return)
//   self->mCallState = kCallIdle; ProfileNativeLeave(); return n;
// A script error raised by a return operation unwinds the dispatcher's frame: hold nothing that
// owns memory in it across the return operation.
//
// Parameter index rule: parameter i (from 0) is the Lua argument i + 1, plus 1 when the call has
// a bound self. Readers give 0, false, 0.0 or the empty text when there is no call in progress
// or the index is past the last argument; they never fail.
//
// Result modes of RunString, RunBuffer and RunFile: 0 drops the script's result; 1 converts it
// into out; any other value leaves it on the Lua stack for the next ReturnNothing of the
// enclosing native call.
class IScriptManager {
public:
    // Slot 0. Frees temporary strings and buffers, dumps the profile when profiling, closes
    // every state the manager opened (deleting script-owned objects), frees configuration trees.
    virtual ~IScriptManager() {}

    // Slot 1. Stores the error callback (null: none).
    virtual void SetErrorCallback(ScriptErrorCallback callback) = 0;
    // Slot 2. Adds a state: opens one (base, table, string, math, bit, debug and jit libraries,
    // compiler off) when existing is null, otherwise adopts existing without owning it. Returns
    // the new index, or -1 when a state cannot be opened ("[LS] Can't open new lua state").
    virtual int32_t CreateState(lua_State* existing) = 0;
    // Slot 3. Makes state index current. False ("[LS] Failed to switch script state to invalid
    // index %d") with everything kept when the index is out of range.
    virtual bool SwitchState(uint32_t index) = 0;
    // Slot 4. Always 2 (the Lua engine).
    virtual int32_t GetEngineKind() = 0;
    // Slot 5. The current Lua state (owned by the manager).
    virtual lua_State* GetLuaState() = 0;
    // Slot 6. Does nothing.
    virtual void Initialize() = 0;
    // Slot 7. Does nothing.
    virtual void Finalize() = 0;
    // Slot 8. The current Lua state (as slot 5).
    virtual lua_State* GetScriptContext() = 0;

    // Slot 9. Compiles text; returns a registry reference to the chunk (kept until
    // UnrefFunction), or 0 after capturing and reporting the compile error.
    virtual int32_t CompileString(const WideChar* text) = 0;
    // Slot 10. Same for length bytes of UTF-8 text. Precompiled chunks are refused (captured
    // as a compile error): every compile and run path accepts script text only.
    virtual int32_t CompileBuffer(const char* text, int32_t length) = 0;
    // Slot 11. Reads the file (resource provider first), then slot 10; 0 when unreadable or
    // empty (not logged).
    virtual int32_t CompileFile(const WideChar* path) = 0;
    // Slot 12. Compiles and runs text under the chunk name "@" + at most 1022 UTF-8 bytes of
    // chunkName. On failure the error is captured and reported and out is reset to an empty
    // variable. Returns out (which may be null when resultMode is not 1).
    virtual Variable* RunString(Variable* out, const WideChar* text, const WideChar* chunkName,
                                int32_t resultMode) = 0;
    // Slot 13. Runs a script block (as slot 12, bytes as stored, chunk name from the buffer's
    // name), or loads a block starting with "LUC1" as configuration blob (out reset). A failure
    // during a native call also becomes that call's pending script error.
    virtual Variable* RunBuffer(Variable* out, const ScriptBuffer* buffer, int32_t resultMode) = 0;
    // Slot 14. Reads the file (resource provider first), then slot 13; out reset when nothing
    // could be read (not logged).
    virtual Variable* RunFile(Variable* out, const WideChar* path, int32_t resultMode) = 0;

    // Slot 15. obj's table (the globals when obj is null) gets name = value, raw.
    virtual void SetField(ScriptObject* obj, const char* name, const Variable& value) = 0;
    // Slot 16. Slot 15 with the name converted to UTF-8 (cut at 1023 bytes).
    virtual void SetField(ScriptObject* obj, const WideChar* name, const Variable& value) = 0;
    // Slot 17. Reads name from obj's table or the globals (metamethods and property getters run)
    // into out, out's type choosing the conversion. Returns out.
    virtual Variable* GetField(Variable* out, ScriptObject* obj, const char* name) = 0;
    // Slot 18. Slot 17 with a wide name.
    virtual Variable* GetField(Variable* out, ScriptObject* obj, const WideChar* name) = 0;

    // Slot 19. Opens the class: the global className becomes the class table with
    // new = constructor; the class metatable stays on the Lua stack until EndClass. One class
    // at a time ("mClassName == _null"). className must stay valid until EndClass.
    virtual void BeginClass(const char* className, lua_CFunction constructor) = 0;
    // Slot 20. Closes the class ("mClassName != _null").
    virtual void EndClass() = 0;
    // Slot 21. A method closure of dispatcher with target (an opaque address the dispatcher
    // understands; never dereferenced by the manager): on the class table when onClassTable
    // (a static function), otherwise on the class metatable, or as a global with no class open.
    virtual void AddMethod(const char* name, void* target, lua_CFunction dispatcher,
                           bool onClassTable) = 0;
    // Slot 22. A property with getter and setter. An empty name is the catch-all accessor, called
    // with the key after the object for every name without a property of its own. A setter that
    // returns nil lets the value be stored as a plain field.
    virtual void AddProperty(const char* name, void* getterTarget, lua_CFunction getter,
                             void* setterTarget, lua_CFunction setter) = 0;
    // Slot 23. A property with a getter only; writes become plain fields.
    virtual void AddReadOnlyProperty(const char* name, void* getterTarget, lua_CFunction getter) = 0;
    // Slot 24. A constant on the class table (onClassTable) or the class metatable.
    virtual void AddConstant(const char* name, const Variable& value, int32_t ignored,
                             bool onClassTable) = 0;
    // Slot 25. Calls the class's new with no arguments and stores the result in the global
    // globalName. A script error is captured and reported (and becomes the pending error of a
    // native call in progress).
    virtual void CreateInstance(const char* globalName, const char* className) = 0;

    // Slot 26. Binds obj to a fresh object table of class className (registered before), with a
    // per-object field table when ownFieldTable. Returns obj (unchanged when null or bound).
    virtual ScriptObject* BindObject(const char* className, ScriptObject* obj, bool ownFieldTable) = 0;
    // Slot 27. Frees obj's binding; a script still holding its table sees a null object. Called
    // by ScriptObject's destructor.
    virtual void UnbindObject(ScriptObject* obj) = 0;
    // Slot 28. parent's table holds child's table (child lives as long as parent's table);
    // child stops being fresh. Returns child.
    virtual ScriptObject* AttachChild(ScriptObject* parent, ScriptObject* child) = 0;
    // Slot 29. Pins obj's table with a new registry reference. Returns obj.
    virtual ScriptObject* HoldObject(ScriptObject* obj) = 0;
    // Slot 30. parent's table drops child's table; child stops being fresh.
    virtual void DetachChild(ScriptObject* parent, ScriptObject* child) = 0;
    // Slot 31. Releases the oldest reference made by HoldObject.
    virtual void ReleaseObject(ScriptObject* obj) = 0;
    // Slot 32. Lock count + 1: the collector never deletes a locked object. Returns obj.
    virtual ScriptObject* LockObject(ScriptObject* obj) = 0;
    // Slot 33. Lock count - 1 when above 0.
    virtual void UnlockObject(ScriptObject* obj) = 0;

    // Slot 34. The bound object in argument 1 of the current call, or null; unless peekOnly it
    // becomes the call's self (shifting the parameter indexes by one).
    virtual ScriptObject* GetSelf(void* ignored, bool peekOnly) = 0;
    // Slot 35. Opens a call frame. Returns function when not null, otherwise the target stored
    // with the running method or accessor.
    virtual void* BeginCall(lua_CFunction function) = 0;
    // Slot 36. Always 0.
    virtual int32_t ReservedQuery(intptr_t argument) = 0;

    // Slot 37. A closure of dispatcher with target, held by a registry reference (returned;
    // release it with UnrefFunction, call it with CallFunction without object).
    virtual int32_t CreateFunctionRef(void* target, lua_CFunction dispatcher) = 0;
    // Slot 38. Stores the function parameter paramIndex on obj's table under key (nonzero,
    // chosen by the caller). Returns key, or 0 with no call in progress, no object, no such
    // parameter or a parameter that is not a function.
    virtual int32_t SetObjectCallback(ScriptObject* obj, int32_t key, int32_t paramIndex) = 0;
    // Slot 39. Registry reference to the function parameter paramIndex, or 0 as slot 38.
    virtual int32_t RefParamFunction(int32_t paramIndex) = 0;
    // Slot 40. Removes the function stored under *key on obj's table and sets *key to 0.
    virtual void ClearObjectCallback(ScriptObject* obj, int32_t* key) = 0;
    // Slot 41. Releases a nonzero registry reference and sets *reference to 0.
    virtual void UnrefFunction(int32_t* reference) = 0;
    // Slot 42. obj's table gets under key the value of reference, which is released. Returns key.
    virtual int32_t MoveRefToObject(ScriptObject* obj, int32_t key, int32_t reference) = 0;

    // Slot 43. Number of parameters of the current call (without self); 0 with no call.
    virtual int32_t GetParamCount() = 0;
    // Slots 44-55: typed readers. Integers of up to 32 bits use the engine's integer
    // conversion; 64-bit and uint32 readers truncate the number to 64 bits (uint32 keeps the low
    // 32 bits, so colours of 2^31 and above survive).
    virtual bool GetParamBool(int32_t index) = 0;
    virtual WideChar GetParamWChar(int32_t index) = 0;
    virtual int8_t GetParamInt8(int32_t index) = 0;
    virtual int16_t GetParamInt16(int32_t index) = 0;
    virtual int32_t GetParamInt32(int32_t index) = 0;
    virtual int64_t GetParamInt64(int32_t index) = 0;
    virtual uint8_t GetParamUInt8(int32_t index) = 0;
    virtual uint16_t GetParamUInt16(int32_t index) = 0;
    virtual uint32_t GetParamUInt32(int32_t index) = 0;
    virtual uint64_t GetParamUInt64(int32_t index) = 0;
    virtual float GetParamFloat(int32_t index) = 0;
    virtual double GetParamDouble(int32_t index) = 0;
    // Slot 56. *out = the parameter as text: strings and numbers as Lua writes them, a table's
    // __tostring result, "nil", "true"/"false", "table: 0x%p", "function: 0x%p", otherwise "".
    // The text belongs to the manager and stays valid until the current call returns.
    virtual void GetParamString(const WideChar** out, int32_t index) = 0;
    // Slot 57. The object of a bound-object parameter, else null.
    virtual ScriptObject* GetParamObject(int32_t index) = 0;
    // Slot 58. Converts the parameter into out (out's type choosing the target); out untouched
    // when the parameter is missing.
    virtual void GetParamVariable(int32_t index, Variable* out) = 0;

    // Slots 59-74: return operations. Each ends the current call (temporary strings released,
    // frame popped, a pending error raised as a script error with the script position) and
    // pushes its value; the result is the number of Lua results for the dispatcher to return.
    // With no call in progress they return 0 and push nothing.
    // Slot 59. The converted value (function references may come from the call's self).
    virtual int32_t ReturnVariable(const Variable& value) = 0;
    // Slot 60. The self object when the call has one, else a result left by a run with result
    // mode 2, else nothing.
    virtual int32_t ReturnNothing() = 0;
    virtual int32_t ReturnBool(bool value) = 0;       // slot 61
    virtual int32_t ReturnWChar(WideChar value) = 0;  // slot 62
    virtual int32_t ReturnInt8(int8_t value) = 0;     // slot 63
    virtual int32_t ReturnInt16(int16_t value) = 0;   // slot 64
    virtual int32_t ReturnInt32(int32_t value) = 0;   // slot 65
    virtual int32_t ReturnInt64(int64_t value) = 0;   // slot 66
    virtual int32_t ReturnUInt8(uint8_t value) = 0;   // slot 67
    virtual int32_t ReturnUInt16(uint16_t value) = 0; // slot 68
    virtual int32_t ReturnUInt32(uint32_t value) = 0; // slot 69
    virtual int32_t ReturnUInt64(uint64_t value) = 0; // slot 70
    virtual int32_t ReturnFloat(float value) = 0;     // slot 71
    virtual int32_t ReturnDouble(double value) = 0;   // slot 72
    // Slot 73. The text as UTF-8 (null gives "").
    virtual int32_t ReturnString(const WideChar* text) = 0;
    // Slot 74. obj's table (nil for null); obj stops being fresh.
    virtual int32_t ReturnObject(ScriptObject* obj) = 0;
    // Slot 75. The message raised as a script error when the current call returns.
    virtual void SetPendingError(const WideChar* message) = 0;

    // Slots 76-78. Calls a stored script function: with obj, the function stored under key on
    // its table (SetObjectCallback, MoveRefToObject); without, the registry reference key.
    // Nothing happens for key 0 or a value that is not a function. Errors are captured and
    // reported and leave result unchanged; otherwise the result (when given) receives the
    // function's first result, its type choosing the conversion.
    virtual void CallFunction(ScriptObject* obj, int32_t key, const Array<Variable*>& arguments,
                              Variable* result) = 0;
    virtual void CallFunction(ScriptObject* obj, int32_t key, const Variable& argument,
                              Variable* result) = 0;
    virtual void CallFunction(ScriptObject* obj, int32_t key, Variable* result) = 0;

    // Slots 79-86: profiler and allocation tracker.
    virtual void EnableProfiler(bool on) = 0;                // slot 79
    virtual void DumpProfile() = 0;                          // slot 80
    virtual void SetCostThreshold(int32_t milliseconds) = 0; // slot 81; <= 0 is off
    virtual int32_t GetCostThreshold() = 0;                  // slot 82
    virtual bool IsProfilerEnabled() = 0;                    // slot 83
    // Slot 84. Opens a timed call of the native function identified by target (a dispatcher's
    // target, or a constructor itself). Slot 85 closes it.
    virtual void ProfileNativeEnter(const void* target) = 0;
    virtual void ProfileNativeLeave() = 0; // slot 85
    // Slot 86. minimum > 0 starts attributing allocations to script locations; <= 0 dumps the
    // totals of at least the starting minimum and stops.
    virtual void TrackAllocations(int32_t minimum) = 0;

    // Slot 87. The error callback's result for value, or 0 without a callback.
    virtual int32_t NotifyError(int32_t value) = 0;
    // Slot 88. *out = the last captured script error ("" when the last run succeeded); valid
    // until the next run, compile or call.
    virtual void GetLastError(const WideChar** out) = 0;
    // Slot 89. Full collection of the current state (may delete unreachable objects).
    virtual int32_t CollectGarbage() = 0;
    // Slot 90. Appends tree as a "LUC1" record named name (a leading "_G." dropped) to path.
    virtual void SaveConfig(ScriptConfigNode* tree, const WideChar* name, const WideChar* path) = 0;
};

// The one manager of the process, created on first use ("[KL] Lua ScriptManager Created").
// Null when it cannot be created. Delete it through its virtual destructor to end it.
IScriptManager* GetScriptManager();
// The manager when one exists, without creating it.
IScriptManager* FindScriptManager();

} // namespace Vexal
