// The script manager over LuaJIT (internal: other modules use IScriptManager).
#pragma once

#include "Common/Array.h"
#include "Common/HashTable.h"
#include "Common/Queue.h"
#include "Common/Stack.h"
#include "Source/Common/String.h"
#include "Source/Script/IScriptManager.h"
#include "Source/Script/ScriptProfile.h"

struct lua_Debug;

namespace Vexal {

struct NativeSlot;

// Assertion reports of the script runtime name this module.
extern const WideChar kScriptModule[];

// The light userdata under which an integer key (callback key or reference) is stored on an
// object table. Only the 32 bits of the key are used, so negative keys stay valid addresses.
inline void* KeyPointer(int32_t key) { return reinterpret_cast<void*>(uintptr_t(uint32_t(key))); }

// One Lua state known to the manager. The first five words are the state and its three tables
// and the owns-state flag; the rest are the means behind the object model on this engine.
struct ScriptState {
    lua_State* mState;
    int32_t mObjectsRef;    // native address -> object table, weak values
    int32_t mAnchorRef;     // native address -> object table of fresh objects, strong
    int32_t mClassBaseRef;  // metatable of every class table
    int32_t mOwnsState;     // 1 when the manager opened the state and closes it
    int32_t mSlotMetaRef;   // metatable of native slots: the release hook
    int32_t mClassLinksRef; // class table -> class extension table
    int32_t mTracebackRef;  // the traceback handler of protected calls
};

// A native call in progress.
struct CallFrame {
    ScriptObject* mSelf; // the bound self, or null
    lua_State* mState;   // the Lua thread that made the call
    int32_t mArgs;       // number of Lua arguments, self included
};

// A text handed out by GetParamString, released when the call that took it returns.
struct TempString {
    WideChar* mText;
    int32_t mDepth; // call depth at which it was handed out
    int16_t mKind;  // kPooledText or kHeapText
};

class LuaScriptManager : public IScriptManager {
public:
    static constexpr int16_t kPooledText = 1024;
    static constexpr int16_t kHeapText = 0;
    static constexpr int32_t kPoolUnits = 1024;
    // Bytes of the reusable buffer that ReturnString converts into; longer texts take the heap.
    static constexpr int32_t kReturnBufferBytes = 1024;

    LuaScriptManager();
    ~LuaScriptManager() override;

