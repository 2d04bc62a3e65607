// Cost of the profiler and of allocation tracking on a bound native method called 1,000,000
// times from a script, each beside the same calls with both switched off.
#include <lua.hpp>

#include "support/BenchTable.h"
#include "Source/Platform/Log.h"
#include "Source/Script/IScriptManager.h"
#include "Source/Script/NativeCall.h"

namespace {

using Vexal::IScriptManager;

class Meter final : public Vexal::ScriptObject {
public:
    Meter() { Vexal::GetScriptManager()->BindObject("Meter", this, false); }
    void Tick(int32_t value, int32_t step) { mSum += value * step; }
    int64_t mSum = 0;
};

struct TickTarget {
    void (Meter::*mMethod)(int32_t, int32_t);
};
TickTarget gTick = {&Meter::Tick};

// Two ints.
int DispatchTick(lua_State*) {
    return Vexal::DispatchNative<Meter, TickTarget*>([](IScriptManager* m, Meter* self, TickTarget* target) {
        int32_t step = m->GetParamInt32(1);
        int32_t value = m->GetParamInt32(0);
        (self->*target->mMethod)(value, step);
        return m->ReturnNothing();
    });
}

void QuietSink(const WideChar*, void*, uint8_t) {}

struct MeterSetup {
    IScriptManager* mManager;
    Meter* mMeter;
    MeterSetup() {
        mManager = Vexal::GetScriptManager();
        // Registered while profiling, as a loading screen run under the preview tool would be.
        mManager->EnableProfiler(true);
        mManager->BeginClass("Meter", nullptr);
        mManager->AddMethod("tick", &gTick, DispatchTick, false);
        mManager->EndClass();
        mManager->EnableProfiler(false);
        mMeter = new Meter();
        Variable object(u"", Variable::kObject);
        object.SetObject(mMeter);
        mManager->SetField(static_cast<Vexal::ScriptObject*>(nullptr), "meter", object);
        mManager->RunString(nullptr, u"function runMeter(n) local m = meter for i = 1, n do m:tick(i, 2) end end",
                            u"meter", 0);
    }
    void Run() { mManager->RunString(nullptr, u"runMeter(1000000)", u"meter", 0); }
};

MeterSetup& Meters() {
    static MeterSetup setup;
    return setup;
}

// Milliseconds of processor time for 1,000,000 calls; the profile's dump and the tracking's
// report, which also reset them, are not part of the figure.
double PlainPass() {
    return VexalBench::CpuSecondsOf([] { Meters().Run(); }) * 1e3;
}

double ProfiledPass() {
    MeterSetup& setup = Meters();
    setup.mManager->EnableProfiler(true);
    const double milliseconds = PlainPass();
    SetLogSinks(QuietSink, nullptr, QuietSink, nullptr);
    setup.mManager->DumpProfile();
    SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    setup.mManager->EnableProfiler(false);
    return milliseconds;
}

double TrackedPass() {
    MeterSetup& setup = Meters();
    setup.mManager->TrackAllocations(1);
    const double milliseconds = PlainPass();
    SetLogSinks(QuietSink, nullptr, QuietSink, nullptr);
    setup.mManager->TrackAllocations(0);
    SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    return milliseconds;
}

} // namespace

// Passes of each side alternate, as the plain loop's time drifts with the machine's load.
VEXAL_PAIRED_ROW("Bound method, 1,000,000 calls, profiler on vs off", ProfiledPass, PlainPass, 9,
                 VexalBench::LowerIsBetter, 3.0, "ms");
VEXAL_PAIRED_ROW("Bound method, 1,000,000 calls, allocation tracking on vs off", TrackedPass, PlainPass, 9,
                 VexalBench::LowerIsBetter, 3.0, "ms");
