// Test classes registered through the script manager, and a fixture owning the manager.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Source/Common/Variable.h"
#include "Source/Script/IScriptManager.h"

namespace ScriptTest {

using Vexal::IScriptManager;
using Vexal::ScriptObject;

// Class "Thing": one method per reader and return type, properties, constants.
// Class "Bag": a per-object field table and a catch-all accessor.
class Thing final : public ScriptObject {
public:
    explicit Thing(const char* className = "Thing", bool ownFieldTable = false);
    ~Thing() override;

    int32_t mValue = 0;
    uint32_t mColor = 0;
    std::u16string mLastKey; // last key given to the catch-all setter
    static int32_t sLive;
    static int32_t sDeleted;
};

// The last Variable received by Thing:variable(), and the last key stored by Thing:store().
extern Variable gLastVariable;

// Registers both classes and the free functions "countFree", "firstFree", "runMode2",
// "runBuffer", "emptyTarget" on the current manager.
void RegisterTestClasses(IScriptManager* manager);

// Test text of a Lua string result.
std::u16string ToU16(const WideChar* text);
std::string ToUtf8(const std::u16string& text);

class ScriptFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs text; the run must succeed (the error text is shown otherwise).
    void Run(const char16_t* text);
    // Runs text with result mode 1 into a fresh untyped Variable.
    double RunNumber(const char16_t* text);
    std::u16string RunText(const char16_t* text);
    std::u16string LastError();
    // Publishes obj as the global name (which hands it to the scripts).
    void Publish(const char* name, ScriptObject* obj);

    IScriptManager* mManager = nullptr;
    Variable mOut;
};

} // namespace ScriptTest
