// The Flash loading screen against a stand-in for the control: construction, the movie, the
// variables exchanged every update, the user-data file, the window procedure, and the loader's
// routing of its messages and launch parameters.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "FlashDouble.h"
#include "ScreenTestSupport.h"
#include "Source/Common/Buffer.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Resource.h"
#include "Source/Script/IScriptManager.h"
#include "screens/FlashHost.h"
#include "screens/Vexal3DRenderer_GDI.h"

namespace {

int Count(const std::vector<std::string>& list, const std::string& item) {
    return int(std::count(list.begin(), list.end(), item));
}

class FlashScreen : public ScreenTest {
protected:
    std::unique_ptr<ScreenLoader> MakeLoader() { return std::make_unique<ScreenLoader>(0x1234); }
    std::string UserData() { return ReadNativeFile(mFolder.Native("flashdata.user")); }

    FakeFlashPlatform mPlatform;
};

TEST_F(FlashScreen, ConstructionHostsTheControlAndPlaysTheEmbeddedMovie) {
    ASSERT_TRUE(WriteNativeFile(mFolder.Native("flashdata.user"), "old"));
    auto loader = MakeLoader();
    FlashHost* host = loader->GetFlashHost();
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(loader->GetGdiRenderer(), nullptr);
    EXPECT_TRUE(host->mCreated);
    EXPECT_FALSE(host->mResizePending);
    EXPECT_EQ(mPlatform.mCreated, "AtlAxWin90 {D27CDB6E-AE6D-11cf-96B8-444553540000} 0,0,1280,720");
    EXPECT_EQ(mPlatform.mPlayer.mBackground, 0);
    EXPECT_EQ(NarrowText(loader->FlashVersion()), "WIN_11_2_202_235");
    EXPECT_FALSE(FileExists(mFolder.Wide("flashdata.user"))) << "the user-data file is deleted";
    // The procedure and user data of the control's window are hooked.
    EXPECT_EQ(mPlatform.mProcedure, &FlashHost::FlashWindowProc);
    EXPECT_EQ(mPlatform.mUserData, intptr_t(host));

    // No "loader.swf" here: the embedded movie is written beside and loaded.
    Buffer embedded;
    ASSERT_TRUE(LoadEmbeddedResource(u"loading.swf", embedded));
    EXPECT_EQ(ReadNativeFile(mFolder.Native("loading.swf")),
              std::string(reinterpret_cast<const char*>(embedded.GetData()), embedded.GetSize()));
    EXPECT_EQ(mPlatform.mPlayer.mMoviePath, "0 " + mFolder.Native("loading.swf"));
    EXPECT_EQ(mPlatform.mPlayer.mPlays, 1);
    EXPECT_EQ(mPlatform.mPlayer.mMenu, 0);
    EXPECT_EQ(mPlatform.mPlayer.mZooms, std::vector<std::string>{"0,0,1280,720"});
    std::vector<std::string> primed(mPlatform.mPlayer.mWrites.end() - 6, mPlatform.mPlayer.mWrites.end());
    EXPECT_EQ(primed, (std::vector<std::string>{"voaurl=null", "voaparam=null", "selectedserver=null",
                                                "appversion=null", "traceindex=null", "userdataindex=null"}));
    EXPECT_EQ(host->mWatchedNames.GetCount(), 6);

    loader.reset();
    EXPECT_EQ(mPlatform.mPlayer.mReleases, 1);
    EXPECT_TRUE(mPlatform.mDestroyed);
    EXPECT_EQ(mPlatform.mProcedure, &FakeFlashPlatform::ControlProcedure) << "the procedure is restored";
    EXPECT_EQ(mPlatform.mUserData, 0x77);
    EXPECT_EQ(mPlatform.mUnregistered, (std::vector<std::string>{"AtlAxWin90", "AtlAxWinLic90"}));
    EXPECT_EQ(mPlatform.mTerminated, 1);
}

TEST_F(FlashScreen, MovieFileInTheCurrentDirectoryWins) {
    ASSERT_TRUE(WriteNativeFile(mFolder.Native("loader.swf"), "FWS custom movie"));
    auto loader = MakeLoader();
    EXPECT_EQ(mPlatform.mPlayer.mMoviePath, "0 " + mFolder.Native("loader.swf"));
    EXPECT_EQ(ReadNativeFile(mFolder.Native("loader.swf")), "FWS custom movie");
    EXPECT_FALSE(FileExists(mFolder.Wide("loading.swf")));
}

TEST_F(FlashScreen, UnreadableCurrentDirectorySendsTheMovieToTheTemporaryFolder) {
    // A current directory that was removed cannot be read back.
    const std::string gone = mFolder.Native("gone");
    const std::string temporary = mFolder.Native("tmp");
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(temporary.c_str(), 0755), 0);
    ASSERT_EQ(chdir(gone.c_str()), 0);
    ASSERT_EQ(rmdir(gone.c_str()), 0);
    const char* previous = std::getenv("TMPDIR");
    const std::string kept = previous ? previous : "";
    setenv("TMPDIR", temporary.c_str(), 1);
    auto loader = MakeLoader();
    EXPECT_EQ(mPlatform.mPlayer.mMoviePath, "0 " + temporary + "/loading.swf");
    EXPECT_TRUE(FileExists(mFolder.Wide("tmp/loading.swf")));
    unsetenv("TMPDIR");
    EXPECT_TRUE(loader->GetFlashHost()->LoadMovieAsset(u"loading.swf"));
    EXPECT_EQ(mPlatform.mPlayer.mMoviePath, "0 /tmp/loading.swf");
    loader.reset();
    unlink("/tmp/loading.swf");
    if (previous) setenv("TMPDIR", kept.c_str(), 1);
}