    void SetErrorCallback(ScriptErrorCallback callback) override;
    int32_t CreateState(lua_State* existing) override;
    bool SwitchState(uint32_t index) override;
    int32_t GetEngineKind() override;
    lua_State* GetLuaState() override;
    void Initialize() override;
    void Finalize() override;
    lua_State* GetScriptContext() override;
    int32_t CompileString(const WideChar* text) override;
    int32_t CompileBuffer(const char* text, int32_t length) override;
    int32_t CompileFile(const WideChar* path) override;
    Variable* RunString(Variable* out, const WideChar* text, const WideChar* chunkName, int32_t resultMode) override;
    Variable* RunBuffer(Variable* out, const ScriptBuffer* buffer, int32_t resultMode) override;
    Variable* RunFile(Variable* out, const WideChar* path, int32_t resultMode) override;
    void SetField(ScriptObject* obj, const char* name, const Variable& value) override;
    void SetField(ScriptObject* obj, const WideChar* name, const Variable& value) override;
    Variable* GetField(Variable* out, ScriptObject* obj, const char* name) override;
    Variable* GetField(Variable* out, ScriptObject* obj, const WideChar* name) override;
    void BeginClass(const char* className, lua_CFunction constructor) override;
    void EndClass() override;
    void AddMethod(const char* name, void* target, lua_CFunction dispatcher, bool onClassTable) override;
    void AddProperty(const char* name, void* getterTarget, lua_CFunction getter, void* setterTarget,
                     lua_CFunction setter) override;
    void AddReadOnlyProperty(const char* name, void* getterTarget, lua_CFunction getter) override;
    void AddConstant(const char* name, const Variable& value, int32_t ignored, bool onClassTable) override;
    void CreateInstance(const char* globalName, const char* className) override;
    ScriptObject* BindObject(const char* className, ScriptObject* obj, bool ownFieldTable) override;
    void UnbindObject(ScriptObject* obj) override;
    ScriptObject* AttachChild(ScriptObject* parent, ScriptObject* child) override;
    ScriptObject* HoldObject(ScriptObject* obj) override;
    void DetachChild(ScriptObject* parent, ScriptObject* child) override;
    void ReleaseObject(ScriptObject* obj) override;
    ScriptObject* LockObject(ScriptObject* obj) override;
    void UnlockObject(ScriptObject* obj) override;
    ScriptObject* GetSelf(void* ignored, bool peekOnly) override;
    void* BeginCall(lua_CFunction function) override;
    int32_t ReservedQuery(intptr_t argument) override;
    int32_t CreateFunctionRef(void* target, lua_CFunction dispatcher) override;
    int32_t SetObjectCallback(ScriptObject* obj, int32_t key, int32_t paramIndex) override;
    int32_t RefParamFunction(int32_t paramIndex) override;
    void ClearObjectCallback(ScriptObject* obj, int32_t* key) override;
    void UnrefFunction(int32_t* reference) override;
    int32_t MoveRefToObject(ScriptObject* obj, int32_t key, int32_t reference) override;
    int32_t GetParamCount() override;
    bool GetParamBool(int32_t index) override;
    WideChar GetParamWChar(int32_t index) override;
    int8_t GetParamInt8(int32_t index) override;
    int16_t GetParamInt16(int32_t index) override;
    int32_t GetParamInt32(int32_t index) override;
    int64_t GetParamInt64(int32_t index) override;
    uint8_t GetParamUInt8(int32_t index) override;
    uint16_t GetParamUInt16(int32_t index) override;
    uint32_t GetParamUInt32(int32_t index) override;
    uint64_t GetParamUInt64(int32_t index) override;
    float GetParamFloat(int32_t index) override;
    double GetParamDouble(int32_t index) override;
    void GetParamString(const WideChar** out, int32_t index) override;
    ScriptObject* GetParamObject(int32_t index) override;
    void GetParamVariable(int32_t index, Variable* out) override;
    int32_t ReturnVariable(const Variable& value) override;
    int32_t ReturnNothing() override;
    int32_t ReturnBool(bool value) override;
    int32_t ReturnWChar(WideChar value) override;
    int32_t ReturnInt8(int8_t value) override;
    int32_t ReturnInt16(int16_t value) override;
    int32_t ReturnInt32(int32_t value) override;
    int32_t ReturnInt64(int64_t value) override;
    int32_t ReturnUInt8(uint8_t value) override;
    int32_t ReturnUInt16(uint16_t value) override;
    int32_t ReturnUInt32(uint32_t value) override;
    int32_t ReturnUInt64(uint64_t value) override;
    int32_t ReturnFloat(float value) override;
    int32_t ReturnDouble(double value) override;
    int32_t ReturnString(const WideChar* text) override;
    int32_t ReturnObject(ScriptObject* obj) override;
    void SetPendingError(const WideChar* message) override;
    void CallFunction(ScriptObject* obj, int32_t key, const Array<Variable*>& arguments, Variable* result) override;
    void CallFunction(ScriptObject* obj, int32_t key, const Variable& argument, Variable* result) override;
    void CallFunction(ScriptObject* obj, int32_t key, Variable* result) override;
    void EnableProfiler(bool on) override;
    void DumpProfile() override;
    void SetCostThreshold(int32_t milliseconds) override;
    int32_t GetCostThreshold() override;
    bool IsProfilerEnabled() override;
    void ProfileNativeEnter(const void* target) override;
    void ProfileNativeLeave() override;
    void TrackAllocations(int32_t minimum) override;
    int32_t NotifyError(int32_t value) override;
    void GetLastError(const WideChar** out) override;
    int32_t CollectGarbage() override;
    void SaveConfig(ScriptConfigNode* tree, const WideChar* name, const WideChar* path) override;

    // The one instance (null before GetScriptManager and after destruction).
    static LuaScriptManager* sInstance;

