// Test harness for the loader core: a loader with its fields in view, a trace capture, a test
// HTTP server serving packages built in the test, and a private current directory per test.
#pragma once

#include <gtest/gtest.h>
#include <functional>
#include <mutex>
#include <string>
#include <vector>
#include "Source/Common/PackageBuilder.h"
#include "Source/Common/PackageSignature.h"
#include "loader/Loader.h"
#include "support/HttpTestServer.h"
#include "support/ScratchFolder.h"

class TraceCapture {
public:
    TraceCapture();
    // Routes both channels to the capture alive at the moment, if any.
    static void Reinstall();
    ~TraceCapture();
    std::vector<std::string> Lines() const;
    // How many lines contain the text.
    int Count(const std::string& text) const;
    bool Contains(const std::string& text) const { return Count(text) > 0; }
    void Clear();

private:
    static void Sink(const WideChar* text, void* context, uint8_t endLine);
    mutable std::mutex mLock;
    std::vector<std::string> mLines;
    static TraceCapture* sCurrent;
};

// The loader core with a loading screen that only counts its releases, and every field public.
class TestLoader : public Vexal3DLoader {
public:
    // The loader routes the log channels when it is made; the live capture takes them back.
    explicit TestLoader(uint32_t runMode = 0) : Vexal3DLoader(0, runMode) { TraceCapture::Reinstall(); }
    ~TestLoader() override { ReleaseLoadingScreen(); }
    void ReleaseLoadingScreen() override { ++mReleaseCalls; }
    // Setup as the host calls it, with narrow texts.
    void Set(const std::string& name, const std::string& value);

    int mReleaseCalls = 0;

    using Vexal3DLoader::mAppVersion;
    using Vexal3DLoader::mCdnHost;
    using Vexal3DLoader::mCdnIps;
    using Vexal3DLoader::mClientVersion;
    using Vexal3DLoader::mDelay;
    using Vexal3DLoader::mDownload;
    using Vexal3DLoader::mDownloadProgress;
    using Vexal3DLoader::mErrorUrl;
    using Vexal3DLoader::mFinishCount;
    using Vexal3DLoader::mFinishSize;
    using Vexal3DLoader::mFlashVersion;
    using Vexal3DLoader::mHeader;
    using Vexal3DLoader::mHeaderBuffer;
    using Vexal3DLoader::mHeaderTimeout;
    using Vexal3DLoader::mLastAttemptTime;
    using Vexal3DLoader::mModule;
    using Vexal3DLoader::mModuleCopyPath;
    using Vexal3DLoader::mModuleFileName;
    using Vexal3DLoader::mModuleIndex;
    using Vexal3DLoader::mModuleParams;
    using Vexal3DLoader::mPackageHandle;
    using Vexal3DLoader::mPackageUrls;
    using Vexal3DLoader::mPingHandle;
    using Vexal3DLoader::mProgress;
    using Vexal3DLoader::mReportUrl;
    using Vexal3DLoader::mResCount;
    using Vexal3DLoader::mResSize;
    using Vexal3DLoader::mRunId;
    using Vexal3DLoader::mSpeed;
    using Vexal3DLoader::mState;
    using Vexal3DLoader::mTickElapsed;
    using Vexal3DLoader::mTickInterval;
    using Vexal3DLoader::mTickMark;
    using Vexal3DLoader::mTickUrl;
    using Vexal3DLoader::mUrlIndex;
};

// Captures the trace and error channels while alive (any thread may write).
// The user's profile folder as the engine finds it (a private folder for the tests).
std::string ProfileFolder();
// The recording module libraries built beside the tests.
std::string RecordingModuleBytes(const std::string& variant = "recording_full");

// One package module for MakePackage.
struct TestModule {
    std::string name;
    std::string content;
    PackMethod method = kPackZlib;
    bool plain = false;
    bool entryOnly = false; // an entry without a block ("@..." or empty names)
};

// A package of the given modules (version 2 unless told), with cache name "testgame". adjust
// may change the finished header, which is then written over the package's start.
std::string MakePackage(const std::vector<TestModule>& modules, uint32_t version = 2,
                        PackageHeader* header = nullptr,
                        const std::function<void(PackageBuilder&)>& adjust = nullptr);

// A publisher's signing key, and its public half in base64 as "voakey" takes it.
struct Publisher {
    Publisher();
    Ed25519SecretKey mKey;
    std::string mPublic;
};

// A package and the unpacked contents of its entries, by entry index.
struct Release {
    std::string mPackage;
    std::vector<std::string> mContents;
};

// The signature file of a release as the package tool writes it (no expiry unless told).
std::string Sign(const Release& release, uint32_t number, const Ed25519SecretKey& key, int64_t expires = 0);

// The release record of the test game "testgame" in the profile folder.
std::string ReleaseFile();

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Updates the loader with elapsedMs (sleeping 1 ms between calls) until done() holds or
    // timeoutMs of real time passed; returns done().
    bool Pump(TestLoader& loader, const std::function<bool()>& done, int timeoutMs = 10000,
              uint32_t elapsedMs = 16);
    // The module journal lines written so far in the current directory.
    std::vector<std::string> Journal() const;
    int JournalCount(const std::string& prefix) const;
    // A package of the full recording module plus the given data modules, served at /pkg.
    std::string ServeGamePackage(const std::vector<TestModule>& extra = {}, uint32_t version = 2);
    std::string Url(const std::string& path) const { return mServer.Url(path); }
    std::string Here(const std::string& name) const { return mFolder.Native(name); }
    // The texts of the requests of a path, in order.
    std::vector<std::string> Targets(const std::string& path) const;

    ScratchFolder mFolder;
    HttpTestServer mServer;
    TraceCapture mTrace;
    std::string mPreviousDirectory;
};
