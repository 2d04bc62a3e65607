// Cost of a bound native method (five int parameters and one text parameter) called from Lua,
// beside a plain lua_CFunction reading the same arguments with the Lua API; and the heap
// allocations per bound call once the text pool is warm.
#include <lua.hpp>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "support/BenchTable.h"
#include "Source/Script/IScriptManager.h"
#include "Source/Script/NativeCall.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void __libc_free(void* pointer);
}

namespace {

// Every heap allocation of the process passes here (the program's own malloc).
std::atomic<uint64_t> gHeapAllocations{0};
// Allocations made by the Lua engine through its allocator function.
uint64_t gLuaAllocations = 0;

} // namespace

extern "C" {
void* malloc(size_t size) {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    gHeapAllocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
void free(void* pointer) { __libc_free(pointer); }
}

namespace {

using Vexal::IScriptManager;

constexpr int kCalls = 1000000;

class Canvas final : public Vexal::ScriptObject {
public:
    Canvas() { Vexal::GetScriptManager()->BindObject("Canvas", this, false); }
    void Draw(int32_t x, int32_t y, int32_t w, int32_t h, int32_t colour, const WideChar* label) {
        mSum += x + y + w + h + colour + label[0];
    }
    int64_t mSum = 0;
};

struct DrawTarget {
    void (Canvas::*mMethod)(int32_t, int32_t, int32_t, int32_t, int32_t, const WideChar*);
};
DrawTarget gDraw = {&Canvas::Draw};

// Five ints and a text, read last to first as the generated dispatchers read them.
int DispatchDraw(lua_State*) {
    return Vexal::DispatchNative<Canvas, DrawTarget*>([](IScriptManager* m, Canvas* self, DrawTarget* target) {
        const WideChar* label = nullptr;
        m->GetParamString(&label, 5);
        int32_t colour = m->GetParamInt32(4);
        int32_t h = m->GetParamInt32(3);
        int32_t w = m->GetParamInt32(2);
        int32_t y = m->GetParamInt32(1);
        int32_t x = m->GetParamInt32(0);
        (self->*target->mMethod)(x, y, w, h, colour, label);
        return m->ReturnNothing();
    });
}

int64_t gPlainSum = 0;

// The peer: the same arguments read straight from the Lua stack.
int PlainDraw(lua_State* L) {
    size_t size = 0;
    const char* label = lua_tolstring(L, 7, &size);
    int64_t colour = lua_tointeger(L, 6);
    int64_t h = lua_tointeger(L, 5);
    int64_t w = lua_tointeger(L, 4);
    int64_t y = lua_tointeger(L, 3);
    int64_t x = lua_tointeger(L, 2);
    gPlainSum += x + y + w + h + colour + (label ? label[0] : 0);
    lua_pushvalue(L, 1);
    return 1;
}

void* CountingAlloc(void* ud, void* pointer, size_t oldSize, size_t newSize) {
    if (newSize > oldSize) ++gLuaAllocations;
    lua_Alloc original = reinterpret_cast<lua_Alloc>(reinterpret_cast<void**>(ud)[0]);
    return original(reinterpret_cast<void**>(ud)[1], pointer, oldSize, newSize);
}

struct Setup {
    IScriptManager* mManager;
    Canvas* mCanvas;
    void* mOriginal[2];
    Setup() {
        mManager = Vexal::GetScriptManager();
        mManager->BeginClass("Canvas", nullptr);
        mManager->AddMethod("draw", &gDraw, DispatchDraw, false);
        mManager->EndClass();
        mCanvas = new Canvas();
        Variable object(u"", Variable::kObject);
        object.SetObject(mCanvas);
        mManager->SetField(static_cast<Vexal::ScriptObject*>(nullptr), "canvas", object);
        lua_State* L = mManager->GetLuaState();
        lua_newtable(L);
        lua_pushcfunction(L, PlainDraw);
        lua_setfield(L, -2, "draw");
        lua_setglobal(L, "plain");
        mManager->RunString(nullptr,
                            u"function runBound(n) local c = canvas for i = 1, n do c:draw(i, 2, 3, 4, 5, 'label') end end\n"
                            u"function runPlain(n) local p = plain for i = 1, n do p:draw(i, 2, 3, 4, 5, 'label') end end",
                            u"bench", 0);
        mOriginal[0] = reinterpret_cast<void*>(lua_getallocf(L, &mOriginal[1]));
        lua_setallocf(L, CountingAlloc, mOriginal);
    }
    void Call(const char* function, int count) {
        lua_State* L = mManager->GetLuaState();
        lua_getglobal(L, function);
        lua_pushinteger(L, count);
        lua_call(L, 1, 0);
    }
};

Setup& Shared() {
    static Setup setup;
    return setup;
}

// Milliseconds of processor time for 1,000,000 calls of one of the two scripts.
VexalBench::Pass Calls(const char* function) {
    return [function] { return VexalBench::CpuSecondsOf([function] { Shared().Call(function, kCalls); }) * 1e3; };
}

// Heap allocations of 1,000,000 bound calls after one warm-up call.
void BM_BoundMethodAllocations(benchmark::State& state) {
    Setup& setup = Shared();
    setup.Call("runBound", 1);
    uint64_t heap = 0;
    uint64_t lua = 0;
    for (auto _ : state) {
        uint64_t heapBefore = gHeapAllocations.load();
        uint64_t luaBefore = gLuaAllocations;
        setup.Call("runBound", kCalls);
        heap += gHeapAllocations.load() - heapBefore;
        lua += gLuaAllocations - luaBefore;
    }
    state.counters["heap_allocations"] = double(heap) / double(state.iterations());
    state.counters["lua_allocations"] = double(lua) / double(state.iterations());
    std::printf("bound calls: %d per run, heap allocations %.0f, Lua allocations %.0f per run\n", kCalls,
                double(heap) / double(state.iterations()), double(lua) / double(state.iterations()));
    VexalBench::AddFigure("Bound call heap allocations per 1,000,000 calls (warm pool)",
                          double(heap) / double(state.iterations()), 1.0, "allocs",
                          VexalBench::LowerIsBetter, 0.0);
}
BENCHMARK(BM_BoundMethodAllocations)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

// Both loops only compute, so a change in the machine's load falls on both sides alike only when
// their passes alternate.
VEXAL_PAIRED_ROW("Bound method, 5 ints + text, 1,000,000 calls from Lua", Calls("runBound"), Calls("runPlain"), 9,
                 VexalBench::LowerIsBetter, 3.0, "ms");
VEXAL_BENCH_MAIN();