    // Value conversions (the Lua stack of L): pushes exactly one value for value; owner's table
    // supplies function references missing from the registry. Converts the value at index into
    // out, out's type choosing the target.
    void PushVariable(lua_State* L, const Variable& value, ScriptObject* owner);
    void ToVariable(lua_State* L, int index, Variable* out);
    // Values one conversion of tables shared many times may make before it stops (at least
    // 2^24 unless set; the fuzzer sets less).
    static constexpr int64_t kConversionBudget = int64_t(1) << 24;
    void SetConversionBudget(int64_t values) { mConversionBudget = values > 0 ? values : kConversionBudget; }
    // Pushes obj's table (nil for null); clearFresh drops the anchor of a fresh object.
    void PushObject(lua_State* L, ScriptObject* obj, bool clearFresh);
    // The bound object of the table at index, or null.
    static ScriptObject* ObjectAt(lua_State* L, int index);
    // ObjectAt for the self argument of a call: the last table resolved and its native slot
    // are remembered, so the methods called one after another on one object find it at once.
    // A slot keeps its table alive until the release hook has run (the table is the slot's
    // environment) and the hook forgets the pair, so the address cannot name another table
    // while it is remembered.
    ScriptObject* SelfAt(lua_State* L, int index);
    // Forgets the remembered self when it is slot's table.
    void ForgetSelf(const NativeSlot* slot);

    // Thread and target of the method being dispatched; set around each dispatcher by the call
    // trampoline.
    lua_State* mCallThread;
    void* mCallTarget;
    const void* mSelfTable;
    NativeSlot* mSelfSlot;

    // Profiler time source (tests): read gives ticks, frequency ticks per second. A null read
    // restores the high-resolution counter.
    void SetProfileClock(ScriptProfileClock read, uint64_t frequency);
    // Number of entries on the profile stack (open calls and protected-call markers).
    int32_t GetProfileStackDepth() const { return mProfStack.GetCount(); }

    // The profiler's hook and allocation observer report here.
    void ProfileScriptCall(lua_State* L, lua_Debug* ar);
    // A profiled script function was collected: its record (by number) is dropped after the
    // next dump.
    void ForgetProfiledFunction(uint64_t serial);
    void RecordAllocation(lua_State* L, int64_t change);

    // Every profile record with its accumulated time in milliseconds, for a tool that prints
    // tables of its own (vexal-screen); nothing is reset. The record is only valid during the call.
    void VisitProfileRecords(void (*visit)(const ScriptProfileRecord& record, double totalMs, void* context),
                             void* context);

private:
    // Runs the function below nargs arguments with the traceback handler; leaves one value
    // (first result or error) and returns the lua_pcall status.
    int ProtectedCall(int nargs);
    // After a failed compile or call: mLastError from the error value on top (popped), the
    // error callback told. ReportError writes it to the log.
    void CaptureError();
    void ReportError();
    Variable* RunChunk(Variable* out, const char* bytes, size_t size, const char* chunkName,
                       int32_t resultMode, bool failAsPendingError);
    void CallStored(ScriptObject* obj, int32_t key, const Variable* const* arguments, int32_t count,
                    Variable* result);
    bool ReadScriptFile(const WideChar* path, Buffer& buffer);
    void PushClosure(void* target, lua_CFunction dispatcher);
    void Unbind(ScriptObject* obj);
    void ClearFresh(lua_State* L, ScriptObject* obj);

    // Call protocol.
    int ParamIndex(int32_t index, lua_State** L);
    // Parameter index as an integer or a number (0 when there is no such parameter).
    int64_t ParamInteger(int32_t index);
    double ParamNumber(int32_t index);
    // End the call and push one integer or number.
    int32_t ReturnInteger(int64_t value);
    int32_t ReturnNumber(double value);
    // Ends the call on top: 0 without a call, 2 when the script result waiting is this call's
    // (ReturnNothing returns it), 1 otherwise.
    int32_t EndCall(CallFrame* frame);
    void ReleaseTempStrings(int32_t depth);
    [[noreturn]] void RaisePendingError(lua_State* L);
    WideChar* TakePoolBuffer();
    // The text rule: the value at index as UTF-16 in buffer (kPoolUnits units), or a heap copy
    // (returned instead of buffer) when it does not fit; null when buffer is null and needed.
    WideChar* TextOf(lua_State* L, int index, WideChar* buffer, bool allowHeap);
    void UnwindCalls(int32_t depth);

    // Conversions.
    void ToVariableAt(lua_State* L, int index, Variable* out, int32_t depth);
    void PushVariableAt(lua_State* L, const Variable& value, ScriptObject* owner, int32_t depth);
    void TableToVariable(lua_State* L, int index, Variable* out, int32_t depth);
    void TableEntriesToVariable(lua_State* L, int index, Variable* out, int32_t depth);

