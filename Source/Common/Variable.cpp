// The engine's dynamic value and tree: construction, copies, numeric access and path lookup.
#include "Source/Common/Variable.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"

namespace {

const WideChar kModule[] = u"Source/Common/Variable";

// Truncation toward zero that never leaves the 64-bit range (NaN gives 0).
int64_t TruncateToInt64(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return INT64_MAX;
    if (value <= -9223372036854775808.0) return INT64_MIN;
    return int64_t(value);
}

bool IsDelimiter(WideChar unit) { return unit == u'.' || unit == u'[' || unit == u'#'; }

// The first path component: up to (not including) the first ".", "[" or "#" after position 0.
// A "." ending the component is consumed; "[" and "#" stay at the start of the rest.
int32_t SplitComponent(const WideChar* path, const WideChar** rest) {
    int32_t length = 1;
    while (path[length] != 0 && !IsDelimiter(path[length])) ++length;
    *rest = path + length;
    if (**rest == u'.') ++*rest;
    return length;
}

bool SameName(const String& name, const WideChar* text, int32_t length) {
    return name.GetLength() == length && std::memcmp(name.Data(), text, size_t(length) * sizeof(WideChar)) == 0;
}

} // namespace

Variable::Variable() : mType(kNone), mByteCount(0), mKeyNumber(0), mKeyIsNumber(0), mTemplate(_null),
                       mCount(_null), mChangeCallback(_null) {
    mValue.mInt64 = 0;
}

Variable::Variable(const WideChar* name, uint32_t type) : Variable() {
    Setup(name, type);
}

Variable::~Variable() {
    if (mChangeCallback) mChangeCallback(this, kChangeDestroyed);
    FreeValue();
    DestroyMembers();
}

Variable& Variable::Null() {
    static Variable null;
    return null;
}

void Variable::Setup(const WideChar* name, uint32_t type) {
    mName = name ? name : u"";
    mType = type;
    mValue.mInt64 = 0;
    mByteCount = 0;
    if (type & kArray) {
        mCount = new (std::nothrow) Variable(u"#", kUInt32);
        if ((type & 0xFF) == kStructure) mTemplate = new (std::nothrow) Variable(u"", kStructure);
    }
}

void Variable::FreeValue() {
    if (mType == kWideString) std::free(mValue.mText);
    else if (mType == kBytes) std::free(mValue.mBytes);
    mValue.mInt64 = 0;
    mByteCount = 0;
}

void Variable::DestroyMembers() {
    delete mCount;
    mCount = _null;
    delete mTemplate;
    mTemplate = _null;
    for (Variable* child : mChildren) delete child;
    mChildren.Clear();
}

void Variable::Reset() {
    if (IsNull()) return;
    if (mChangeCallback) {
        VariableChangeCallback callback = mChangeCallback;
        mChangeCallback = _null;
        callback(this, kChangeDestroyed);
    }
    FreeValue();
    mName.Clear();
    mType = kNone;
    mKeyNumber = 0;
    mKeyIsNumber = 0;
    DestroyMembers();
}

void Variable::Reinitialize(const WideChar* name, uint32_t type) {
    if (IsNull()) return;
    // The name may be this variable's own, which Reset empties.
    String keep(name ? name : u"");
    Reset();
    Setup(keep.Data(), type);
}

void Variable::SetName(const WideChar* name) {
    if (IsNull()) return;
    mName = name ? name : u"";
}

void Variable::SetKeyNumber(double key) {
    if (IsNull()) return;
    mKeyNumber = key;
    mKeyIsNumber = 1;
}

// Copies everything of other into this (empty) variable.
static bool DeepCopy(Variable& target, const Variable& other);

void Variable::StealFrom(Variable& other) {
    mName = static_cast<String&&>(other.mName);
    mType = other.mType;
    mValue = other.mValue;
    mByteCount = other.mByteCount;
    mKeyNumber = other.mKeyNumber;
    mKeyIsNumber = other.mKeyIsNumber;
    mTemplate = other.mTemplate;
    mCount = other.mCount;
    mChildren = static_cast<Array<Variable*>&&>(other.mChildren);
    mChangeCallback = other.mChangeCallback;
    other.mType = kNone;
    other.mValue.mInt64 = 0;
    other.mByteCount = 0;
    other.mTemplate = _null;
    other.mCount = _null;
    other.mChangeCallback = _null;
}

void Variable::CopyFrom(const Variable& other) {
    if (IsNull() || &other == this) return;
    if (other.mChangeCallback) other.mChangeCallback(const_cast<Variable*>(&other), kChangeCopied);
    // Copy first: other may be a member of this variable, which Reset destroys.
    Variable copy;
    DeepCopy(copy, other);
    Reset();
    StealFrom(copy);
}

