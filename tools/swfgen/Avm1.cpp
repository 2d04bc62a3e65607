// A small assembler for ActionScript 1 byte code.
#include "Avm1.h"

#include <cmath>

namespace {

enum : uint8_t {
    kEnd = 0x00,
    kSubtract = 0x0B,
    kMultiply = 0x0C,
    kDivide = 0x0D,
    kNot = 0x12,
    kPop = 0x17,
    kGetVariable = 0x1C,
    kSetVariable = 0x1D,
    kDefineLocal = 0x3C,
    kModulo = 0x3F,
    kNewObject = 0x40,
    kInitArray = 0x42,
    kAdd2 = 0x47,
    kLess2 = 0x48,
    kToNumber = 0x4A,
    kGetMember = 0x4E,
    kSetMember = 0x4F,
    kCallMethod = 0x52,
    kGreater = 0x67,
    kPush = 0x96,
    kJump = 0x99,
    kDefineFunction = 0x9B,
    kIf = 0x9D,
};

Expr Binary(Expr a, Expr b, uint8_t action) {
    return {[a, b, action](Avm1Code& c) { a.emit(c); b.emit(c); c.Action(action); }};
}

Expr MathCall(const std::string& name, std::vector<Expr> args) { return CallMethod(Var("Math"), name, std::move(args)); }

void EmitBlock(Avm1Code& c, const Block& block) {
    for (const Stmt& s : block) s.emit(c);
}

} // namespace

void Avm1Code::Action(uint8_t code) { mCode.push_back(code); }

void Avm1Code::Action(uint8_t code, const Bytes& payload) {
    mCode.push_back(code);
    mCode.push_back(uint8_t(payload.size() & 0xFF));
    mCode.push_back(uint8_t(payload.size() >> 8));
    mCode.insert(mCode.end(), payload.begin(), payload.end());
}

void Avm1Code::PushString(const std::string& text) {
    SwfWriter w;
    w.U8(0);
    w.Text(text);
    Action(kPush, w.Data());
}

void Avm1Code::PushNumber(double value) {
    SwfWriter w;
    if (value == std::floor(value) && std::fabs(value) < 2147483648.0) {
        w.U8(7);
        w.U32(uint32_t(int32_t(value)));
    } else {
        w.U8(6);
        w.Double(value);
    }
    Action(kPush, w.Data());
}

void Avm1Code::PushBool(bool value) { Action(kPush, {5, uint8_t(value ? 1 : 0)}); }

int Avm1Code::NewLabel() {
    mLabels.push_back(-1);
    return int(mLabels.size() - 1);
}

void Avm1Code::Bind(int label) { mLabels[size_t(label)] = long(mCode.size()); }

void Avm1Code::Branch(uint8_t code, int label) {
    Action(code, {0, 0});
    mFixups.push_back({mCode.size(), label}); // offsets count from the end of the branch
}

void Avm1Code::Append(const Bytes& code) { mCode.insert(mCode.end(), code.begin(), code.end()); }

Bytes Avm1Code::Finish() {
    for (const Fixup& f : mFixups) {
        long delta = mLabels[size_t(f.label)] - long(f.offset);
        mCode[f.offset - 2] = uint8_t(delta & 0xFF);
        mCode[f.offset - 1] = uint8_t((delta >> 8) & 0xFF);
    }
    mFixups.clear();
    return mCode;
}

Expr Str(const std::string& text) {
    return {[text](Avm1Code& c) { c.PushString(text); }};
}
Expr Num(double value) {
    return {[value](Avm1Code& c) { c.PushNumber(value); }};
}
Expr Var(const std::string& name) {
    return {[name](Avm1Code& c) { c.PushString(name); c.Action(kGetVariable); }};
}

Expr Mem(Expr object, const std::string& name) {
    return {[object, name](Avm1Code& c) { object.emit(c); c.PushString(name); c.Action(kGetMember); }};
}

Expr Index(Expr object, Expr key) {
    return {[object, key](Avm1Code& c) { object.emit(c); key.emit(c); c.Action(kGetMember); }};
}

