// vexal-screen: shows a loading-screen script the way the loader shows it, in a real loader
// object's GDI screen, with the progress figures driven from the command line; the script's
// errors, slow calls, call profile and allocations go to the console. Only the author's script
// runs, so nothing of the default screen shows in the picture or the profile.
#include <dirent.h>
#include <lua.hpp>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HostWindow.h"
#include "PreviewOptions.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/Resource.h"
#include "Source/Script/IScriptManager.h"
#include "Source/Script/LuaScriptManager.h"
#include "screens/ScreenAsset.h"
#include "screens/ScreenTexts.h"
#include "screens/Vexal3DLoader_Flash.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

constexpr int64_t kFrameNs = 16666667; // about 60 frames a second
constexpr uint32_t kWmClose = 0x0010;
// The simulated run: eight module files of 64 MiB in all, then a game module loading eight
// resources of the same size.
constexpr int32_t kModules = 8;
constexpr double kPackageBytes = 64.0 * 1024 * 1024;

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The loader the host would get, with the figures its screen reads set by the tool. Its screen
// starts with _gdi published and no script run: the tool runs the author's.
class PreviewLoader : public Vexal3DLoader_Flash {
public:
    explicit PreviewLoader(VexalWindow window) : Vexal3DLoader_Flash(window, 0, false) {}
    // progress 0..1; speed in kB/s (0 once everything is there). The counters are those of a
    // real run at that progress: nothing before the header is accepted (0.1), then the loader's
    // own download (one resource, none finished, the whole module files fetched so far), then
    // the game module's own resources from 0.4 on.
    void SetFigures(double progress, double speed) {
        mProgress = float(progress);
        mSpeed = float(speed);
        if (progress < kHeaderEnd) {
            mResCount = mFinishCount = mResSize = mFinishSize = 0;
        } else if (progress < kDownloadEnd) {
            const double fetched = (progress - kHeaderEnd) / (kDownloadEnd - kHeaderEnd);
            mResCount = 1;
            mFinishCount = 0;
            mResSize = int32_t(kPackageBytes);
            mFinishSize = int32_t(std::floor(fetched * kModules) * (kPackageBytes / kModules));
        } else {
            const double loaded = (progress - kDownloadEnd) / (1.0 - kDownloadEnd);
            mResCount = kModules;
            mFinishCount = int32_t(loaded * kModules);
            mResSize = int32_t(kPackageBytes);
            mFinishSize = int32_t(loaded * kPackageBytes);
        }
    }

private:
    static constexpr double kHeaderEnd = 0.1, kDownloadEnd = 0.4;
};

// The lines of the loader and the script runtime themselves (the runtime starting, the loader's
// update timing when it is deleted) say nothing about the author's script: while they are
// written, the log goes nowhere.
void DiscardLogLine(const WideChar*, void*, uint8_t) {}

void SendLogToConsole(bool console) {
    if (console)
        SetLogSinks(ConsoleLogSink, nullptr, ConsoleLogSink, nullptr);
    else
        SetLogSinks(DiscardLogLine, nullptr, DiscardLogLine, nullptr);
}

// Every script error the manager captures, in the first run or in a render pass.
int gScriptErrors = 0;
int32_t CountScriptError(intptr_t) {
    ++gScriptErrors;
    return 0;
}

// Runs before the author's script and keeps the function it hands to onRender in the registry,
// so that the profile can name it: a function called from native code has no name of its own.
const WideChar kPreludeName[] = u"(vexal-screen)";
const WideChar kPrelude[] =
    u"local onRender, registry = _gdi.onRender, debug.getregistry()\n"
    u"_gdi.onRender = function(self, render) registry.vexalScreenRender = render return onRender(self, render) end\n";
const char kRenderKey[] = "vexalScreenRender";

// The files of an assets folder, kept for the life of the program and looked up before the
// embedded ones, as a library built with them embeds them.
struct AssetFolder {
    std::vector<std::string> mNames;
    std::vector<std::string> mBytes;
    std::vector<EmbeddedResource> mEntries;
    EmbeddedResourceTable mTable = {nullptr, 0, nullptr};
};