static bool DeepCopy(Variable& target, const Variable& other) {
    Variable& source = const_cast<Variable&>(other);
    target.Reinitialize(source.GetName(), source.GetType());
    if (source.HasKeyNumber()) target.SetKeyNumber(source.GetKeyNumber());
    switch (source.GetType()) {
    case Variable::kWideString: target.SetString(source.GetString()); break;
    case Variable::kBytes: target.SetBytes(source.GetBytes(), source.GetByteCount()); break;
    case Variable::kObject: target.SetObject(source.GetObject()); break;
    case Variable::kFunction: target.SetFunctionRef(source.GetFunctionRef()); break;
    case Variable::kFloat:
    case Variable::kDouble: target.SetNumber(source.GetNumber()); break;
    default: target.SetInteger(source.GetInteger()); break;
    }
    if (!source.GetCount().IsNull()) DeepCopy(target.GetCount(), source.GetCount());
    if (!source.GetTemplate().IsNull()) DeepCopy(target.GetTemplate(), source.GetTemplate());
    for (int32_t i = 0; i < source.GetChildCount(); ++i) {
        Variable* child = new (std::nothrow) Variable();
        if (!child) return false;
        DeepCopy(*child, source.GetChild(i));
        if (!target.AddChild(child)) return false;
    }
    target.SetChangeCallback(source.GetChangeCallback());
    return true;
}

int64_t Variable::GetInteger() const {
    switch (mType) {
    case kBool:
    case kWChar:
    case kInt8:
    case kInt16:
    case kInt32:
    case kInt64:
    case kUInt8:
    case kUInt16:
    case kUInt32:
    case kUInt64:
        return mValue.mInt64;
    case kFloat: return TruncateToInt64(double(mValue.mFloat));
    case kDouble: return TruncateToInt64(mValue.mDouble);
    default: return 0;
    }
}

double Variable::GetNumber() const {
    switch (mType) {
    case kUInt64: return double(mValue.mUInt64);
    case kFloat: return double(mValue.mFloat);
    case kDouble: return mValue.mDouble;
    default: return double(GetInteger());
    }
}

void Variable::SetInteger(int64_t value) {
    if (IsNull()) return;
    switch (mType) {
    case kBool: mValue.mInt64 = value != 0; break;
    case kWChar:
    case kUInt16: mValue.mInt64 = uint16_t(value); break;
    case kInt8: mValue.mInt64 = int8_t(value); break;
    case kInt16: mValue.mInt64 = int16_t(value); break;
    case kInt32: mValue.mInt64 = int32_t(value); break;
    case kInt64:
    case kUInt64: mValue.mInt64 = value; break;
    case kUInt8: mValue.mInt64 = uint8_t(value); break;
    case kUInt32: mValue.mInt64 = uint32_t(value); break;
    case kFloat: mValue.mFloat = float(value); break;
    case kDouble: mValue.mDouble = double(value); break;
    default: break;
    }
}

void Variable::SetUnsigned(uint64_t value) {
    if (mType == kFloat) {
        if (!IsNull()) mValue.mFloat = float(value);
        return;
    }
    if (mType == kDouble) {
        if (!IsNull()) mValue.mDouble = double(value);
        return;
    }
    SetInteger(int64_t(value));
}

void Variable::SetNumber(double value) {
    if (IsNull()) return;
    switch (mType) {
    case kFloat: mValue.mFloat = float(value); break;
    case kDouble: mValue.mDouble = value; break;
    case kBool: mValue.mInt64 = value != 0; break;
    case kUInt64:
        // Unsigned values of 2^63 and above keep their magnitude.
        if (value >= 9223372036854775808.0 && value < 18446744073709551616.0) mValue.mUInt64 = uint64_t(value);
        else mValue.mInt64 = TruncateToInt64(value);
        break;
    default: SetInteger(TruncateToInt64(value)); break;
    }
}

bool Variable::SetString(const WideChar* text) {
    if (IsNull() || mType != kWideString) return false;
    std::free(mValue.mText);
    mValue.mText = _null;
    int32_t length = String::Length(text);
    if (length == 0) return true;
    WideChar* copy = static_cast<WideChar*>(std::malloc((size_t(length) + 1) * sizeof(WideChar)));
    if (!copy) return false;
    std::memcpy(copy, text, (size_t(length) + 1) * sizeof(WideChar));
    mValue.mText = copy;
    return true;
}

