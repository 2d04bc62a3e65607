// Server data, ticks, the module step and the hand-off, the relays, and a run started again.
#include <algorithm>
#include "LoaderHarness.h"

namespace {

// The sg value of every tick request, in order.
std::vector<int> TickStates(const HttpTestServer& server) {
    std::vector<int> states;
    for (const HttpRequest& request : server.Requests("/tick")) {
        const size_t at = request.mTarget.find("&sg=");
        if (at != std::string::npos)
            states.push_back(std::atoi(request.mTarget.c_str() + at + 4));
    }
    return states;
}

} // namespace

TEST_F(LoaderTest, ServerDataPathGoesThroughEveryStateWithATickEach) {
    ServeGamePackage();
    const std::string data = "{\"servers\":{\"3\":[\"a\",\"b\",1,2,\"x\",\"" + Url("/pkg") +
                             "\",8000,\"game.example\"]},\"default\":3}";
    mServer.Route("/servers", HttpPlan::Body(data, "application/json"));
    mServer.Route("/tick", HttpPlan::Body("ok"));

    TestLoader loader;
    loader.Set("tickinterval", "1000000");
    loader.Set("appversion", "A1");
    loader.Set("tickurl", Url("/tick") + "?game=1");
    loader.Set("serverdataurl", Url("/servers"));
    EXPECT_EQ(loader.mState, LoaderStateServerData);
    EXPECT_TRUE(mTrace.Contains("[Loader] Download server data : " + Url("/servers")));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateHandedOver; }));
    ASSERT_TRUE(Pump(loader, [&] { return mServer.RequestCount("/tick") >= 8; }));

    // Pings run side by side, so they may arrive in any order.
    std::vector<int> states = TickStates(mServer);
    std::sort(states.begin(), states.end());
    EXPECT_EQ(states, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 6}));
    std::vector<std::string> ticks = Targets("/tick");
    std::sort(ticks.begin(), ticks.end());
    const std::string identity = "/tick?game=1&s=" + NarrowText(loader.mRunId) + "&cv=" +
                                 NarrowText(loader.mClientVersion);
    EXPECT_EQ(ticks[0], identity + "&sg=0");
    EXPECT_EQ(ticks[1], identity + "&sg=1&av=A1");
    EXPECT_EQ(ticks[3], identity + "&sg=3&av=A1");
    EXPECT_EQ(ticks[6], identity + "&sg=6&av=A1");
    EXPECT_EQ(ticks[7].rfind(identity + "&sg=6&av=A1&m=0&t=", 0), 0u);
    EXPECT_NE(ticks[7].find("&f=1"), std::string::npos);

    // The chosen server's host and port reach the module with the tick address.
    EXPECT_EQ(Journal()[2], "config host|game.example:8000|tickurl|" + Url("/tick") + "?game=1&s=" +
                                NarrowText(loader.mRunId) + "&cv=" + NarrowText(loader.mClientVersion) +
                                "&sg=4&av=A1|tickinterval|1000000");
}

TEST_F(LoaderTest, ServerDataWithoutAUsableDefaultStaysInStateTwo) {
    mServer.Route("/none", HttpPlan::Body("{\"nodefault\":1}"));
    mServer.Route("/short", HttpPlan::Body("{\"default\":12,\"12\":[\"a\",\"b]\",3,4,5,\"u\",6,\"h\"]}"));
    TestLoader loader;
    loader.Set("serverdataurl", Url("/none"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateServerDataReady; }));
    TestLoader cut;
    // The first "]" ends the list, even inside quotes: two items, nothing chosen.
    cut.Set("serverdataurl", Url("/short"));
    ASSERT_TRUE(Pump(cut, [&] { return cut.mState == LoaderStateServerDataReady; }));
    for (int i = 0; i < 5; ++i)
        cut.Update(16);
    EXPECT_EQ(cut.mState, LoaderStateServerDataReady);
    EXPECT_EQ(cut.mPackageUrls.GetCount(), 0);
}

TEST_F(LoaderTest, AnAddressGivenWhileTheServerDataIsSearchedHasTheLastWord) {
    ServeGamePackage();
    mServer.Route("/servers", HttpPlan::Body("{\"default\":3,\"3\":[1,2,3,4,5,\"" + Url("/other") +
                                             "\",8000,\"h\"]}"));
    TestLoader loader;
    loader.Set("serverdataurl", Url("/servers"));
    // The search answers in a later update; the host names its own address before that.
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateServerDataReady; }));
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    ASSERT_EQ(loader.mPackageUrls.GetCount(), 1);
    EXPECT_EQ(NarrowText(loader.mPackageUrls[0]), Url("/pkg"));
    EXPECT_EQ(NarrowText(loader.mModuleParams), "");
    EXPECT_EQ(mServer.RequestCount("/other"), 0u);
}

