// The script class _GDI: its constants, properties and methods, each reached through a
// dispatcher of the native-call protocol, one dispatcher per parameter shape.
#include "Source/Common/Variable.h"
#include "Source/Script/IScriptManager.h"
#include "Source/Script/NativeCall.h"
#include "screens/ScreenTexts.h"
#include "screens/Vexal3DRenderer_GDI.h"

using Vexal::IScriptManager;
using Renderer = Vexal3DRenderer_GDI;

namespace {

// Targets: one plain function per method or accessor, stored with its closure and found again by
// BeginCall. Their types are the dispatchers' shapes.
typedef int32_t (*IntGetter)(Renderer*);
typedef float (*FloatGetter)(Renderer*);
typedef uint32_t (*UIntGetter)(Renderer*);
typedef void (*UIntSetter)(Renderer*, uint32_t);
typedef void (*ShapeTarget)(Renderer*, int32_t, int32_t, int32_t, int32_t, uint32_t);
typedef int32_t (*TextIntTarget)(Renderer*, const WideChar*, int32_t);
typedef void (*TextDrawTarget)(Renderer*, uint32_t, const WideChar*, int32_t, int32_t, int32_t, int32_t, uint32_t,
                               uint32_t);
typedef int32_t (*HandleTarget)(Renderer*, uint32_t);
typedef int32_t (*HandleTextTarget)(Renderer*, uint32_t, const WideChar*);
typedef int32_t (*TextTarget)(Renderer*, const WideChar*);
typedef void (*ImageDrawTarget)(Renderer*, uint32_t, int32_t, int32_t, int32_t, int32_t);
typedef void (*SelfTarget)(Renderer*);

template <typename T>
void* AsTarget(T function) { return reinterpret_cast<void*>(function); }

// Dispatchers, one per target shape. Only a _GDI renderer counts as self: a method called on
// another class's object does nothing. Each lambda reads the parameters, calls the target and
// returns through exactly one return operation.
using Vexal::DispatchNative;

int CallIntGetter(lua_State*) {
    return DispatchNative<Renderer, IntGetter>([](IScriptManager* m, Renderer* self, IntGetter target) {
        return m->ReturnInt32(target(self));
    });
}

int CallFloatGetter(lua_State*) {
    return DispatchNative<Renderer, FloatGetter>([](IScriptManager* m, Renderer* self, FloatGetter target) {
        return m->ReturnFloat(target(self));
    });
}

int CallUIntGetter(lua_State*) {
    return DispatchNative<Renderer, UIntGetter>([](IScriptManager* m, Renderer* self, UIntGetter target) {
        return m->ReturnUInt32(target(self));
    });
}

int CallUIntSetter(lua_State*) {
    return DispatchNative<Renderer, UIntSetter>([](IScriptManager* m, Renderer* self, UIntSetter target) {
        uint32_t value = m->GetParamUInt32(0);
        target(self, value);
        return m->ReturnNothing();
    });
}

int CallShape(lua_State*) {
    return DispatchNative<Renderer, ShapeTarget>([](IScriptManager* m, Renderer* self, ShapeTarget target) {
        uint32_t colour = m->GetParamUInt32(4);
        int32_t d = m->GetParamInt32(3);
        int32_t c = m->GetParamInt32(2);
        int32_t b = m->GetParamInt32(1);
        int32_t a = m->GetParamInt32(0);
        target(self, a, b, c, d, colour);
        return m->ReturnNothing();
    });
}

int CallTextInt(lua_State*) {
    return DispatchNative<Renderer, TextIntTarget>([](IScriptManager* m, Renderer* self, TextIntTarget target) {
        int32_t size = m->GetParamInt32(1);
        const WideChar* text = u"";
        m->GetParamString(&text, 0);
        return m->ReturnInt32(target(self, text, size));
    });
}

int CallTextDraw(lua_State*) {
    return DispatchNative<Renderer, TextDrawTarget>([](IScriptManager* m, Renderer* self, TextDrawTarget target) {
        uint32_t colour = m->GetParamUInt32(7);
        uint32_t flags = m->GetParamUInt32(6);
        int32_t bottom = m->GetParamInt32(5);
        int32_t right = m->GetParamInt32(4);
        int32_t top = m->GetParamInt32(3);
        int32_t left = m->GetParamInt32(2);
        const WideChar* text = u"";
        m->GetParamString(&text, 1);
        uint32_t font = m->GetParamUInt32(0);
        target(self, font, text, left, top, right, bottom, flags, colour);
        return m->ReturnNothing();
    });
}

int CallHandle(lua_State*) {
    return DispatchNative<Renderer, HandleTarget>([](IScriptManager* m, Renderer* self, HandleTarget target) {
        uint32_t handle = m->GetParamUInt32(0);
        return m->ReturnInt32(target(self, handle));
    });
}

int CallHandleText(lua_State*) {
    return DispatchNative<Renderer, HandleTextTarget>([](IScriptManager* m, Renderer* self, HandleTextTarget target) {
        const WideChar* text = u"";
        m->GetParamString(&text, 1);
        uint32_t handle = m->GetParamUInt32(0);
        return m->ReturnInt32(target(self, handle, text));
    });
}

int CallText(lua_State*) {
    return DispatchNative<Renderer, TextTarget>([](IScriptManager* m, Renderer* self, TextTarget target) {
        const WideChar* text = u"";
        m->GetParamString(&text, 0);
        return m->ReturnInt32(target(self, text));
    });
}

int CallImageDraw(lua_State*) {
    return DispatchNative<Renderer, ImageDrawTarget>([](IScriptManager* m, Renderer* self, ImageDrawTarget target) {
        int32_t height = m->GetParamInt32(4);
        int32_t width = m->GetParamInt32(3);
        int32_t y = m->GetParamInt32(2);
        int32_t x = m->GetParamInt32(1);
        uint32_t image = m->GetParamUInt32(0);
        target(self, image, x, y, width, height);
        return m->ReturnNothing();
    });
}

int CallSelf(lua_State*) {
    return DispatchNative<Renderer, SelfTarget>([](IScriptManager* m, Renderer* self, SelfTarget target) {
        target(self);
        return m->ReturnNothing();
    });
}

// The class constructor new: a renderer without owner, handed to the script.
int ConstructGdi(lua_State*) {
    return Vexal::ConstructNative(&ConstructGdi, [] { return new Renderer(_null); });
}

// The targets.
int32_t TargetGetW(Renderer* r) { return r->ClientWidth(); }
int32_t TargetGetH(Renderer* r) { return r->ClientHeight(); }
float TargetGetProgress(Renderer* r) { return r->Progress(); }
float TargetGetSpeed(Renderer* r) { return r->Speed(); }
uint32_t TargetGetResCount(Renderer* r) { return r->ResCount(); }
uint32_t TargetGetFinishCount(Renderer* r) { return r->FinishCount(); }
uint32_t TargetGetResSize(Renderer* r) { return r->ResSize(); }
uint32_t TargetGetFinishSize(Renderer* r) { return r->FinishSize(); }
uint32_t TargetGetBgColor(Renderer* r) { return r->GetBgColor(); }
void TargetSetBgColor(Renderer* r, uint32_t colour) { r->SetBgColor(colour); }
void TargetDrawLine(Renderer* r, int32_t a, int32_t b, int32_t c, int32_t d, uint32_t colour) { r->DrawLine(a, b, c, d, colour); }
void TargetDrawRect(Renderer* r, int32_t a, int32_t b, int32_t c, int32_t d, uint32_t colour) { r->DrawRect(a, b, c, d, colour); }
void TargetFillRect(Renderer* r, int32_t a, int32_t b, int32_t c, int32_t d, uint32_t colour) { r->FillRect(a, b, c, d, colour); }
int32_t TargetLoadFont(Renderer* r, const WideChar* family, int32_t size) { return r->LoadFont(family, size); }
void TargetDrawText(Renderer* r, uint32_t font, const WideChar* text, int32_t left, int32_t top, int32_t right,
                    int32_t bottom, uint32_t flags, uint32_t colour) {
    r->DrawText(font, text, left, top, right, bottom, flags, colour);
}
int32_t TargetGetTextHeight(Renderer* r, uint32_t font) { return r->GetTextHeight(font); }
int32_t TargetGetTextWidth(Renderer* r, uint32_t font, const WideChar* text) { return r->GetTextWidth(font, text); }
int32_t TargetLoadImage(Renderer* r, const WideChar* name) { return r->LoadImage(name); }
void TargetDrawImage(Renderer* r, uint32_t image, int32_t x, int32_t y, int32_t width, int32_t height) {
    IScriptManager* manager = Vexal::FindScriptManager();
    r->DrawImage(image, x, y, width, height, manager ? manager->GetParamCount() : 0);
}
int32_t TargetGetImageHeight(Renderer* r, uint32_t image) { return r->GetImageHeight(image); }
int32_t TargetGetImageWidth(Renderer* r, uint32_t image) { return r->GetImageWidth(image); }
void TargetOnRender(Renderer* r) { r->OnRender(0); }

void AddConstant(IScriptManager* manager, const char* name, uint32_t value) {
    Variable constant(_null, Variable::kUInt32);
    constant.SetUnsigned(value);
    manager->AddConstant(name, constant, 0, true);
}

} // namespace