// Reads the folder's files (subfolders too, named "sub/file") up to a sane amount.
bool ReadAssetFolder(const std::string& folder, const std::string& prefix, AssetFolder& assets, size_t& total) {
    constexpr size_t kMaximumFiles = 4096, kMaximumBytes = size_t(512) << 20;
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) return false;
    bool ok = true;
    while (dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + name;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            ok = ReadAssetFolder(path, prefix + name + "/", assets, total) && ok;
        } else if (S_ISREG(info.st_mode)) {
            std::ifstream file(path, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            total += bytes.size();
            if (assets.mNames.size() >= kMaximumFiles || total > kMaximumBytes) {
                ok = false;
                break;
            }
            assets.mNames.push_back(prefix + name);
            assets.mBytes.push_back(std::move(bytes));
        }
    }
    closedir(directory);
    return ok;
}

bool RegisterAssetFolder(const std::string& folder, AssetFolder& assets) {
    size_t total = 0;
    if (!ReadAssetFolder(folder, "", assets, total)) return false;
    for (size_t i = 0; i < assets.mNames.size(); ++i)
        assets.mEntries.push_back(EmbeddedResource{assets.mNames[i].c_str(),
                                                   reinterpret_cast<const uint8_t*>(assets.mBytes[i].data()),
                                                   uint32_t(assets.mBytes[i].size())});
    assets.mTable.entries = assets.mEntries.data();
    assets.mTable.count = uint32_t(assets.mEntries.size());
    RegisterEmbeddedResources(&assets.mTable, true);
    return true;
}

// The profile tables, printed by the tool itself: the same lines as the script manager's dump,
// with a row for the render function and its other unnamed functions, "(Unknown)" for a function
// without a source in both tables, and nothing of the tool's own prelude.
struct ProfileRow {
    std::string mKind, mName, mWhere;
    uint32_t mCalls;
    double mTotal;
};

struct ProfileVisit {
    const void* mRenderFunction;
    std::vector<ProfileRow> mRows;
};

std::string Narrow(const String& text) {
    char* narrow = Utf16ToUtf8(nullptr, 0, text.Data());
    std::string out = narrow ? narrow : "";
    std::free(narrow);
    return out;
}

void CollectProfileRow(const Vexal::ScriptProfileRecord& record, double totalMs, void* context) {
    ProfileVisit& visit = *static_cast<ProfileVisit*>(context);
    if (record.mCalls == 0 || String(record.mSource).Find(kPreludeName, true) >= 0) return;
    ProfileRow row{record.mCFunc ? "C" : "Lua", Narrow(record.mName), "(Unknown)", record.mCalls, totalMs};
    if (!record.mSource.IsEmpty()) row.mWhere = std::string("(") + Narrow(record.mSource) + ":" + std::to_string(record.mLine) + ")";
    if (!record.mCFunc && record.mKey == visit.mRenderFunction) row.mName = "(render function)";
    else if (row.mName.empty()) row.mName = record.mLine == 0 ? "(main chunk)" : "(anonymous function)";
    visit.mRows.push_back(row);
}

