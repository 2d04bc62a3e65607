// Configuration blobs ("LUC1" records) handed to the script manager, and saving a loaded tree.
//
// A record is the magic, the name (length and bytes), a string table ({length, bytes} ending
// with the length -1) and one root node. Every integer is little-endian 32-bit. A node is a
// 24-byte header (array item count, hash entry count, four words without meaning in the file),
// its array items (a type byte, then a nested node for type 4 or 8 value bytes) and its hash
// entries (24 bytes each, a nested node following an entry whose byte 21 is 4). Only type 4 is
// interpreted here: everything else belongs to the scripts' __luaconf library and is kept as
// read, so a saved tree gives back the bytes it was loaded from.
#include "Source/Script/LuaScriptManager.h"

#include <lua.hpp>

#include <cstdlib>
#include <cstring>
#include <new>

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"

// One node of a loaded tree, in a single block with its arrays. The tree's strings live on the
// stack of mStrings (index 1 names the tree, the strings follow from index 2), shared by every
// node of one tree and closed with the root.
namespace Vexal {

struct ScriptConfigNode {
    uint32_t mArrayCount;
    uint32_t mHashCount;
    uint8_t mHeaderWords[16];
    lua_State* mStrings;
    uint8_t* mTypes; // mArrayCount type bytes
    union Value {
        uint8_t mBytes[8];
        ScriptConfigNode* mNode;    // type 4
    } * mValues;                    // mArrayCount values
    uint8_t* mEntries;              // mHashCount entries of 24 bytes, as read
    ScriptConfigNode** mEntryNodes; // per entry, its nested node or null
};

namespace {

const uint8_t kMagic[4] = {'L', 'U', 'C', '1'};
constexpr uint32_t kEndOfStrings = 0xFFFFFFFFu;
constexpr uint8_t kNestedNode = 4;
constexpr uint32_t kHeaderSize = 24;
constexpr uint32_t kEntrySize = 24;
constexpr uint32_t kEntryTypeOffset = 21;
// The host key ("%s_host") must fit 2048 bytes with its terminator.
constexpr uint32_t kMaxNameBytes = 2042;
// Nesting limit of the recursive parser, far beyond any configuration a script writes.
constexpr int32_t kMaxDepth = 200;
// The scripts' configuration library keeps its hosts in this array slot of the globals' metatable.
constexpr int kConfigHostsIndex = 1;

// Reads a blob front to back; every read checks the bytes left first.
struct BlobReader {
    const uint8_t* mData;
    uint32_t mSize;
    uint32_t mPosition;

