// A small assembler for ActionScript 1 byte code (the actions of a DoAction tag), with
// expressions and statements built as C++ values, so the movie's script reads like a script.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SwfWriter.h"

// Code under construction: actions appended in order, forward jumps patched by label.
class Avm1Code {
public:
    void Action(uint8_t code);                       // an action without payload
    void Action(uint8_t code, const Bytes& payload); // an action with a length-prefixed payload
    void PushString(const std::string& text);
    void PushNumber(double value); // 32-bit integer form when exact
    void PushBool(bool value);
    int NewLabel();
    void Bind(int label);                 // the label's position is here
    void Branch(uint8_t code, int label); // Jump (0x99) or If (0x9D) to a label
    void Append(const Bytes& code);
    Bytes Finish(); // resolves the labels

private:
    Bytes mCode;
    std::vector<long> mLabels;
    struct Fixup {
        size_t offset;
        int label;
    };
    std::vector<Fixup> mFixups;
};

// An expression leaves one value on the stack; a statement leaves none.
using Emit = std::function<void(Avm1Code&)>;
struct Expr {
    Emit emit;
};
struct Stmt {
    Emit emit;
};
using Block = std::vector<Stmt>;

Expr Str(const std::string& text);
Expr Num(double value);
Expr Var(const std::string& name);              // GetVariable
Expr Mem(Expr object, const std::string& name); // object.name
Expr Index(Expr object, Expr key);              // object[key]
Expr CallMethod(Expr object, const std::string& name, std::vector<Expr> args);
Expr New(const std::string& className, std::vector<Expr> args);
Expr ArrayOf(std::vector<Expr> elements);
Expr ToNumber(Expr value);
Expr Function(const Block& body); // an anonymous function value
Expr operator+(Expr a, Expr b);   // numeric sum or text join
Expr operator-(Expr a, Expr b);
Expr operator*(Expr a, Expr b);
Expr operator/(Expr a, Expr b);
Expr operator%(Expr a, Expr b);
Expr operator<(Expr a, Expr b);
Expr operator>(Expr a, Expr b);
Expr operator!(Expr a);
Expr Floor(Expr a);
Expr Ceil(Expr a);
Expr Max(Expr a, Expr b);
Expr Round(Expr a);

Stmt SetVar(const std::string& name, Expr value);              // SetVariable
Stmt Local(const std::string& name, Expr value);               // var name = value
Stmt SetMem(Expr object, const std::string& name, Expr value); // object.name = value
Stmt Do(Expr value);                                           // evaluate, drop the result
Stmt If(Expr condition, const Block& then, const Block& otherwise = {});

// The code of a block, ready for a DoAction tag (terminated by the end action).
Bytes Assemble(const Block& block);