void PrintProfile(Vexal::IScriptManager* manager) {
    constexpr size_t kLines = 100;
    auto* lua = static_cast<Vexal::LuaScriptManager*>(manager);
    ProfileVisit visit{nullptr, {}};
    if (lua_State* L = manager->GetLuaState()) {
        lua_getfield(L, LUA_REGISTRYINDEX, kRenderKey);
        if (lua_isfunction(L, -1)) visit.mRenderFunction = lua_topointer(L, -1);
        lua_pop(L, 1);
    }
    lua->VisitProfileRecords(&CollectProfileRow, &visit);
    std::vector<ProfileRow> byTotal = visit.mRows, byAverage = visit.mRows;
    std::stable_sort(byTotal.begin(), byTotal.end(), [](const ProfileRow& a, const ProfileRow& b) { return a.mTotal > b.mTotal; });
    std::stable_sort(byAverage.begin(), byAverage.end(), [](const ProfileRow& a, const ProfileRow& b) {
        return a.mTotal / a.mCalls > b.mTotal / b.mCalls;
    });
    std::printf("[LS] Dump lua profile Begin\n\n[LS] Order by total call cost (ms)\n");
    for (size_t i = 0; i < byTotal.size() && i < kLines; ++i) {
        const ProfileRow& row = byTotal[i];
        std::printf("  [%s], %s, %s, called %u time(s), total call cost %3.2f ms, avg %3.2f ms\n", row.mKind.c_str(),
                    row.mName.c_str(), row.mWhere.c_str(), row.mCalls, row.mTotal, row.mTotal / row.mCalls);
    }
    if (byTotal.size() > kLines) std::printf("  %zu more ...\n", byTotal.size() - kLines);
    std::printf("\n[LS] Order by avg call cost (ms)\n");
    for (size_t i = 0; i < byAverage.size() && i < kLines; ++i) {
        const ProfileRow& row = byAverage[i];
        std::printf("  [%s], %s, %s, called %u time(s), avg call cost %3.2f ms\n", row.mKind.c_str(),
                    row.mName.c_str(), row.mWhere.c_str(), row.mCalls, row.mTotal / row.mCalls);
    }
    if (byAverage.size() > kLines) std::printf("  %zu more ...\n", byAverage.size() - kLines);
    std::printf("\n[LS] Dump lua profile finished\n");
    std::fflush(stdout);
    // The manager would dump its own tables when it is deleted with the profiler on.
    manager->EnableProfiler(false);
}