TEST_F(FlashScreen, RefusedMovieKeepsAnEmptyFlashScreen) {
    mPlatform.mPlayer.mLoadResult = 1;
    auto loader = MakeLoader();
    ASSERT_NE(loader->GetFlashHost(), nullptr);
    EXPECT_EQ(loader->GetGdiRenderer(), nullptr);
    EXPECT_EQ(loader->GetFlashHost()->mWatchedNames.GetCount(), 0);
    EXPECT_EQ(mPlatform.mPlayer.mPlays, 0);
    EXPECT_FALSE(loader->GetFlashHost()->LoadMovieAsset(u"no-such-movie.swf"));
}

TEST_F(FlashScreen, ControlWithoutScriptingInterfaceEndsConstructionEarly) {
    mPlatform.mControl.mPlayer = nullptr;
    ASSERT_TRUE(WriteNativeFile(mFolder.Native("flashdata.user"), "kept"));
    mPlatform.mClientWidth = 0;
    auto loader = MakeLoader();
    FlashHost* host = loader->GetFlashHost();
    ASSERT_NE(host, nullptr);
    EXPECT_TRUE(host->mCreated);
    EXPECT_EQ(mPlatform.mControl.mReleases, 1);
    EXPECT_EQ(UserData(), "kept");
    EXPECT_TRUE(loader->FlashVersion().IsEmpty());
    EXPECT_FALSE(host->LoadMovieAsset(u"loading.swf"));
    mPlatform.mClientWidth = 640;
    host->PollMovie();
    EXPECT_EQ(mPlatform.mResizes, std::vector<std::string>{"640,720"}) << "only the resize step";
    EXPECT_TRUE(mPlatform.mPlayer.mWrites.empty());
}

TEST_F(FlashScreen, NoHostingWindowMeansTheScriptScreen) {
    mPlatform.mCreatable = false;
    ASSERT_TRUE(WriteNativeFile(mFolder.Native("flashdata.user"), "old"));
    auto loader = MakeLoader();
    EXPECT_EQ(loader->GetFlashHost(), nullptr);
    ASSERT_NE(loader->GetGdiRenderer(), nullptr);
    EXPECT_FALSE(FileExists(mFolder.Wide("flashdata.user"))) << "deleted all the same";
    // On the script screen "loadervar" goes nowhere and "serverdata" reaches the core.
    loader->Setup(u"loadervar", u"a|1");
    loader->Setup(u"serverdata", u"");
    EXPECT_TRUE(mPlatform.mPlayer.mWrites.empty());
    loader->ReleaseLoadingScreen();
    EXPECT_EQ(loader->GetGdiRenderer(), nullptr);
    EXPECT_EQ(Vexal::FindScriptManager(), nullptr) << "the script manager goes with the screen";
    loader->ReleaseLoadingScreen();
}