bool Variable::SetBytes(const void* bytes, uint32_t size) {
    if (IsNull() || mType != kBytes) return false;
    std::free(mValue.mBytes);
    mValue.mBytes = _null;
    mByteCount = 0;
    if (size == 0 || bytes == _null) return true;
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size));
    if (!copy) return false;
    std::memcpy(copy, bytes, size);
    mValue.mBytes = copy;
    mByteCount = size;
    return true;
}

void Variable::SetObject(Vexal::ScriptObject* object) {
    if (!IsNull() && mType == kObject) mValue.mObject = object;
}

void Variable::SetFunctionRef(int32_t reference) {
    if (!IsNull() && mType == kFunction) mValue.mInt64 = reference;
}

Variable& Variable::GetChild(int32_t index) {
    if (index < 0 || index >= mChildren.GetCount()) return Null();
    return *mChildren[index];
}

bool Variable::AddChild(Variable* child) {
    if (child == _null) return false;
    if (IsNull() || !mChildren.Append(child)) {
        delete child;
        return false;
    }
    return true;
}

Variable* Variable::FindChildNamed(const WideChar* name, int32_t length) {
    for (Variable* child : mChildren)
        if (SameName(child->mName, name, length)) return child;
    return _null;
}

Variable& Variable::Find(const WideChar* path) {
    if (path == _null || *path == 0) return *this;
    const WideChar* rest;
    int32_t length = SplitComponent(path, &rest);

    if (IsArray() && path[0] == u'[') {
        int64_t index = 0;
        int32_t digits = 0;
        for (int32_t i = 1; i < length && path[i] >= u'0' && path[i] <= u'9' && index < INT32_MAX; ++i, ++digits)
            index = index * 10 + (path[i] - u'0');
        if (digits > 0 && index < mChildren.GetCount()) return mChildren[int32_t(index)]->Find(rest);
    }
    if (Variable* child = FindChildNamed(path, length)) return child->Find(rest);
    if (mTemplate && mTemplate->GetChildCount() > 0)
        if (Variable* member = mTemplate->FindChildNamed(path, length)) return member->Find(rest);
    if (mCount && SameName(mCount->mName, path, length)) return mCount->Find(rest);
    return Null();
}

Variable& Variable::Create(const WideChar* path, uint32_t type) {
    if (IsNull() || path == _null || *path == 0) return Null();
    int32_t dot = -1;
    for (int32_t i = String::Length(path) - 1; i > 0; --i)
        if (path[i] == u'.') {
            dot = i;
            break;
        }
    const WideChar* leaf = dot < 0 ? path : path + dot + 1;
    String parentPath;
    if (dot > 0) parentPath.Assign(path, dot);

    Variable* parent = parentPath.IsEmpty() ? this : &Find(parentPath.Data());
    if (parent->mType == kNone && !parentPath.IsEmpty()) {
        Variable& created = Create(parentPath.Data(), kStructure);
        if (created.IsNull()) return Null();
        return created.Create(leaf, type);
    }

    // Where the member goes is decided by the kind of this variable, the one asked to create
    // it: an array of structures adds it to the template of the parent it names (and so to every
    // element); a structure adds it to that parent itself, whatever the parent's kind.
    Variable* place = _null;
    bool intoTemplate = false;
    if (IsArray()) {
        if (!VEXAL_CHECK(parent->mTemplate != _null, u"subvar.mTemplate != _null", kModule)) return Null();
        if (GetBaseType() != kStructure) return Null();
        place = parent->mTemplate;
        intoTemplate = true;
    } else if (IsStructure()) {
        place = parent;
    } else {
        return Null();
    }

    int32_t leafLength = String::Length(leaf);
    if (Variable* existing = place->FindChildNamed(leaf, leafLength)) return *existing;
    Variable* member = new (std::nothrow) Variable(leaf, type);
    if (!member || !place->AddChild(member)) return Null();
    if (intoTemplate)
        for (Variable* element : parent->mChildren) element->Create(leaf, type);
    return *member;
}

void Variable::AddElements(int32_t n) {
    if (IsNull() || !IsArray() || n <= 0) return;
    for (int32_t i = 0; i < n; ++i) {
        WideChar name[24];
        FormatInto(name, 24, u"[%d]", mChildren.GetCount());
        Variable* element = new (std::nothrow) Variable();
        if (!element) return;
        if (mTemplate) {
            element->CopyFrom(*mTemplate);
            element->SetName(name);
        } else {
            element->Reinitialize(name, GetBaseType());
        }
        if (!AddChild(element)) return;
    }
    if (mCount && (mCount->mType == kInt32 || mCount->mType == kUInt32))
        mCount->SetInteger(mChildren.GetCount());
}