bool ReadScript(const std::string& path, Buffer& script) {
    WideChar* wide = Utf8ToUtf16(nullptr, 0, path.c_str());
    if (wide == nullptr) return false;
    bool read = ReadFileToBuffer(script, wide) && script.GetSize() > 0;
    std::free(wide);
    if (!read) return false;
    // Messages name the script by its file name, as the loader names its own.
    size_t slash = path.find_last_of('/');
    WideChar* name = Utf8ToUtf16(nullptr, 0, path.c_str() + (slash == std::string::npos ? 0 : slash + 1));
    script.SetName(name ? name : u"script");
    std::free(name);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    PreviewOptions options;
    std::string message;
    bool help = false;
    if (!ParsePreviewOptions(argc - 1, argv + 1, options, message, help)) {
        std::fputs(message.c_str(), help ? stdout : stderr);
        if (!help) std::fputc('\n', stderr);
        return help ? 0 : 2;
    }
    // The assets folder comes first, as in a library built with it.
    static AssetFolder assets;
    if (!options.mAssets.empty() && !RegisterAssetFolder(options.mAssets, assets)) {
        std::fprintf(stderr, "vexal-screen: cannot read the assets folder %s\n", options.mAssets.c_str());
        return 1;
    }
    Buffer script;
    if (!options.mScript.empty() && !ReadScript(options.mScript, script)) {
        std::fprintf(stderr, "vexal-screen: cannot read %s\n", options.mScript.c_str());
        return 1;
    }
    // Without a script of its own, the screen a library built with the folder would run.
    if (options.mScript.empty() && !ReadScreenAsset(ScreenText::kScript, script)) {
        std::fprintf(stderr, "vexal-screen: no loading-gdi.lua to run\n");
        return 1;
    }

    // What the author's script causes goes to the console (the loader routes its log there too
    // when it is created); nothing before it runs.
    setenv("[VEXAL-DEBUG]", "YES", 1);
    SendLogToConsole(false);

    HostWindow window;
    std::string error;
    std::string title = "vexal-screen: " + (options.mScript.empty() ? options.mAssets : options.mScript);
    if (!window.Open(options.mWidth, options.mHeight, title.c_str(), error)) {
        std::fprintf(stderr, "vexal-screen: %s (without a display, run it under Xvfb: xvfb-run vexal-screen ...)\n",
                     error.c_str());
        return 1;
    }

    // The profiler and the allocation observer start before the loader registers its class, so
    // both are measured from the first call.
    Vexal::IScriptManager* manager = Vexal::GetScriptManager();
    if (manager == nullptr) {
        std::fprintf(stderr, "vexal-screen: the script runtime could not start\n");
        return 1;
    }
    manager->SetErrorCallback(&CountScriptError);
    if (options.mProfile || options.mSlowMs > 0) manager->EnableProfiler(true);
    if (options.mSlowMs > 0) manager->SetCostThreshold(options.mSlowMs);
    if (options.mAllocMinimum > 0) manager->TrackAllocations(options.mAllocMinimum);

    int status = 0;
    {
        PreviewLoader loader(window.Handle());
        if (loader.GetGdiRenderer() == nullptr) {
            std::fprintf(stderr, "vexal-screen: the loader did not choose the script-drawn screen\n");
            return 1;
        }
        double startProgress = options.mSeconds > 0 ? 0.0 : options.mProgress;
        // kB/s: the package over the given seconds, or a steady 1 MiB/s at a fixed progress.
        double speed = options.mSeconds > 0 ? kPackageBytes / 1024.0 / options.mSeconds : 1024.0;
        loader.SetFigures(startProgress, startProgress < 1 ? speed : 0.0);
        // The author's script is the only one: no default screen draws first.
        SendLogToConsole(true);
        manager->RunString(nullptr, kPrelude, kPreludeName, 0);
        manager->RunBuffer(nullptr, &script, 0);

        double endAt = options.mSeconds;
        bool shotPending = !options.mScreenshot.empty();
        if (shotPending) endAt = std::max(endAt, options.mScreenshotAt);
        bool runsUntilClosed = options.mSeconds <= 0 && !shotPending;

        int64_t start = NowNanoseconds();
        int64_t lastUpdate = start;
        int64_t nextFrame = start;
        std::vector<HostMessage> messages;
        for (;;) {
            messages.clear();
            window.Pump(messages);
            bool closed = window.IsClosed();
            for (const HostMessage& m : messages) {
                if (m.mId == kWmClose) closed = true;
                loader.Message(MessageRecord{m.mId, m.mWParam, m.mLParam});
            }
            if (closed) break;

            int64_t now = NowNanoseconds();
            if (now >= nextFrame) {
                double seconds = double(now - start) / 1e9;
                double progress = options.mSeconds > 0 ? std::min(seconds / options.mSeconds, 1.0) : options.mProgress;
                uint32_t elapsed = uint32_t(std::min<int64_t>((now - lastUpdate) / 1000000, 0xFFFFFFFF));
                lastUpdate += int64_t(elapsed) * 1000000;
                loader.Update(elapsed);
                loader.SetFigures(progress, progress < 1 ? speed : 0.0);
                loader.Render();
                nextFrame = std::max(nextFrame + kFrameNs, now);
                if (shotPending && seconds >= options.mScreenshotAt) {
                    shotPending = false;
                    if (!window.Screenshot(options.mScreenshot, error)) {
                        std::fprintf(stderr, "vexal-screen: screenshot: %s\n", error.c_str());
                        status = 1;
                    } else {
                        std::printf("vexal-screen: wrote %s at %.2f s\n", options.mScreenshot.c_str(), seconds);
                    }
                }
                if (!runsUntilClosed && !shotPending && seconds >= endAt) break;
            }
            int64_t wait = std::max<int64_t>(0, (nextFrame - NowNanoseconds()) / 1000000);
            pollfd descriptor = {window.ConnectionFd(), POLLIN, 0};
            if (descriptor.fd >= 0) poll(&descriptor, 1, int(std::min<int64_t>(wait, 100)));
        }
        if (options.mAllocMinimum > 0) manager->TrackAllocations(0);
        if (options.mProfile) PrintProfile(manager);
        else manager->EnableProfiler(false);
        SendLogToConsole(false);
    }
    std::fflush(stdout);
    window.Close();
    // A script that fails must fail the run, so that a check of it in a build fails too.
    if (gScriptErrors > 0) {
        std::fprintf(stderr, "vexal-screen: %d script error(s)\n", gScriptErrors);
        status = 1;
    }
    return status;
}