TEST_F(FlashScreen, EmptyClientAreaStartsAtOneByOneAndIsSizedAtTheFirstPoll) {
    mPlatform.mClientWidth = 0;
    mPlatform.mClientHeight = 0;
    auto loader = MakeLoader();
    FlashHost* host = loader->GetFlashHost();
    EXPECT_EQ(mPlatform.mCreated, "AtlAxWin90 {D27CDB6E-AE6D-11cf-96B8-444553540000} 0,0,1,1");
    EXPECT_TRUE(host->mResizePending);
    EXPECT_TRUE(mPlatform.mPlayer.mZooms.empty());
    mPlatform.mClientWidth = 800;
    mPlatform.mClientHeight = 600;
    loader->Update(0);
    EXPECT_FALSE(host->mResizePending);
    EXPECT_EQ(mPlatform.mResizes, std::vector<std::string>{"800,600"});
    EXPECT_EQ(mPlatform.mPlayer.mZooms, std::vector<std::string>{"0,0,800,600"});
    loader->Update(0);
    EXPECT_EQ(mPlatform.mResizes.size(), 1u) << "from then on only size messages resize";
}

TEST_F(FlashScreen, PollWritesFiguresAndReadsWatchedVariablesOnce) {
    auto loader = MakeLoader();
    FakeFlashPlayer& movie = mPlatform.mPlayer;
    loader->SetProgress(0.25f);
    loader->SetSpeed(12.5f);
    loader->Update(0);
    EXPECT_EQ(movie.mVariables["VexalLoaderProgress"], "0.250");
    EXPECT_EQ(movie.mVariables["VexalLoaderSpeed"], "12.500");
    loader->SetProgress(1.0f);
    loader->Update(0);
    EXPECT_EQ(movie.mVariables["VexalLoaderProgress"], "1.000");
    EXPECT_TRUE(loader->mSetupCalls.empty()) << "\"null\" counts as absent";

    movie.mVariables["selectedserver"] = "10.0.0.7:8000";
    movie.mVariables["appversion"] = "";
    movie.mReads.clear();
    loader->Update(0);
    EXPECT_EQ(loader->mSetupCalls, std::vector<std::string>{"selectedserver=10.0.0.7:8000"});
    EXPECT_EQ(loader->GetFlashHost()->mWatchedNames.GetCount(), 5);
    movie.mVariables["selectedserver"] = "10.0.0.8:8000";
    movie.mReads.clear();
    loader->Update(0);
    EXPECT_EQ(loader->mSetupCalls.size(), 1u) << "never read again";
    EXPECT_EQ(Count(movie.mReads, "selectedserver"), 0);
    EXPECT_EQ(movie.mReads, (std::vector<std::string>{"voaurl", "voaparam", "appversion", "traceindex",
                                                      "userdataindex"}));

    // Two values in one poll: both passed, the list closes up behind each.
    movie.mVariables["voaurl"] = "http://cdn/a.voa";
    movie.mVariables["voaparam"] = "p=1";
    loader->Update(0);
    EXPECT_EQ(Count(loader->mSetupCalls, "voaurl=http://cdn/a.voa"), 1);
    EXPECT_EQ(Count(loader->mSetupCalls, "voaparam=p=1"), 1);
    EXPECT_EQ(loader->GetFlashHost()->mWatchedNames.GetCount(), 3);

    // After the hand-off the movie is no longer polled.
    loader->ForceState(LoaderStateHandedOver);
    size_t writes = movie.mWrites.size();
    loader->Update(0);
    EXPECT_EQ(movie.mWrites.size(), writes);
}

TEST_F(FlashScreen, TraceMessagesAreLoggedOncePerIndex) {
    auto loader = MakeLoader();
    FakeFlashPlayer& movie = mPlatform.mPlayer;
    CaptureLog();
    movie.mVariables["traceindex"] = "7";
    movie.mVariables["tracemsg7"] = "scene ready";
    movie.mVariables["tracemsg8"] = "menu shown";
    loader->Update(0);
    loader->Update(0);
    EXPECT_EQ(Count(mTrace, "[FG] Loader log 7 : scene ready"), 1);
    movie.mVariables["traceindex"] = "8";
    loader->Update(0);
    EXPECT_EQ(Count(mTrace, "[FG] Loader log 8 : menu shown"), 1);
    EXPECT_EQ(loader->GetFlashHost()->mWatchedNames.GetCount(), 6) << "the index stays watched";
}

TEST_F(FlashScreen, UserDataIsAppendedPerIndex) {
    auto loader = MakeLoader();
    FakeFlashPlayer& movie = mPlatform.mPlayer;
    movie.mVariables["userdataindex"] = "1";
    movie.mVariables["userdata1"] = "a";
    loader->Update(0);
    loader->Update(0);
    movie.mVariables["userdataindex"] = "2";
    movie.mVariables["userdata2"] = "b";
    loader->Update(0);
    EXPECT_EQ(UserData(), "ab");
    // A new host starts the file afresh.
    loader.reset();
    auto again = MakeLoader();
    EXPECT_FALSE(FileExists(mFolder.Wide("flashdata.user")));
}