TEST_F(LoaderTest, ServerDataItemsAreTakenAsTheyStand) {
    TestLoader loader;
    // Item 6 keeps its quotes; an item 5 of two quotes still sets one (empty) address.
    loader.Set("serverdata", "{\"default\":7,\"7\":[1,2,3,4,5,\"\",\"80\",\"h\"]}");
    EXPECT_EQ(loader.mState, LoaderStateHeader);
    ASSERT_EQ(loader.mPackageUrls.GetCount(), 1);
    EXPECT_EQ(NarrowText(loader.mPackageUrls[0]), "");
    EXPECT_EQ(NarrowText(loader.mModuleParams), "host|h:\"80\"");
}

TEST_F(LoaderTest, PeriodicTicksCountWholeSecondsAndTheFinalTickCarriesTheTotal) {
    ServeGamePackage();
    mServer.Route("/tick", HttpPlan::Body("ok"));
    TestLoader loader;
    loader.Set("delay", "-1");
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    loader.Set("tickurl", Url("/tick") + "?k=1");
    // 624 updates of 16 ms give 9984 ms: no tick yet; the 625th reaches 10000.
    for (int i = 0; i < 624; ++i)
        loader.Update(16);
    EXPECT_EQ(loader.mTickMark, 0u);
    loader.Update(16);
    EXPECT_EQ(loader.mTickMark, 10000u);
    for (int i = 0; i < 625; ++i)
        loader.Update(16);
    EXPECT_EQ(loader.mTickMark, 20000u);
    // A long pause catches up one interval per update.
    loader.Update(5300);
    EXPECT_EQ(loader.mTickElapsed, 25300u);
    EXPECT_EQ(loader.mTickMark, 20000u + 0u); // 25300 < 30000
    loader.Set("delay", "0");
    loader.Update(0);
    EXPECT_EQ(loader.mState, LoaderStateHandedOver);
    loader.Update(16);
    EXPECT_EQ(loader.mTickElapsed, 0u);
    loader.Update(16);
    ASSERT_TRUE(Pump(
        loader, [&] { return mServer.RequestCount("/tick") >= 5; }, 10000, 0));

    std::vector<std::string> targets = Targets("/tick");
    std::sort(targets.begin(), targets.end());
    ASSERT_EQ(targets.size(), 5u);
    const std::string base = "/tick?k=1&s=" + NarrowText(loader.mRunId) + "&cv=" + NarrowText(loader.mClientVersion);
    EXPECT_EQ(targets, (std::vector<std::string>{base + "&sg=5", base + "&sg=5&pg=0.700000&m=0&t=10",
                                                 base + "&sg=5&pg=0.700000&m=0&t=20", base + "&sg=6",
                                                 base + "&sg=6&m=0&t=25&f=1"}));
}

TEST_F(LoaderTest, FlashVersionSetBeforeTheTickAddressIsIncludedAndOwnItemsAreKept) {
    mServer.Route("/tick", HttpPlan::Body("ok"));
    TestLoader loader;
    loader.Set("flashversion", "F1");
    loader.Set("tickurl", Url("/tick") + "?x=1&s=mine&cv=v0");
    loader.Set("flashversion", "F2");
    ASSERT_TRUE(Pump(loader, [&] { return mServer.RequestCount("/tick") == 1; }));
    EXPECT_EQ(Targets("/tick")[0], "/tick?x=1&s=mine&cv=v0&fv=F1&sg=0");
}

// The identity's items begin the query of an address that has none, so the server sees them.
TEST_F(LoaderTest, TickAddressWithoutAQueryGetsOneFromItsFirstItem) {
    mServer.Route("/tick", HttpPlan::Body("ok"));
    TestLoader loader;
    loader.Set("tickurl", Url("/tick"));
    ASSERT_TRUE(Pump(loader, [&] { return mServer.RequestCount("/tick") == 1; }));
    const std::string target = Targets("/tick")[0];
    EXPECT_EQ(target.rfind("/tick?s=" + NarrowText(loader.mRunId) + "&cv=", 0), 0u) << target;
    EXPECT_EQ(target.substr(target.size() - 5), "&sg=0");
}

TEST_F(LoaderTest, DelayMinusOneHoldsTheHandOffUntilSetAgain) {
    ServeGamePackage();
    TestLoader loader;
    loader.Set("delay", "-1");
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    for (int i = 0; i < 50; ++i)
        loader.Update(1000);
    EXPECT_EQ(loader.mState, LoaderStateModuleCreated);
    EXPECT_EQ(loader.mReleaseCalls, 0);
    EXPECT_EQ(loader.mDelay, 0xFFFFFFFFu);
    EXPECT_FALSE(loader.Message(MessageRecord{VEXAL_WM_KEYDOWN, 65, 0}));
    loader.Render();
    EXPECT_EQ(JournalCount("render"), 0);
    EXPECT_EQ(JournalCount("message"), 0);

    loader.Set("delay", "0");
    loader.Update(16);
    EXPECT_EQ(loader.mState, LoaderStateHandedOver);
    EXPECT_EQ(loader.mReleaseCalls, 1);
}