void Vexal3DRenderer_GDI::RegisterGdiClass(IScriptManager* manager) {
    if (!manager) return;
    manager->BeginClass(ScreenText::kGdiClass, &ConstructGdi);
    AddConstant(manager, "hLeft", 0);
    AddConstant(manager, "hRight", 2);
    AddConstant(manager, "hCenter", 1);
    AddConstant(manager, "vTop", 0);
    AddConstant(manager, "vBottom", 32);
    AddConstant(manager, "vCenter", 16);
    manager->AddReadOnlyProperty("w", AsTarget(&TargetGetW), &CallIntGetter);
    manager->AddReadOnlyProperty("h", AsTarget(&TargetGetH), &CallIntGetter);
    manager->AddReadOnlyProperty("progress", AsTarget(&TargetGetProgress), &CallFloatGetter);
    manager->AddReadOnlyProperty("speed", AsTarget(&TargetGetSpeed), &CallFloatGetter);
    manager->AddReadOnlyProperty("resCount", AsTarget(&TargetGetResCount), &CallUIntGetter);
    manager->AddReadOnlyProperty("finishCount", AsTarget(&TargetGetFinishCount), &CallUIntGetter);
    manager->AddReadOnlyProperty("resSize", AsTarget(&TargetGetResSize), &CallUIntGetter);
    manager->AddReadOnlyProperty("finishSize", AsTarget(&TargetGetFinishSize), &CallUIntGetter);
    manager->AddProperty("bgColor", AsTarget(&TargetGetBgColor), &CallUIntGetter, AsTarget(&TargetSetBgColor), &CallUIntSetter);
    manager->AddMethod("drawLine", AsTarget(&TargetDrawLine), &CallShape, false);
    manager->AddMethod("drawRect", AsTarget(&TargetDrawRect), &CallShape, false);
    manager->AddMethod("fillRect", AsTarget(&TargetFillRect), &CallShape, false);
    manager->AddMethod("loadFont", AsTarget(&TargetLoadFont), &CallTextInt, false);
    manager->AddMethod("drawText", AsTarget(&TargetDrawText), &CallTextDraw, false);
    manager->AddMethod("getTextHeight", AsTarget(&TargetGetTextHeight), &CallHandle, false);
    manager->AddMethod("getTextWidth", AsTarget(&TargetGetTextWidth), &CallHandleText, false);
    manager->AddMethod("loadImage", AsTarget(&TargetLoadImage), &CallText, false);
    manager->AddMethod("drawImage", AsTarget(&TargetDrawImage), &CallImageDraw, false);
    manager->AddMethod("getImageHeight", AsTarget(&TargetGetImageHeight), &CallHandle, false);
    manager->AddMethod("getImageWidth", AsTarget(&TargetGetImageWidth), &CallHandle, false);
    manager->AddMethod("onRender", AsTarget(&TargetOnRender), &CallSelf, false);
    manager->EndClass();
}