TEST_F(FlashScreen, UserDataTextsAreCutAt1023Bytes) {
    std::u16string text(600, u'\u4e2d'); // 3 bytes each in UTF-8
    AppendUserData(text.c_str());
    std::string written = UserData();
    EXPECT_EQ(written.size(), 1023u);
    EXPECT_EQ(written.substr(0, 3), "\xe4\xb8\xad");
    AppendUserData(u"");
    EXPECT_EQ(UserData().size(), 1023u);
    // A folder where the file should be: skipped without a message.
    ASSERT_TRUE(DeleteFile(mFolder.Wide("flashdata.user")));
    ASSERT_TRUE(CreateDirectoryPath(mFolder.Wide("flashdata.user")));
    CaptureLog();
    AppendUserData(u"x");
    EXPECT_TRUE(mTrace.empty());
}

TEST_F(FlashScreen, WindowProcedureSwallowsRightButtonAndKeepsTheControlsChanges) {
    auto loader = MakeLoader();
    FlashHost* host = loader->GetFlashHost();
    EXPECT_EQ(FlashHost::FlashWindowProc(FakeFlashPlatform::kControl, 0x0204, 0, 0), 0);
    EXPECT_TRUE(mPlatform.mControlMessages.empty());
    // The control's procedure runs with its own user data in place; a change it makes survives.
    EXPECT_EQ(FlashHost::FlashWindowProc(FakeFlashPlatform::kControl, 0x0200, 0, 0), 5);
    EXPECT_EQ(mPlatform.mControlMessages, std::vector<std::string>{"512 119"});
    EXPECT_EQ(mPlatform.mProcedure, &FlashHost::FlashWindowProc);
    EXPECT_EQ(mPlatform.mUserData, intptr_t(host));
    EXPECT_EQ(host->mOrigUserData, 0x99);
    FlashHost::FlashWindowProc(FakeFlashPlatform::kControl, 0x0201, 0, 0);
    EXPECT_EQ(mPlatform.mControlMessages.back(), "513 153");
    loader.reset();
    EXPECT_EQ(mPlatform.mUserData, 0x99);
    // Without a host in the user data: the default procedure.
    mPlatform.mUserData = 0;
    EXPECT_EQ(FlashHost::FlashWindowProc(FakeFlashPlatform::kControl, 0x0201, 0, 0), -7);
}

TEST_F(FlashScreen, LoaderRoutesSizeMessagesAndParametersToTheMovie) {
    auto loader = MakeLoader();
    FakeFlashPlayer& movie = mPlatform.mPlayer;
    loader->Setup(u"LoaderVar", u"a|1|b| 2 |c");
    EXPECT_EQ(movie.mVariables["a"], "1");
    EXPECT_EQ(movie.mVariables["b"], "2");
    EXPECT_EQ(movie.mVariables.count("c"), 0u);
    loader->Setup(u"SERVERDATA", u"server list");
    EXPECT_EQ(movie.mVariables["ServerData"], "server list");

    loader->Message(MessageRecord{0x0005, 0, 0});
    EXPECT_TRUE(mPlatform.mResizes.empty());
    loader->Message(MessageRecord{0x0005, 0, 800 | (600 << 16)});
    EXPECT_EQ(mPlatform.mResizes, std::vector<std::string>{"800,600"});
    EXPECT_EQ(movie.mZooms.back(), "0,0,800,600");
    // Sizes read as signed 16-bit values: negative ones are ignored like empty ones.
    loader->Message(MessageRecord{0x0005, 0, 0xFFFF | (600 << 16)});
    loader->Message(MessageRecord{0x0005, 0, int32_t(800u | 0x8000u << 16)});
    EXPECT_EQ(mPlatform.mResizes.size(), 1u);
    EXPECT_EQ(movie.mZooms.back(), "0,0,800,600");
    loader->Message(MessageRecord{0x0010, 0, 800 | (600 << 16)});
    EXPECT_EQ(mPlatform.mResizes.size(), 1u);
    loader->ForceState(LoaderStateHandedOver);
    loader->Message(MessageRecord{0x0005, 0, 1024 | (768 << 16)});
    EXPECT_EQ(mPlatform.mResizes.size(), 1u) << "after the hand-off the control is left alone";
}

} // namespace