    uint32_t Left() const { return mSize - mPosition; }
    bool Word(uint32_t& value) {
        if (Left() < 4) return false;
        const uint8_t* p = mData + mPosition;
        value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        mPosition += 4;
        return true;
    }
    bool Bytes(const uint8_t*& bytes, uint32_t count) {
        if (Left() < count) return false;
        bytes = mData + mPosition;
        mPosition += count;
        return true;
    }
};

size_t AlignUp(size_t size) { return (size + 7) & ~size_t(7); }

void FreeNode(ScriptConfigNode* node) {
    if (node == _null) return;
    for (uint32_t i = 0; i < node->mArrayCount; ++i)
        if (node->mTypes[i] == kNestedNode) FreeNode(node->mValues[i].mNode);
    for (uint32_t i = 0; i < node->mHashCount; ++i) FreeNode(node->mEntryNodes[i]);
    std::free(node);
}

ScriptConfigNode* ParseNode(BlobReader& reader, lua_State* strings, int32_t depth) {
    if (depth > kMaxDepth) return _null;
    uint32_t arrayCount = 0;
    uint32_t hashCount = 0;
    const uint8_t* words = _null;
    if (!reader.Word(arrayCount) || !reader.Word(hashCount) || !reader.Bytes(words, kHeaderSize - 8)) return _null;
    // Each item takes at least one byte and each entry 24: counts beyond that cannot be real.
    if (arrayCount > reader.Left() || hashCount > reader.Left() / kEntrySize) return _null;
    size_t typesAt = AlignUp(sizeof(ScriptConfigNode));
    size_t valuesAt = AlignUp(typesAt + arrayCount);
    size_t entriesAt = valuesAt + size_t(arrayCount) * sizeof(ScriptConfigNode::Value);
    size_t nodesAt = AlignUp(entriesAt + size_t(hashCount) * kEntrySize);
    size_t total = nodesAt + size_t(hashCount) * sizeof(ScriptConfigNode*);
    uint8_t* block = static_cast<uint8_t*>(std::calloc(1, total));
    if (block == _null) return _null;
    ScriptConfigNode* node = reinterpret_cast<ScriptConfigNode*>(block);
    node->mArrayCount = arrayCount;
    node->mHashCount = hashCount;
    std::memcpy(node->mHeaderWords, words, sizeof node->mHeaderWords);
    node->mStrings = strings;
    node->mTypes = block + typesAt;
    node->mValues = reinterpret_cast<ScriptConfigNode::Value*>(block + valuesAt);
    node->mEntries = block + entriesAt;
    node->mEntryNodes = reinterpret_cast<ScriptConfigNode**>(block + nodesAt);
    // Items not reached yet have type 0 and entries no node, so a failure frees what was built.
    for (uint32_t i = 0; i < arrayCount; ++i) {
        const uint8_t* type = _null;
        const uint8_t* value = _null;
        if (!reader.Bytes(type, 1)) {
            FreeNode(node);
            return _null;
        }
        if (*type == kNestedNode) {
            ScriptConfigNode* child = ParseNode(reader, strings, depth + 1);
            if (child == _null) {
                FreeNode(node);
                return _null;
            }
            node->mTypes[i] = kNestedNode;
            node->mValues[i].mNode = child;
        } else {
            if (!reader.Bytes(value, 8)) {
                FreeNode(node);
                return _null;
            }
            node->mTypes[i] = *type;
            std::memcpy(node->mValues[i].mBytes, value, 8);
        }
    }
    for (uint32_t i = 0; i < hashCount; ++i) {
        const uint8_t* entry = _null;
        if (!reader.Bytes(entry, kEntrySize)) {
            FreeNode(node);
            return _null;
        }
        std::memcpy(node->mEntries + size_t(i) * kEntrySize, entry, kEntrySize);
        if (entry[kEntryTypeOffset] == kNestedNode) {
            node->mEntryNodes[i] = ParseNode(reader, strings, depth + 1);
            if (node->mEntryNodes[i] == _null) {
                FreeNode(node);
                return _null;
            }
        }
    }
    return node;
}

// The string table onto the private state's stack: a lookup table at 1 while reading, each new
// string at the next index from 2 (a repeated one keeps its first index), then the userdata
// naming the tree at 1.
bool ReadStrings(BlobReader& reader, lua_State* P, const uint8_t* name, uint32_t nameSize) {
    lua_newtable(P);
    for (;;) {
        uint32_t length = 0;
        const uint8_t* bytes = _null;
        if (!reader.Word(length)) return false;
        if (length == kEndOfStrings) break;
        if (!reader.Bytes(bytes, length)) return false;
        // The stack holds every distinct string: a table beyond the engine's stack limit is
        // refused like any other damaged record.
        if (!lua_checkstack(P, 3)) return false;
        lua_pushlstring(P, reinterpret_cast<const char*>(bytes), length);
        lua_pushvalue(P, -1);
        lua_rawget(P, 1);
        bool known = !lua_isnil(P, -1);
        lua_pop(P, 1);
        if (known) {
            lua_pop(P, 1);
            continue;
        }
        lua_pushvalue(P, -1);
        lua_pushinteger(P, lua_gettop(P) - 1);
        lua_rawset(P, 1);
    }
    char* tag = static_cast<char*>(lua_newuserdata(P, size_t(nameSize) + 1));
    if (nameSize) std::memcpy(tag, name, nameSize);
    tag[nameSize] = 0;
    lua_replace(P, 1);
    lua_gc(P, LUA_GCCOLLECT, 0);
    return true;
}

// Sizes and writes a node as the loader reads it.
uint64_t NodeSize(const ScriptConfigNode* node) {
    uint64_t size = kHeaderSize + uint64_t(node->mHashCount) * kEntrySize;
    for (uint32_t i = 0; i < node->mArrayCount; ++i)
        size += 1 + (node->mTypes[i] == kNestedNode ? NodeSize(node->mValues[i].mNode) : 8);
    for (uint32_t i = 0; i < node->mHashCount; ++i)
        if (node->mEntryNodes[i]) size += NodeSize(node->mEntryNodes[i]);
    return size;
}

uint8_t* PutWord(uint8_t* out, uint32_t value) {
    out[0] = uint8_t(value);
    out[1] = uint8_t(value >> 8);
    out[2] = uint8_t(value >> 16);
    out[3] = uint8_t(value >> 24);
    return out + 4;
}

uint8_t* PutNode(uint8_t* out, const ScriptConfigNode* node) {
    out = PutWord(out, node->mArrayCount);
    out = PutWord(out, node->mHashCount);
    std::memcpy(out, node->mHeaderWords, sizeof node->mHeaderWords);
    out += sizeof node->mHeaderWords;
    for (uint32_t i = 0; i < node->mArrayCount; ++i) {
        *out++ = node->mTypes[i];
        if (node->mTypes[i] == kNestedNode) {
            out = PutNode(out, node->mValues[i].mNode);
        } else {
            std::memcpy(out, node->mValues[i].mBytes, 8);
            out += 8;
        }
    }
    for (uint32_t i = 0; i < node->mHashCount; ++i) {
        std::memcpy(out, node->mEntries + size_t(i) * kEntrySize, kEntrySize);
        out += kEntrySize;
        if (node->mEntryNodes[i]) out = PutNode(out, node->mEntryNodes[i]);
    }
    return out;
}

} // namespace

// A block starting with "LUC1" is never compiled as Lua. Records are loaded while the bytes
// left start with the magic; a record that cannot be read ends the loading, since the next
// one cannot be found without it.
void LuaScriptManager::LoadConfigBlob(const uint8_t* data, uint32_t size) {
    BlobReader reader = {data, size, 0};
    while (reader.Left() >= 4 && std::memcmp(data + reader.mPosition, kMagic, 4) == 0) {
        reader.mPosition += 4;
        uint32_t nameSize = 0;
        const uint8_t* name = _null;
        if (!reader.Word(nameSize) || nameSize > kMaxNameBytes || !reader.Bytes(name, nameSize)) {
            LogFailure(u"[LS] Load config nodes failed");
            return;
        }
        // "_G.%s = __luaconf.box(_G.%s_host)\n" and "%s_host", with the name's bytes as stored.
        static const char kLineStart[] = "_G.";
        static const char kLineMiddle[] = " = __luaconf.box(_G.";
        static const char kLineEnd[] = "_host)\n";
        static const char kHostSuffix[] = "_host";
        char line[8192];
        size_t lineSize = 0;
        auto put = [&](const void* bytes, size_t count) {
            std::memcpy(line + lineSize, bytes, count);
            lineSize += count;
        };
        put(kLineStart, sizeof kLineStart - 1);
        put(name, nameSize);
        put(kLineMiddle, sizeof kLineMiddle - 1);
        put(name, nameSize);
        put(kLineEnd, sizeof kLineEnd - 1);
        char hostKey[2048];
        std::memcpy(hostKey, name, nameSize);
        std::memcpy(hostKey + nameSize, kHostSuffix, sizeof kHostSuffix - 1);
        size_t hostKeySize = nameSize + sizeof kHostSuffix - 1;

        lua_State* P = luaL_newstate();
        bool stop = false;
        if (P == _null) {
            LogFailure(u"[LS] Can't open new lua state");
            stop = true;
        } else {
            ScriptConfigNode* root = _null;
            if (ReadStrings(reader, P, name, nameSize)) root = ParseNode(reader, P, 0);
            lua_State* L = mLuaState;
            int top = lua_gettop(L);
            // Without the configuration library's host table there is nowhere to put the tree.
            bool stored = false;
            if (root && lua_getmetatable(L, LUA_GLOBALSINDEX)) {
                lua_rawgeti(L, -1, kConfigHostsIndex);
                if (lua_istable(L, -1) && mConfigs.Append(root)) {
                    lua_pushlstring(L, hostKey, hostKeySize);
                    lua_pushlightuserdata(L, root);
                    lua_rawset(L, -3);
                    stored = true;
                }
            }
            lua_settop(L, top);
            if (!stored) {
                FreeNode(root);
                lua_close(P);
                LogFailure(u"[LS] Load config nodes failed");
                return;
            }
        }
        lua_State* L = mLuaState;
        int status = LoadScriptText(L, line, lineSize, "");
        if (status == 0) status = ProtectedCall(0);
        if (status != 0) {
            CaptureError();
            ReportError();
        } else {
            mLastError.Clear();
            lua_pop(L, 1);
        }
        if (stop) return;
    }
}

void LuaScriptManager::FreeConfigs() {
    for (ScriptConfigNode* root : mConfigs) {
        lua_State* P = root->mStrings;
        FreeNode(root);
        if (P) lua_close(P);
    }
    mConfigs.Clear();
}

void LuaScriptManager::SaveConfig(ScriptConfigNode* tree, const WideChar* name, const WideChar* path) {
    if (tree == _null) {
        LogFailure(u"[LS] Convert config needs a conf object");
        return;
    }
    if (name == _null) name = u"";
    if (name[0] == u'_' && name[1] == u'G' && name[2] == u'.') name += 3;
    // The length counts the bytes written, so a name outside ASCII reads back whole.
    char* narrow = Utf16ToUtf8(_null, 0, name);
    if (narrow == _null) return;
    uint32_t nameSize = uint32_t(std::strlen(narrow));
    if (nameSize > kMaxNameBytes) {
        // The loader would refuse the record and every record after it.
        std::free(narrow);
        LogFailure(u"[LS] Config name too long for saving: %u bytes", nameSize);
        return;
    }

    lua_State* P = tree->mStrings;
    int strings = P ? lua_gettop(P) : 0;
    uint64_t size = 4 + 4 + uint64_t(nameSize) + 4 + NodeSize(tree);
    for (int i = 2; i <= strings; ++i) size += 4 + lua_objlen(P, i);
    Buffer record;
    if (size > UINT32_MAX || !record.Allocate(uint32_t(size))) {
        std::free(narrow);
        LogFailure(u"[LS] Can't write config to file");
        return;
    }
    uint8_t* out = record.GetData();
    std::memcpy(out, kMagic, 4);
    out = PutWord(out + 4, nameSize);
    std::memcpy(out, narrow, nameSize);
    out += nameSize;
    std::free(narrow);
    for (int i = 2; i <= strings; ++i) {
        size_t length = 0;
        const char* text = lua_tolstring(P, i, &length);
        out = PutWord(out, uint32_t(length));
        if (length) std::memcpy(out, text, length);
        out += length;
    }
    out = PutWord(out, kEndOfStrings);
    PutNode(out, tree);

    File file;
    if (!FileExists(path)) {
        if (!file.CreateForWriting(path)) {
            LogFailure(u"[LS] Can't create file for saving config");
            return;
        }
    } else if (!file.OpenForUpdate(path) || !file.SeekToEnd()) {
        LogFailure(u"[LS] Can't open file for saving config");
        return;
    }
    // Written whole or not at all: a record cut short would hide every record after it.
    int64_t end = file.Tell();
    if (!file.Write(record.GetData(), record.GetSize())) {
        file.SetSize(end);
        LogFailure(u"[LS] Can't write config to file");
    }
    file.Close();
}

} // namespace Vexal