Expr CallMethod(Expr object, const std::string& name, std::vector<Expr> args) {
    return {[object, name, args](Avm1Code& c) {
        for (auto it = args.rbegin(); it != args.rend(); ++it) it->emit(c);
        c.PushNumber(double(args.size()));
        object.emit(c);
        c.PushString(name);
        c.Action(kCallMethod);
    }};
}

Expr New(const std::string& className, std::vector<Expr> args) {
    return {[className, args](Avm1Code& c) {
        for (auto it = args.rbegin(); it != args.rend(); ++it) it->emit(c);
        c.PushNumber(double(args.size()));
        c.PushString(className);
        c.Action(kNewObject);
    }};
}

Expr ArrayOf(std::vector<Expr> elements) {
    return {[elements](Avm1Code& c) {
        for (auto it = elements.rbegin(); it != elements.rend(); ++it) it->emit(c);
        c.PushNumber(double(elements.size()));
        c.Action(kInitArray);
    }};
}

Expr ToNumber(Expr value) {
    return {[value](Avm1Code& c) { value.emit(c); c.Action(kToNumber); }};
}

Expr Function(const Block& block) {
    return {[block](Avm1Code& c) {
        Avm1Code body;
        EmitBlock(body, block);
        Bytes code = body.Finish();
        SwfWriter w;
        w.Text(""); // anonymous: the function is pushed
        w.U16(0);   // no parameters
        w.U16(uint32_t(code.size()));
        c.Action(kDefineFunction, w.Data());
        c.Append(code);
    }};
}

Expr operator+(Expr a, Expr b) { return Binary(a, b, kAdd2); }
Expr operator-(Expr a, Expr b) { return Binary(a, b, kSubtract); }
Expr operator*(Expr a, Expr b) { return Binary(a, b, kMultiply); }
Expr operator/(Expr a, Expr b) { return Binary(a, b, kDivide); }
Expr operator%(Expr a, Expr b) { return Binary(a, b, kModulo); }
Expr operator<(Expr a, Expr b) { return Binary(a, b, kLess2); }
Expr operator>(Expr a, Expr b) { return Binary(a, b, kGreater); }
Expr operator!(Expr a) {
    return {[a](Avm1Code& c) { a.emit(c); c.Action(kNot); }};
}
Expr Floor(Expr a) { return MathCall("floor", {a}); }
Expr Ceil(Expr a) { return MathCall("ceil", {a}); }
Expr Max(Expr a, Expr b) { return MathCall("max", {a, b}); }
Expr Round(Expr a) { return MathCall("round", {a}); }

Stmt SetVar(const std::string& name, Expr value) {
    return {[name, value](Avm1Code& c) { c.PushString(name); value.emit(c); c.Action(kSetVariable); }};
}

Stmt Local(const std::string& name, Expr value) {
    return {[name, value](Avm1Code& c) { c.PushString(name); value.emit(c); c.Action(kDefineLocal); }};
}

Stmt SetMem(Expr object, const std::string& name, Expr value) {
    return {[object, name, value](Avm1Code& c) {
        object.emit(c);
        c.PushString(name);
        value.emit(c);
        c.Action(kSetMember);
    }};
}

Stmt Do(Expr value) {
    return {[value](Avm1Code& c) { value.emit(c); c.Action(kPop); }};
}

Stmt If(Expr condition, const Block& then, const Block& otherwise) {
    return {[condition, then, otherwise](Avm1Code& c) {
        int elseLabel = c.NewLabel(), endLabel = c.NewLabel();
        condition.emit(c);
        c.Action(kNot);
        c.Branch(kIf, elseLabel);
        EmitBlock(c, then);
        if (!otherwise.empty()) c.Branch(kJump, endLabel);
        c.Bind(elseLabel);
        EmitBlock(c, otherwise);
        c.Bind(endLabel);
    }};
}

Bytes Assemble(const Block& block) {
    Avm1Code c;
    EmitBlock(c, block);
    c.Action(kEnd);
    return c.Finish();
}