TEST_F(LoaderTest, HandOffHappensInTheUpdateInWhichTheDelayRunsOut) {
    ServeGamePackage();
    TestLoader loader;
    loader.Set("delay", "-1");
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    loader.Set("delay", "1000");
    for (int i = 1; i <= 9; ++i) {
        loader.Update(100);
        ASSERT_EQ(loader.mState, LoaderStateModuleCreated) << "update " << i;
    }
    loader.Update(100);
    EXPECT_EQ(loader.mState, LoaderStateHandedOver);
    EXPECT_EQ(loader.mDelay, 0u);
    // The hand-off update still took the module's progress; later updates only relay.
    EXPECT_FLOAT_EQ(loader.mProgress, 0.7f);
    const int progressCalls = JournalCount("progress");
    const int speedCalls = JournalCount("speed");
    loader.mProgress = 0.25f;
    loader.Update(7);
    EXPECT_EQ(JournalCount("progress"), progressCalls);
    EXPECT_EQ(JournalCount("speed"), speedCalls);
    EXPECT_EQ(loader.mProgress, 0.25f);
    EXPECT_EQ(Journal().back(), "update 7 1");

    // After the hand-off render and messages go to the module.
    loader.Render();
    EXPECT_TRUE(loader.Message(MessageRecord{VEXAL_WM_KEYDOWN, 65, 0}));
    EXPECT_FALSE(loader.Message(MessageRecord{VEXAL_WM_MOUSEMOVE, 0, 3 | 4 << 16}));
    EXPECT_EQ(JournalCount("render"), 1);
    EXPECT_EQ(Journal().back(), "message 512 0 262147");
}

TEST_F(LoaderTest, ModuleReceivesTheErrorAddressAndTheExactConfigText) {
    ServeGamePackage();
    TestLoader loader;
    loader.Set("errurl", Url("/err"));
    loader.Set("tickinterval", "10000");
    loader.Set("voaparam", "a|b||");
    loader.mTickUrl = WideText("T"); // completed tick addresses are covered elsewhere
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    const std::vector<std::string> journal = Journal();
    EXPECT_EQ(journal[2], "config a|b|tickurl|T&sg=4|tickinterval|10000");
    EXPECT_EQ(journal[3], "vobconfig errurl " + Url("/err"));
}

TEST_F(LoaderTest, ConfigTextWithoutParamsBeginsWithTheTickAddressAndEndsWithTheCdnHost) {
    ServeGamePackage();
    TestLoader loader;
    loader.Set("appversion", "9");
    loader.Set("cdnip", "localhost");
    loader.mTickUrl = WideText("T");
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateModuleCreated; }));
    EXPECT_EQ(Journal()[2], "config |tickurl|T&sg=4&av=9|tickinterval|10000|cdnhost|127.0.0.1");
}

TEST_F(LoaderTest, ANewPackageAddressAfterTheHandOffStartsTheRunAgain) {
    ServeGamePackage();
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateHandedOver; }));
    EXPECT_EQ(JournalCount("create"), 1);

    // The old module is deleted and unloaded; the run fetches the header again and loads anew.
    loader.Set("voaurl", Url("/pkg"));
    EXPECT_EQ(loader.mState, LoaderStateHeader);
    EXPECT_EQ(JournalCount("delete"), 1);
    EXPECT_EQ(loader.mModule.mLibrary, nullptr);
    EXPECT_EQ(loader.mModuleIndex, 0u);
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateHandedOver; }));
    EXPECT_EQ(JournalCount("create"), 2);
    EXPECT_EQ(loader.mReleaseCalls, 2);

    // The same for new server data while a module runs.
    mServer.Route("/servers", HttpPlan::Body("{\"default\":1,\"1\":[0,0,0,0,0,\"" + Url("/pkg") + "\",1,\"h\"]}"));
    loader.Set("serverdataurl", Url("/servers"));
    EXPECT_EQ(loader.mState, LoaderStateServerData);
    EXPECT_EQ(JournalCount("delete"), 2);
    ASSERT_TRUE(Pump(loader, [&] { return loader.mState == LoaderStateHandedOver; }));
    EXPECT_EQ(JournalCount("create"), 3);
}

TEST_F(LoaderTest, NoParametersChangeNothing) {
    TestLoader loader;
    for (int i = 0; i < 100; ++i)
        loader.Update(50);
    EXPECT_EQ(loader.mState, LoaderStateCreated);
    EXPECT_EQ(loader.mProgress, 0.0f);
    EXPECT_EQ(loader.mPingHandle, nullptr);
    EXPECT_EQ(loader.mHeader.magic, VEXAL_PACKAGE_MAGIC);
    EXPECT_EQ(loader.mHeader.version, 1u);
    EXPECT_EQ(loader.mTickInterval, 10000u);
    EXPECT_EQ(loader.mHeaderTimeout, 5000u);
    // The run identity: machine address, "_", then the local time as 14 digits.
    const std::string runId = NarrowText(loader.mRunId);
    const size_t bar = runId.rfind('_');
    ASSERT_NE(bar, std::string::npos);
    EXPECT_EQ(runId.size() - bar - 1, 14u);
    EXPECT_EQ(NarrowText(loader.mClientVersion).find(' '), std::string::npos);
    EXPECT_EQ(NarrowText(loader.mClientVersion).size(), 24u);
}
