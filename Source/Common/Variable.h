// The engine's dynamic value: a named, typed scalar, text, byte block, script reference, or a
// tree of named members (structure) or numbered elements (array), addressed by path texts.
#pragma once

#include "Common/Types.h"
#include "Common/Array.h"
#include "Source/Common/String.h"

namespace Vexal {
class ScriptObject;
}

class Variable;

// Told when a variable is destroyed or reset (reason kChangeDestroyed) or copied from
// (reason kChangeCopied). Runs on the thread that changes the variable.
typedef void (*VariableChangeCallback)(Variable* variable, int32_t reason);

// Paths: members are separated by ".", array elements are addressed as "[n]" and an array's
// element count as "#", e.g. "config.window.width", "list[3].name", "list#".
//
// Ownership: a variable owns its name, its string or byte block, its count child, its template
// and its children. Failed lookups yield the shared null variable (type 0), which is never
// modified: every changing operation on it does nothing. Not thread-safe; not copyable (use
// CopyFrom for a deep copy).
class Variable {
public:
    // Type codes. The low byte is the base type; kArray marks an array of that base type.
    static constexpr uint32_t kNone = 0;
    static constexpr uint32_t kBool = 2;
    static constexpr uint32_t kWChar = 3; // 16-bit unsigned character
    static constexpr uint32_t kInt8 = 4;
    static constexpr uint32_t kInt16 = 5;
    static constexpr uint32_t kInt32 = 6;
    static constexpr uint32_t kInt64 = 7;
    static constexpr uint32_t kUInt8 = 8;
    static constexpr uint32_t kUInt16 = 9;
    static constexpr uint32_t kUInt32 = 10;
    static constexpr uint32_t kUInt64 = 11;
    static constexpr uint32_t kFloat = 12;
    static constexpr uint32_t kDouble = 13;
    static constexpr uint32_t kBytes = 14;      // owned byte block and its 32-bit size
    static constexpr uint32_t kWideString = 15; // owned NUL-terminated UTF-16 copy
    static constexpr uint32_t kObject = 16;     // Vexal::ScriptObject pointer, not owned
    static constexpr uint32_t kFunction = 17;   // script function reference (registry number)
    static constexpr uint32_t kStructure = 128;
    static constexpr uint32_t kArray = 0x100;

    static constexpr int32_t kChangeCopied = 0;
    static constexpr int32_t kChangeDestroyed = 1;

    // An untyped, unnamed variable (type 0).
    Variable();
    // An array (kArray set) gets the count child "#" (type kUInt32, value 0); an array of
    // structures (base type kStructure) also gets its template, an unnamed structure that
    // describes one element.
    Variable(const WideChar* name, uint32_t type);
    // Tells the change callback (kChangeDestroyed), then frees the value, the count child, the
    // template and all children.
    ~Variable();

    Variable(const Variable&) = delete;
    Variable& operator=(const Variable&) = delete;

    // The shared null variable returned by failed lookups.
    static Variable& Null();
    bool IsNull() const { return this == &Null(); }

    // Tells and removes the change callback, frees the value, empties the name, sets type, value
    // and key to 0, destroys count, template and children. The object itself stays.
    void Reset();
    // Reset, then set up as the constructor does.
    void Reinitialize(const WideChar* name, uint32_t type);
    // Deep copy of other (name, type, key number, change callback, value, count child, template
    // and children); other's change callback is told first (kChangeCopied). Copying a variable
    // from itself or from one of its own descendants is safe.
    void CopyFrom(const Variable& other);

    const String& GetName() const { return mName; }
    void SetName(const WideChar* name);
    uint32_t GetType() const { return mType; }
    uint32_t GetBaseType() const { return mType & 0xFF; }
    bool IsArray() const { return (mType & kArray) != 0; }
    bool IsStructure() const { return mType == kStructure; }

    // The numeric key the value had in a script table (valid when HasKeyNumber).
    double GetKeyNumber() const { return mKeyNumber; }
    bool HasKeyNumber() const { return mKeyIsNumber != 0; }
    void SetKeyNumber(double key);

