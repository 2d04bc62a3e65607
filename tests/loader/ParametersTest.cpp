// Launch parameters: names, numbers, lists, module parameters, package and CDN addresses.
#include "LoaderHarness.h"
#include "loader/LaunchValues.h"

namespace {

std::vector<std::string> Narrow(const Array<String>& list) {
    std::vector<std::string> out;
    for (const String& item : list)
        out.push_back(NarrowText(item));
    return out;
}

} // namespace

TEST(LaunchValues, NumbersReadLikeTheCLibraryAndClampToThirtyTwoBits) {
    EXPECT_EQ(ParseLaunchNumber(u"500"), 500);
    EXPECT_EQ(ParseLaunchNumber(u"  -1"), -1);
    EXPECT_EQ(ParseLaunchNumber(u"\t+25ms"), 25);
    EXPECT_EQ(ParseLaunchNumber(u"abc"), 0);
    EXPECT_EQ(ParseLaunchNumber(u""), 0);
    EXPECT_EQ(ParseLaunchNumber(u"-"), 0);
    EXPECT_EQ(ParseLaunchNumber(u"99999999999"), INT32_MAX);
    EXPECT_EQ(ParseLaunchNumber(u"-99999999999"), INT32_MIN);
}

TEST(LaunchValues, HostOfAnAddressSkipsSchemeAndPort) {
    EXPECT_EQ(NarrowText(HostOfAddress(u"http://cdn.example.com:8080/games/pkg.voa")), "cdn.example.com");
    EXPECT_EQ(NarrowText(HostOfAddress(u"https://h/x?y=1")), "h");
    EXPECT_EQ(NarrowText(HostOfAddress(u"  host.only  ")), "host.only");
    // A host whose name begins with "http" is passed over for the next item.
    EXPECT_EQ(NarrowText(HostOfAddress(u"http://httpbin.org/path")), "path");
    EXPECT_EQ(NarrowText(HostOfAddress(u"http://")), "");
    EXPECT_EQ(NarrowText(HostOfAddress(u"")), "");
}

TEST(LaunchValues, ListsKeepEmptyItemsButDropABlankLastOne) {
    Array<String> list;
    SplitLaunchList(u"A| B |", list);
    EXPECT_EQ(Narrow(list), (std::vector<std::string>{"A", "B", ""}));
    SplitLaunchList(u"C", list); // appended, never cleared
    EXPECT_EQ(Narrow(list), (std::vector<std::string>{"A", "B", "", "C"}));
    Array<String> empty;
    SplitLaunchList(u"", empty);
    EXPECT_EQ(Narrow(empty), (std::vector<std::string>{""}));
}

TEST_F(LoaderTest, NamesMatchWithoutCaseAndNumbersStoreAllBitsForMinusOne) {
    TestLoader loader;
    loader.Set("DELAY", "500");
    EXPECT_EQ(loader.mDelay, 500u);
    loader.Set("delay", "-1");
    EXPECT_EQ(loader.mDelay, 0xFFFFFFFFu);
    loader.Set("TickInterval", "x");
    EXPECT_EQ(loader.mTickInterval, 0u);
    // A number parameter without digits is said once; numbers with a sign or blanks are not.
    EXPECT_TRUE(mTrace.Contains("[Loader] Launch parameter TickInterval has no number: \"x\", taken as 0"));
    EXPECT_EQ(mTrace.Count(" has no number: "), 1);
    loader.Set("VoaTimeout", "250");
    EXPECT_EQ(loader.mHeaderTimeout, 250u);
    loader.Set("AppVersion", "1.2");
    loader.Set("FLASHVERSION", "11");
    loader.Set("errUrl", "http://e/");
    loader.Set("reportURL", Url("/report?x=1"));
    EXPECT_EQ(NarrowText(loader.mAppVersion), "1.2");
    EXPECT_EQ(NarrowText(loader.mFlashVersion), "11");
    EXPECT_EQ(NarrowText(loader.mErrorUrl), "http://e/");
    EXPECT_EQ(NarrowText(loader.mReportUrl), Url("/report?x=1"));

    // Unknown names and null texts change nothing but leave one trace line each.
    EXPECT_EQ(mTrace.Count("[Loader] Unknown launch parameter"), 0);
    loader.Setup(nullptr, nullptr);
    loader.Set("voarul", "http://h/p.vpk");
    EXPECT_TRUE(mTrace.Contains("[Loader] Unknown launch parameter ignored: voarul"));
    EXPECT_EQ(mTrace.Count("[Loader] Unknown launch parameter ignored: "), 2);
    loader.Set("selectedserver", "&server=7"); // a report request, no state change
    EXPECT_EQ(loader.mState, LoaderStateCreated);
    EXPECT_EQ(loader.mProgress, 0.0f);
    ASSERT_TRUE(Pump(loader, [&] { return mServer.RequestCount("/report") == 1; }));
    EXPECT_EQ(mServer.Requests("/report")[0].mTarget, "/report?x=1&server=7");
}