    // Profiler (kept with the profiler's code).
    void RegisterNativeProfile(const void* target, const char* className, const char* memberName,
                               const WideChar* accessor);
    ScriptProfileRecord* AddProfileRecord(const void* key, bool native);
    ScriptProfileRecord* FindProfileRecord(const void* key, bool native);
    // The record of the script function at index on L's stack, made from ar when create is set
    // and there is none.
    ScriptProfileRecord* ScriptProfileRecordOf(lua_State* L, int index, lua_Debug* ar, bool create);
    // Closes the innermost open call, which must be of the given kind.
    void CloseProfiledCall(bool native);
    // Closes every call left open above the innermost protected-call marker, each by its own
    // kind, then removes the marker ("finish" when there is none).
    void CloseProtectedCalls();
    void ReportSlowCall(const ScriptProfileRecord* record, double milliseconds);
    int64_t ProfileNow();
    double TicksToMilliseconds(int64_t ticks);
    // Stops profiling and the allocation observer without dumping (destruction).
    void StopProfiling();
    // Gives the observed state its own allocator back; records stay.
    void DetachAllocationObserver();
    // Refuses precompiled chunks, then compiles text only. Leaves the chunk or the error message.
    int LoadScriptText(lua_State* L, const char* bytes, size_t size, const char* chunkName);
    // Configuration blobs (kept with the configuration loader's code).
    void LoadConfigBlob(const uint8_t* data, uint32_t size);
    void FreeConfigs();

    ScriptErrorCallback mErrorCallback;
    Array<ScriptConfigNode*> mConfigs;
    Array<ScriptState> mStates;
    lua_State* mLuaState;
    uint8_t mProfiling;
    int32_t mCostThreshold;
    HashTable<ScriptProfileRecord*> mProfRecords;
    Stack<ScriptProfileCall> mProfStack;
    int32_t mAllocMinimum;
    HashTable<ScriptAllocRecord*> mAllocRecords;
    Stack<CallFrame> mCallStack;
    Array<TempString> mTempStrings;
    Queue<WideChar*> mFreeBuffers;
    char* mReturnBuffer;
    const char* mClassName;
    int32_t mObjectsRef;
    int32_t mAnchorRef;
    int32_t mClassBaseRef;
    uint8_t mPendingResult;
    int32_t mPendingDepth; // call depth of the native call the waiting result belongs to
    int64_t mConversionBudget;
    String mLastError;
    String mPendingError;
    // The current state's native-slot metatable, class links and traceback handler.
    int32_t mSlotMetaRef;
    int32_t mClassLinksRef;
    int32_t mTracebackRef;
    // Profiler clock, the state carrying the call hook, the state observed for allocations.
    ScriptProfileClock mClockRead;
    uint64_t mClockFrequency;
    lua_State* mHookState;
    lua_State* mAllocState;
    // The record found last for each kind: loops call the same function again and again, and
    // records live as long as the manager.
    const void* mLastProfileKey[2];
    ScriptProfileRecord* mLastProfileRecord[2];
    // Script records are numbered across the process; this manager's start at this number.
    static uint64_t sNextProfileSerial;
    uint64_t mFirstProfileSerial;
};

// Script-visible safety of a state opened by the manager: the base library's file readers are
// removed, and load and loadstring accept text only.
void RestrictBaseLibrary(lua_State* L);
// True when LuaJIT would read the bytes as a precompiled chunk (after a UTF-8 byte-order mark
// and a "#" first line, the byte ESC).
bool IsPrecompiledChunk(const char* bytes, size_t size);
// The chunk name an allocation location shows: the name as the debug information reports it,
// without a leading "@"; UTF-16 into out (size units, cut when longer).
void ScriptChunkName(const lua_Debug& ar, WideChar* out, int32_t size);
// Pushes holder[key] (holder an absolute index or LUA_REGISTRYINDEX, key a light userdata):
// a table with weak keys, made and stored there on first use. True when this call made it.
bool PushWeakKeyedTable(lua_State* L, int holder, const void* key);
// The error text for a refused precompiled chunk.
extern const char kPrecompiledRefused[];

} // namespace Vexal