    void SetChangeCallback(VariableChangeCallback callback) { mChangeCallback = callback; }
    VariableChangeCallback GetChangeCallback() const { return mChangeCallback; }

    // Numeric reads from any scalar type: bool gives 0 or 1, floating values are truncated
    // toward zero (saturated at the integer range, NaN gives 0), unsigned 64-bit values keep
    // their bits. Non-numeric types give 0.
    int64_t GetInteger() const;
    uint64_t GetUnsigned() const { return uint64_t(GetInteger()); }
    // Unsigned 64-bit values convert as unsigned.
    double GetNumber() const;
    bool GetBool() const { return GetInteger() != 0; }
    // Numeric writes into the current scalar type, cut to its width; bool stores value != 0.
    // Nothing happens for other types.
    void SetInteger(int64_t value);
    void SetUnsigned(uint64_t value);
    void SetNumber(double value);
    void SetBool(bool value) { SetInteger(value ? 1 : 0); }

    // Type kWideString: the stored text or null when there is none.
    const WideChar* GetString() const { return mType == kWideString ? mValue.mText : _null; }
    // Type kWideString only: frees the old copy; an empty or null text leaves no value,
    // otherwise a private copy is stored. False when not a string or the memory is short.
    bool SetString(const WideChar* text);
    // Type kBytes: the stored block (null when empty) and its size.
    const uint8_t* GetBytes() const { return mType == kBytes ? mValue.mBytes : _null; }
    uint32_t GetByteCount() const { return mType == kBytes ? mByteCount : 0; }
    // Type kBytes only: frees the old block, stores a private copy of size bytes (none for 0).
    bool SetBytes(const void* bytes, uint32_t size);
    // Type kObject.
    Vexal::ScriptObject* GetObject() const { return mType == kObject ? mValue.mObject : _null; }
    void SetObject(Vexal::ScriptObject* object);
    // Type kFunction: the registry reference number (0 = none).
    int32_t GetFunctionRef() const { return mType == kFunction ? int32_t(mValue.mInt64) : 0; }
    void SetFunctionRef(int32_t reference);

    // Members of a structure or elements of an array, in order.
    int32_t GetChildCount() const { return mChildren.GetCount(); }
    // The child at index, or the null variable outside 0..count-1.
    Variable& GetChild(int32_t index);
    // Appends a child and takes ownership (null is ignored). False when the memory is short
    // (the child is then deleted) or this is the null variable.
    bool AddChild(Variable* child);
    // The count child "#" of an array (null variable otherwise) and the template of an array of
    // structures (null variable otherwise).
    Variable& GetCount() { return mCount ? *mCount : Null(); }
    Variable& GetTemplate() { return mTemplate ? *mTemplate : Null(); }

    // The member at path, or the null variable. An empty path is this variable.
    Variable& Find(const WideChar* path);
    // Finds or creates the member at path with the given type; missing parents become
    // structures. Where the member goes follows the kind of this variable, not of the parent the
    // path names: called on a structure, the member becomes a child of that parent (an array or
    // a scalar included); called on an array of structures, it goes into the parent's template and so
    // into every existing element (a parent without a template is the assertion
    // "subvar.mTemplate != _null"). The null variable when the place cannot hold the member.
    Variable& Create(const WideChar* path, uint32_t type);
    // Arrays only: appends n elements named "[i]" (copies of the template for an array of
    // structures, otherwise variables of the base type) and updates the count child. Nothing
    // happens for n <= 0.
    void AddElements(int32_t n);

private:
    void Setup(const WideChar* name, uint32_t type);
    void FreeValue();
    void DestroyMembers();
    void StealFrom(Variable& other);
    Variable* FindChildNamed(const WideChar* name, int32_t length);

    String mName;
    uint32_t mType;
    union {
        int64_t mInt64;
        uint64_t mUInt64;
        float mFloat;
        double mDouble;
        WideChar* mText;
        uint8_t* mBytes;
        Vexal::ScriptObject* mObject;
    } mValue;
    uint32_t mByteCount;
    double mKeyNumber;
    uint8_t mKeyIsNumber;
    Variable* mTemplate;
    Variable* mCount;
    Array<Variable*> mChildren;
    VariableChangeCallback mChangeCallback;
};