TEST_F(LoaderTest, ModuleParamsJoinWithOneSeparator) {
    TestLoader loader;
    loader.Set("voaparam", "x");
    loader.Set("commonvoaparam", "y");
    EXPECT_EQ(NarrowText(loader.mModuleParams), "x|y");
    TestLoader other;
    other.Set("voaparam", "a|");
    other.Set("voaparam", "b");
    EXPECT_EQ(NarrowText(other.mModuleParams), "a|b");
}

TEST_F(LoaderTest, VoaUrlListsAreAppendedAndEachCallStartsFromTheFirst) {
    TestLoader loader;
    loader.Set("voaurl", Url("/a") + "|" + Url("/b") + "|");
    EXPECT_EQ(loader.mState, LoaderStateHeader);
    ASSERT_EQ(loader.mPackageUrls.GetCount(), 3);
    EXPECT_EQ(NarrowText(loader.mPackageUrls[2]), "");
    loader.mUrlIndex = 2;
    loader.Set("voaurl", Url("/c"));
    EXPECT_EQ(loader.mPackageUrls.GetCount(), 4);
    EXPECT_EQ(loader.mUrlIndex, 0u);
    EXPECT_TRUE(mTrace.Contains("[Loader] Download voa header : " + Url("/a")));
    // The restarted download asks the first address again, for the header range.
    ASSERT_TRUE(mServer.WaitForRequests("/a", 2, 5000));
    EXPECT_EQ(mServer.Requests("/a")[1].Header("Range"), "bytes=0-1131");
}

TEST_F(LoaderTest, CdnAddressesBeforeTheVoaUrlAddVariantsAndTheHostHeader) {
    mServer.Route("/pkg", HttpPlan::Body(std::string(2000, 'z')).Silent());
    TestLoader loader;
    loader.Set("cdnip", "localhost| |127.0.0.2");
    loader.Set("voaurl", Url("/pkg"));
    std::vector<std::string> urls = Narrow(loader.mPackageUrls);
    const std::string port = std::to_string(mServer.Port());
    EXPECT_EQ(urls, (std::vector<std::string>{Url("/pkg"), "http://localhost:" + port + "/pkg",
                                              "http://127.0.0.2:" + port + "/pkg"}));
    EXPECT_EQ(NarrowText(loader.mCdnHost), "127.0.0.1");
    ASSERT_TRUE(mServer.WaitForRequests("/pkg", 1, 5000));
    EXPECT_EQ(mServer.Requests("/pkg")[0].Header("Host"), "127.0.0.1");

    // A second address: its own variants once, nothing of the first again, the Host header once.
    loader.Set("voaurl", Url("/next"));
    urls = Narrow(loader.mPackageUrls);
    EXPECT_EQ(urls, (std::vector<std::string>{Url("/pkg"), "http://localhost:" + port + "/pkg",
                                              "http://127.0.0.2:" + port + "/pkg", Url("/next"),
                                              "http://localhost:" + port + "/next",
                                              "http://127.0.0.2:" + port + "/next"}));
    ASSERT_TRUE(mServer.WaitForRequests("/pkg", 2, 5000));
    const std::vector<HttpRequest> requests = mServer.Requests("/pkg");
    int hostLines = 0;
    for (const auto& header : requests[1].mHeaders)
        hostLines += header.first == "Host" ? 1 : 0;
    EXPECT_EQ(hostLines, 1);
}

TEST_F(LoaderTest, CdnAddressesAfterTheVoaUrlChangeNothing) {
    mServer.Route("/pkg", HttpPlan::Body(std::string(2000, 'z')).Silent());
    TestLoader loader;
    loader.Set("voaurl", Url("/pkg"));
    loader.Set("cdnip", "localhost");
    EXPECT_EQ(loader.mPackageUrls.GetCount(), 1);
    EXPECT_TRUE(loader.mCdnHost.IsEmpty());
    ASSERT_TRUE(mServer.WaitForRequests("/pkg", 1, 5000));
    EXPECT_EQ(mServer.Requests("/pkg")[0].Header("Host"), "127.0.0.1:" + std::to_string(mServer.Port()));
}
