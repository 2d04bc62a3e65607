// The game module check: a PE32 i386 DLL (the Windows library) by its headers, exports and the
// DLLs it imports; an ELF file by its kind, its entry points, and a search for each needed
// library in the order the dynamic loader searches (the module's RPATH when it has no RUNPATH,
// LD_LIBRARY_PATH, its RUNPATH, the ld.so cache, the system folders).
#include "tools/pack/ModuleCheck.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "tools/pack/ElfFile.h"
#include "tools/pack/PeFile.h"

namespace {

const char* const kRequiredEntryPoints[] = {"_VobCreate", "_VobDelete", "_VobUpdate",
                                            "_VobRender", "_VobMessage", "_VobProgress"};
const char* const kSystemFolders[] = {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib", "/usr/lib"};
const char* const kLoaderCache = "/etc/ld.so.cache";
// The expansion of $LIB and $PLATFORM by Debian's dynamic loader on x86-64.
const char* const kLibToken = "lib/x86_64-linux-gnu";
const char* const kPlatformToken = "x86_64";

// Folders in a path with "." and ".." applied; a relative path stays relative ("" for the
// folder itself). A ".." above a relative path's start is kept.
std::string Normal(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else if (path[0] != '/') parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    std::string out = path[0] == '/' ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
    return out;
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The ld.so cache: soname to path for the x86-64 libraries it lists. Empty when it cannot be
// read. Its layout: "glibc-ld.so.cache" "1.1", the entry count, the string table's size, then
// entries of flags, name and path offsets (from the start of that header), and further fields.
std::multimap<std::string, std::string> ReadLoaderCache() {
    std::multimap<std::string, std::string> found;
    std::ifstream file(kLoaderCache, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const char kMagic[] = "glibc-ld.so.cache1.1";
    size_t start = bytes.find(kMagic);
    if (start == std::string::npos || bytes.size() - start < 48) return found;
    auto u32 = [&](size_t at) {
        uint32_t value;
        std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    const uint32_t count = u32(start + 20);
    constexpr uint32_t kEntrySize = 24, kElfLibc6 = 0x0003, kX8664 = 0x0300;
    for (uint32_t i = 0; i < count; ++i) {
        size_t entry = start + 48 + size_t(i) * kEntrySize;
        if (entry + kEntrySize > bytes.size()) break;
        uint32_t flags = u32(entry), name = u32(entry + 4), path = u32(entry + 8);
        if ((flags & 0xFF) != kElfLibc6 || (flags & 0xFF00) != kX8664) continue;
        if (start + name >= bytes.size() || start + path >= bytes.size()) continue;
        found.emplace(bytes.c_str() + start + name, bytes.c_str() + start + path);
    }
    return found;
}

// True when the file exists and is an ELF file the dynamic loader would take for this machine
// (it skips others and searches on).
bool LoadableHere(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::ifstream file(path, std::ios::binary);
    uint8_t header[64] = {};
    file.read(reinterpret_cast<char*>(header), sizeof header);
    ElfSummary summary;
    std::string error;
    ReadElfSummary(header, size_t(file.gcount()), summary, error);
    return summary.mClass == 2 && summary.mEncoding == 1 && summary.mMachine == kElfMachineX86_64;
}

class LibrarySearch {
public:
    LibrarySearch(const ModulePlace& place) : mPlace(place) {
        mModuleFolder = FolderOf(Normal(place.mName));
        for (const std::string& name : place.mPackageFiles) mPackageFiles.push_back(Normal(name));
    }

    // Where the library of that name would be found: a path, "in the package", or "" when
    // nowhere. tried receives the places searched, for the report.
    std::string Find(const std::string& name, const ElfSummary& module, std::string& tried) {
        tried.clear();
        if (name.find('/') != std::string::npos) {
            // Taken as a path from the host's current directory, the cache folder.
            return Candidate(name[0] == '/' ? std::string() : "", name, "the path itself", tried);
        }
        if (module.mRunPath.empty())
            for (const std::string& folder : module.mRPath)
                if (std::string at = InFolder(folder, name, "RPATH", tried); !at.empty()) return at;
        if (const char* variable = getenv("LD_LIBRARY_PATH"); variable != nullptr) {
            std::string list = variable;
            for (size_t start = 0; start <= list.size();) {
                size_t end = list.find_first_of(":;", start);
                std::string folder = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
                // An empty item is the current directory, the cache folder.
                if (std::string at = InFolder(folder.empty() ? "." : folder, name, "LD_LIBRARY_PATH", tried);
                    !at.empty())
                    return at;
                if (end == std::string::npos) break;
                start = end + 1;
            }
        }
        for (const std::string& folder : module.mRunPath)
            if (std::string at = InFolder(folder, name, "RUNPATH", tried); !at.empty()) return at;
        if (!mCacheRead) {
            mCache = ReadLoaderCache();
            mCacheRead = true;
        }
        auto range = mCache.equal_range(name);
        for (auto it = range.first; it != range.second; ++it)
            if (LoadableHere(it->second)) return it->second;
        tried += std::string(tried.empty() ? "" : ", ") + "the ld.so cache";
        for (const char* folder : kSystemFolders)
            if (std::string at = InFolder(folder, name, "", tried); !at.empty()) return at;
        return std::string();
    }

private:
    // One folder of a search list, its tokens expanded.
    std::string InFolder(std::string folder, const std::string& name, const char* list, std::string& tried) {
        bool fromOrigin = false;
        for (const char* token : {"${ORIGIN}", "$ORIGIN"}) {
            if (folder.rfind(token, 0) != 0) continue;
            // Relative to the module's own folder inside the cache folder.
            std::string rest = folder.substr(strlen(token));
            if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
            folder = Join(mModuleFolder, rest);
            fromOrigin = true;
            break;
        }
        for (auto [token, value] : {std::pair{"$LIB", kLibToken}, {"${LIB}", kLibToken}, {"$PLATFORM", kPlatformToken}, {"${PLATFORM}", kPlatformToken}}) {
            for (size_t at = folder.find(token); at != std::string::npos; at = folder.find(token))
                folder.replace(at, strlen(token), value);
        }
        std::string label = *list ? std::string(list) + " " : std::string();
        bool relative = fromOrigin || folder.empty() || folder[0] != '/';
        return Candidate(relative ? "" : folder, relative ? Join(folder, name) : name,
                         label + (fromOrigin ? "$ORIGIN" : folder), tried);
    }

    // A file relative to the cache folder (folder empty and name relative) or in an absolute
    // folder.
    std::string Candidate(const std::string& folder, const std::string& name, const std::string& label,
                          std::string& tried) {
        tried += (tried.empty() ? "" : ", ") + label;
        if (!folder.empty() || name[0] == '/') {
            std::string path = Normal(Join(folder, name));
            return LoadableHere(path) ? path : std::string();
        }
        std::string inCache = Normal(name);
        for (const std::string& file : mPackageFiles)
            if (file == inCache) return "in the package (" + file + ")";
        if (mPlace.mFolder.empty()) return std::string();
        std::string path = Join(mPlace.mFolder, inCache);
        return LoadableHere(path) ? path : std::string();
    }

    const ModulePlace& mPlace;
    std::string mModuleFolder;
    std::vector<std::string> mPackageFiles;
    bool mCacheRead = false;
    std::multimap<std::string, std::string> mCache;
};

// DLLs that every Windows the library runs on has (compared without regard to case); a module
// may need them without shipping them. The "api-ms-win-" sets are the system's too.
const char* const kWindowsDlls[] = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "msvcrt.dll", "ws2_32.dll", "wsock32.dll",
    "winmm.dll", "version.dll", "crypt32.dll", "bcrypt.dll", "iphlpapi.dll", "imm32.dll", "setupapi.dll",
    "wininet.dll", "winhttp.dll", "opengl32.dll", "glu32.dll", "d3d9.dll", "d3d11.dll", "dxgi.dll", "ddraw.dll",
    "dsound.dll", "dinput8.dll", "xinput1_3.dll", "ntdll.dll", "psapi.dll", "dbghelp.dll", "secur32.dll",
    "usp10.dll", "msimg32.dll", "uxtheme.dll", "dwmapi.dll", "rpcrt4.dll", "mpr.dll", "netapi32.dll", "userenv.dll"};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

bool IsWindowsDll(const std::string& name) {
    const std::string lower = Lower(name);
    if (lower.rfind("api-ms-win-", 0) == 0 || lower.rfind("ext-ms-win-", 0) == 0) return true;
    for (const char* known : kWindowsDlls)
        if (lower == known) return true;
    return false;
}

std::string Listed(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

std::vector<std::string> MissingEntryPoints(const std::set<std::string>& exports) {
    std::vector<std::string> missing;
    for (const char* name : kRequiredEntryPoints)
        if (exports.count(name) == 0) missing.push_back(name);
    return missing;
}

// The Windows library loads a 32-bit DLL with LoadLibrary from the cache folder: the DLLs it
// imports are found beside it (the package's other files) or among the system's.
std::vector<std::string> CheckWindowsModule(const uint8_t* data, size_t size, const ModulePlace& place) {
    std::vector<std::string> findings;
    PeSummary summary;
    std::string error;
    bool read = ReadPeSummary(data, size, summary, error);
    if (!read && summary.mMachine == 0) {
        findings.push_back("is " + error);
        return findings;
    }
    if (summary.mMachine != kPeMachineI386)
        findings.push_back("is built for machine 0x" + [&] {
            char hex[8];
            snprintf(hex, sizeof hex, "%04X", unsigned(summary.mMachine));
            return std::string(hex);
        }() + ", not for 32-bit x86 (i386): the Windows library loads 32-bit DLLs only");
    else if (read && summary.mMagic != 0x10B) findings.push_back("is not a PE32 file: the Windows library loads 32-bit DLLs only");
    if (read && !summary.mIsDll) findings.push_back("is a Windows program, not a DLL: link it with -shared");
    if (!findings.empty()) return findings;
    if (!read) {
        findings.push_back("is " + error);
        return findings;
    }
    std::vector<std::string> missing = MissingEntryPoints(summary.mExports);
    if (!missing.empty())
        findings.push_back("does not export the required entry points " + Listed(missing) +
                           " (exported by these names, cdecl, for example through a module-definition file)");
    for (const std::string& name : summary.mNeeded) {
        if (IsWindowsDll(name)) continue;
        bool inPackage = false;
        for (const std::string& file : place.mPackageFiles)
            if (Lower(Normal(file)) == Lower(Join(FolderOf(Normal(place.mName)), name))) inPackage = true;
        if (!inPackage)
            findings.push_back("needs " + name + ", which is neither in the package beside it nor a DLL of Windows");
    }
    return findings;
}

} // namespace

std::vector<std::string> CheckGameModule(const uint8_t* data, size_t size, const ModulePlace& place) {
    if (LooksLikePe(data, size)) return CheckWindowsModule(data, size, place);
    std::vector<std::string> findings;
    ElfSummary summary;
    std::string error;
    bool read = ReadElfSummary(data, size, summary, error);
    if (!read && summary.mClass == 0) {
        findings.push_back("is " + error);
        return findings;
    }
    if (summary.mClass != 2) findings.push_back("is a 32-bit ELF file: the loader loads 64-bit x86-64 libraries only");
    else if (summary.mEncoding != 1) findings.push_back("is a big-endian ELF file: the loader runs on little-endian x86-64");
    if (summary.mMachine != kElfMachineX86_64)
        findings.push_back("is built for " + ElfMachineName(summary.mMachine) + ", not for x86-64");
    if (summary.mType != kElfTypeShared) {
        const char* kind = summary.mType == 1 ? "an object file" : summary.mType == 2 ? "an executable"
                                                                                      : "an ELF file";
        findings.push_back(std::string("is ") + kind + " (type " + std::to_string(summary.mType) +
                           "), not a shared library: link it with -shared");
    }
    if (!findings.empty()) return findings;
    if (!read) {
        findings.push_back("is damaged: " + error);
        return findings;
    }
    if (!summary.mHasDynamic) {
        findings.push_back("has no dynamic section, so it exports nothing");
        return findings;
    }
    std::string notFunctions;
    std::set<std::string> exported;
    for (const auto& [name, function] : summary.mExports) exported.insert(name);
    for (const char* name : kRequiredEntryPoints) {
        auto it = summary.mExports.find(name);
        if (it != summary.mExports.end() && !it->second) notFunctions += std::string(notFunctions.empty() ? "" : ", ") + name;
    }
    std::vector<std::string> missing = MissingEntryPoints(exported);
    if (!missing.empty())
        findings.push_back("does not export the required entry points " + Listed(missing) +
                           " (exported with C linkage and default visibility)");
    if (!notFunctions.empty()) findings.push_back("exports " + notFunctions + ", but not as functions");

    LibrarySearch search(place);
    for (const std::string& name : summary.mNeeded) {
        std::string tried;
        if (search.Find(name, summary, tried).empty())
            findings.push_back("needs " + name + ", which the dynamic loader finds nowhere on this machine (searched " +
                               tried + ")");
    }
    return findings;
}
