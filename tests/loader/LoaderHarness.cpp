// Test harness for the loader core.
#include "LoaderHarness.h"
#include "Source/Platform/WebDownload.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>
#include "Source/Common/Base64.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "support/TestEnvironment.h"

namespace {

// The game's data file lives under the profile folder: point it at a private folder before any
// thread starts (libcurl reads the environment on its workers).
class ProfileEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        mHome = std::make_unique<ScratchFolder>();
        if (mHome->IsValid())
            SetTestEnvironment(kProfileVariable, mHome->Native().c_str());
    }
    void TearDown() override { mHome.reset(); }
    std::unique_ptr<ScratchFolder> mHome;
};

[[maybe_unused]] ::testing::Environment* const gProfile =
    ::testing::AddGlobalTestEnvironment(new ProfileEnvironment);

} // namespace

void TestLoader::Set(const std::string& name, const std::string& value) {
    Setup(WideText(name), WideText(value));
}

TraceCapture* TraceCapture::sCurrent = nullptr;

TraceCapture::TraceCapture() {
    sCurrent = this;
    Reinstall();
}

TraceCapture::~TraceCapture() {
    sCurrent = nullptr;
    SetLogSinks(nullptr, nullptr, nullptr, nullptr);
}

void TraceCapture::Reinstall() {
    if (sCurrent != nullptr)
        SetLogSinks(&TraceCapture::Sink, sCurrent, &TraceCapture::Sink, sCurrent);
}

void TraceCapture::Sink(const WideChar* text, void* context, uint8_t endLine) {
    // The time stamp arrives as a piece of its own without a line end.
    if (endLine == 0)
        return;
    TraceCapture* capture = static_cast<TraceCapture*>(context);
    std::lock_guard<std::mutex> lock(capture->mLock);
    capture->mLines.push_back(NarrowText(text));
}

std::vector<std::string> TraceCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mLock);
    return mLines;
}

int TraceCapture::Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mLock);
    int count = 0;
    for (const std::string& line : mLines)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

void TraceCapture::Clear() {
    std::lock_guard<std::mutex> lock(mLock);
    mLines.clear();
}

std::string RecordingModuleBytes(const std::string& variant) {
    return ReadNativeFile(std::string(VEXAL_TEST_MODULE_DIR) + "/" + variant + VEXAL_TEST_MODULE_SUFFIX);
}

std::string ProfileFolder() {
    return NarrowText(UserProfileFolder());
}

std::string MakePackage(const std::vector<TestModule>& modules, uint32_t version,
                        PackageHeader* header, const std::function<void(PackageBuilder&)>& adjust) {
    PackageBuilder builder;
    builder.SetVersion(version);
    builder.SetName(u"Test game");
    builder.SetCacheName(u"testgame");
    for (const TestModule& module : modules) {
        const String name = WideText(module.name);
        bool added;
        if (module.entryOnly)
            added = builder.AddEntry(name);
        else if (module.plain)
            added = builder.AddPlainModule(name, module.content.data(), uint32_t(module.content.size()));
        else
            added = builder.AddModule(name, module.content.data(), uint32_t(module.content.size()),
                                      module.method, -1);
        EXPECT_TRUE(added) << module.name;
    }
    Buffer output;
    EXPECT_TRUE(builder.Finish(output));
    if (adjust) {
        adjust(builder);
        WritePackageHeader(builder.Header(), output.GetData());
    }
    if (header != nullptr)
        *header = builder.Header();
    return std::string(reinterpret_cast<const char*>(output.GetData()), output.GetSize());
}

void LoaderTest::SetUp() {
    ASSERT_TRUE(mFolder.IsValid());
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof(previous)), nullptr);
    mPreviousDirectory = previous;
    ASSERT_EQ(chdir(mFolder.Native().c_str()), 0);
    ASSERT_TRUE(mServer.Start());
}

void LoaderTest::TearDown() {
    // Downloads stopped without waiting may still log into this test's capture.
    WaitForStoppedTransfers();
    mServer.Stop();
    if (!mPreviousDirectory.empty()) {
        EXPECT_EQ(chdir(mPreviousDirectory.c_str()), 0);
    }
}

bool LoaderTest::Pump(TestLoader& loader, const std::function<bool()>& done, int timeoutMs,
                      uint32_t elapsedMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        loader.Update(elapsedMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::string> LoaderTest::Journal() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadNativeFile(mFolder.Native("module-journal.txt")));
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    return lines;
}

int LoaderTest::JournalCount(const std::string& prefix) const {
    int count = 0;
    for (const std::string& line : Journal())
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
}

std::string ReleaseFile() { return ProfileFolder() + "/vexal/testgame/release"; }

Publisher::Publisher() {
    Ed25519PublicKey key;
    EXPECT_TRUE(mKey.Generate() && mKey.GetPublicKey(key));
    char text[Base64Length(kEd25519KeySize) + 1];
    Base64Encode(key.bytes, sizeof(key.bytes), text);
    mPublic = text;
}

std::string Sign(const Release& release, uint32_t number, const Ed25519SecretKey& key, int64_t expires) {
    PackageSignature signature;
    EXPECT_TRUE(DescribeSignedHeader(reinterpret_cast<const uint8_t*>(release.mPackage.data()), kSignedHeaderSize,
                                     signature));
    signature.mRelease = number;
    signature.mHasExpiry = expires != 0;
    signature.mExpires = expires;
    for (uint32_t i = 0; i < VEXAL_MODULE_COUNT && i < release.mContents.size(); ++i) {
        const std::string& content = release.mContents[i];
        if ((signature.mModuleMask >> i) & 1) {
            EXPECT_TRUE(ComputeSha256(content.data(), content.size(), signature.mModules[i]));
            signature.mModuleSizes[i] = uint32_t(content.size());
        }
    }
    Buffer output;
    EXPECT_TRUE(SignPackageSignature(signature, key, output));
    return std::string(reinterpret_cast<const char*>(output.GetData()), output.GetSize());
}

std::string LoaderTest::ServeGamePackage(const std::vector<TestModule>& extra, uint32_t version) {
    std::vector<TestModule> modules{{"game.so", RecordingModuleBytes()}};
    modules.insert(modules.end(), extra.begin(), extra.end());
    std::string package = MakePackage(modules, version);
    mServer.Route("/pkg", HttpPlan::Body(package));
    return package;
}

std::vector<std::string> LoaderTest::Targets(const std::string& path) const {
    std::vector<std::string> targets;
    for (const HttpRequest& request : mServer.Requests(path))
        targets.push_back(request.mTarget);
    return targets;
}
