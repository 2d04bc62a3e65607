// The host program's command line, its X event translation and its text conversion.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "HostEvents.h"
#include "HostOptions.h"
#include "HostText.h"

namespace {

bool Parse(std::vector<const char*> args, HostOptions& options, std::string& error) {
    args.insert(args.begin(), "vexal-host");
    return ParseHostOptions(int(args.size()), args.data(), options, error);
}

TEST(HostOptions, DefaultsAndEveryOption) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(Parse({}, options, error));
    EXPECT_EQ(options.mWidth, 1280);
    EXPECT_EQ(options.mHeight, 720);
    EXPECT_EQ(options.mFps, 60);
    EXPECT_LT(options.mSeconds, 0.0);
    EXPECT_FALSE(options.mHeadless);

    HostOptions all;
    ASSERT_TRUE(Parse({"--library", "x.so", "--size=640x480", "--headless", "--fps", "30", "--seconds", "2.5",
                       "--run-mode", "2", "--cwd", "cache", "--screenshot", "a.png@1", "--screenshot=b@c.png@2.5",
                       "--until-ready", "voaurl=http://h/p?a=b", "delay=", "Name=v=w"},
                      all, error))
        << error;
    EXPECT_EQ(all.mLibrary, "x.so");
    EXPECT_EQ(all.mWidth, 640);
    EXPECT_EQ(all.mHeight, 480);
    EXPECT_TRUE(all.mHeadless);
    EXPECT_EQ(all.mFps, 30);
    EXPECT_DOUBLE_EQ(all.mSeconds, 2.5);
    EXPECT_EQ(all.mRunMode, 2u);
    EXPECT_EQ(all.mWorkingDirectory, "cache");
    EXPECT_TRUE(all.mUntilReady);
    ASSERT_EQ(all.mScreenshots.size(), 2u);
    EXPECT_EQ(all.mScreenshots[0].mPath, "a.png");
    EXPECT_DOUBLE_EQ(all.mScreenshots[0].mSeconds, 1.0);
    // The last "@" separates the time, so a file name may hold one.
    EXPECT_EQ(all.mScreenshots[1].mPath, "b@c.png");
    EXPECT_DOUBLE_EQ(all.mScreenshots[1].mSeconds, 2.5);
    EXPECT_EQ(all.mScreenshots[1].mTrigger, HostScreenshot::Trigger::Seconds);
    // Parameters keep their order; a value may be empty or hold "=".
    ASSERT_EQ(all.mParameters.size(), 3u);
    EXPECT_EQ(all.mParameters[0], std::make_pair(std::string("voaurl"), std::string("http://h/p?a=b")));
    EXPECT_EQ(all.mParameters[1], std::make_pair(std::string("delay"), std::string()));
    EXPECT_EQ(all.mParameters[2], std::make_pair(std::string("Name"), std::string("v=w")));
}

TEST(HostOptions, ScreenshotsTiedToTheProgress) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--screenshot", "a.png@30%", "--screenshot=b.png@ready+1.5", "--screenshot", "c@ready+0",
                       "--screenshot", "d.png@100%"},
                      options, error))
        << error;
    ASSERT_EQ(options.mScreenshots.size(), 4u);
    EXPECT_EQ(options.mScreenshots[0].mTrigger, HostScreenshot::Trigger::Progress);
    EXPECT_DOUBLE_EQ(options.mScreenshots[0].mProgress, 0.3);
    EXPECT_EQ(options.mScreenshots[1].mPath, "b.png");
    EXPECT_EQ(options.mScreenshots[1].mTrigger, HostScreenshot::Trigger::AfterReady);
    EXPECT_DOUBLE_EQ(options.mScreenshots[1].mSeconds, 1.5);
    EXPECT_EQ(options.mScreenshots[2].mTrigger, HostScreenshot::Trigger::AfterReady);
    EXPECT_DOUBLE_EQ(options.mScreenshots[2].mSeconds, 0.0);
    EXPECT_DOUBLE_EQ(options.mScreenshots[3].mProgress, 1.0);

    for (const char* bad : {"a@101%", "a@-5%", "a@%", "a@ready", "a@ready+", "a@ready+x", "a@ready-1", "a@30%%"}) {
        HostOptions refused;
        EXPECT_FALSE(Parse({"--screenshot", bad}, refused, error)) << bad;
    }
}

TEST(HostOptions, UsageErrors) {
    const std::vector<std::vector<const char*>> bad = {
        {"--size", "640"},
        {"--size", "0x480"},
        {"--size", "640x"},
        {"--fps", "0"},
        {"--fps", "abc"},
        {"--seconds", "-1"},
        {"--seconds"},
        {"--screenshot", "a.png"},
        {"--screenshot", "@3"},
        {"--screenshot", "a@x"},
        {"--bogus"},
        {"novalue"},
        {"=value"},
        {"--run-mode", "-2"},
        {"--headless=yes"},
        {"--library="},
    };
    for (const auto& args : bad) {
        HostOptions options;
        std::string error;
        EXPECT_FALSE(Parse(args, options, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

XEvent MakeEvent(int type) {
    XEvent event = {};
    event.type = type;
    return event;
}

TEST(HostEvents, WindowEvents) {
    HostEventState state;
    state.mTimerAtom = 101;
    state.mProtocolsAtom = 102;
    state.mDeleteAtom = 103;
    state.mWidth = 640;
    state.mHeight = 480;
    std::vector<HostMessage> out;

    XEvent configure = MakeEvent(ConfigureNotify);
    configure.xconfigure.width = 640;
    configure.xconfigure.height = 480;
    TranslateEvent(configure, state, out);
    EXPECT_TRUE(out.empty()) << "a move without a size change is no WM_SIZE";
    configure.xconfigure.width = 800;
    configure.xconfigure.height = 600;
    TranslateEvent(configure, state, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].mId, VEXAL_WM_SIZE);
    EXPECT_EQ(out[0].mLParam, 800 | (600 << 16));

    out.clear();
    XEvent timer = MakeEvent(ClientMessage);
    timer.xclient.message_type = 101;
    timer.xclient.format = 32;
    timer.xclient.data.l[0] = 0;
    TranslateEvent(timer, state, out);
    XEvent other = timer;
    other.xclient.message_type = 999;
    TranslateEvent(other, state, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].mId, VEXAL_WM_TIMER);
    EXPECT_EQ(out[0].mWParam, 0u);

    out.clear();
    XEvent close = MakeEvent(ClientMessage);
    close.xclient.message_type = 102;
    close.xclient.format = 32;
    close.xclient.data.l[0] = 103;
    TranslateEvent(close, state, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].mId, VEXAL_WM_CLOSE);
    EXPECT_TRUE(state.mClosed);
}

TEST(HostEvents, MouseMessages) {
    HostEventState state;
    std::vector<HostMessage> out;
    XEvent move = MakeEvent(MotionNotify);
    move.xmotion.x = 12;
    move.xmotion.y = 34;
    move.xmotion.state = Button1Mask | ControlMask;
    TranslateEvent(move, state, out);
    XEvent press = MakeEvent(ButtonPress);
    press.xbutton.button = Button3;
    press.xbutton.x = -5; // dragged outside the window: a negative coordinate in 16 bits
    press.xbutton.y = 7;
    TranslateEvent(press, state, out);
    XEvent release = MakeEvent(ButtonRelease);
    release.xbutton.button = Button1;
    release.xbutton.state = Button1Mask;
    TranslateEvent(release, state, out);
    XEvent wheel = MakeEvent(ButtonPress);
    wheel.xbutton.button = Button4;
    TranslateEvent(wheel, state, out);

    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].mId, VEXAL_WM_MOUSEMOVE);
    EXPECT_EQ(out[0].mWParam, 0x0001u | 0x0008u);
    EXPECT_EQ(out[0].mLParam, 12 | (34 << 16));
    EXPECT_EQ(out[1].mId, VEXAL_WM_RBUTTONDOWN);
    EXPECT_EQ(out[1].mWParam, 0x0002u);
    EXPECT_EQ(uint32_t(out[1].mLParam), 0xFFFBu | (7u << 16));
    EXPECT_EQ(out[2].mId, VEXAL_WM_LBUTTONUP);
    EXPECT_EQ(out[2].mWParam, 0u) << "the released button is no longer down";
}

TEST(HostEvents, VirtualKeys) {
    EXPECT_EQ(VirtualKeyFromKeySym(XK_a), uint32_t('A'));
    EXPECT_EQ(VirtualKeyFromKeySym(XK_Q), uint32_t('Q'));
    EXPECT_EQ(VirtualKeyFromKeySym(XK_7), uint32_t('7'));
    EXPECT_EQ(VirtualKeyFromKeySym(XK_F1), 0x70u);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_F12), 0x7Bu);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_Escape), 0x1Bu);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_Return), 0x0Du);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_Left), 0x25u);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_Down), 0x28u);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_Shift_R), 0x10u);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_KP_5), 0x65u);
    EXPECT_EQ(VirtualKeyFromKeySym(XK_dead_acute), 0u);
}

TEST(HostText, Utf8ToWide) {
    EXPECT_EQ(WideFromUtf8("abc"), u"abc");
    EXPECT_EQ(WideFromUtf8(""), u"");
    EXPECT_EQ(WideFromUtf8("\xC3\xA9t\xC3\xA9"), u"\u00E9t\u00E9");
    EXPECT_EQ(WideFromUtf8("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(WideFromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
    // Broken input becomes U+FFFD per bad byte and decoding carries on.
    EXPECT_EQ(WideFromUtf8("a\xFF"
                           "b"),
              u"a\uFFFDb");
    EXPECT_EQ(WideFromUtf8("a\xC3"), u"a\uFFFD");
    EXPECT_EQ(WideFromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");           // overlong "/"
    EXPECT_EQ(WideFromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // an encoded surrogate
}

TEST(HostText, LogBytesToUtf8) {
    // The loader's log files: UTF-16LE after a byte-order mark.
    const std::string log("\xFF\xFE"
                          "a\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE\r\0\n\0",
                          16);
    EXPECT_EQ(Utf8FromUtf16Bytes(log), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\r\n");
    // No mark, a lone surrogate, a last odd byte.
    EXPECT_EQ(Utf8FromUtf16Bytes(std::string("x\0\x00\xDCy\0z", 7)), "x\xEF\xBF\xBDy");
}

// The summary of an unfinished run prints log lines on the terminal: what a name from a mirror
// put in them cannot act on it.
TEST(HostText, LinesForTheTerminalEscapeControlCharacters) {
    EXPECT_EQ(PrintableUtf8("\x1b[2Jgame\x07\x7f\xC2\x9B\xC2\xA9\xC3\xA9"), "\\x1b[2Jgame\\x07\\x7f\\x9b\xC2\xA9\xC3\xA9");
    EXPECT_EQ(PrintableUtf8(std::string("a\0b\tc\n", 6)), "a\\x00b\tc\\x0a");
}

TEST(HostOptions, WarningsAboutLaunchParameters) {
    HostOptions options;
    options.mParameters = {{"voarul", "http://h/p"}, {"DELAY", "5"}, {"LoaderVar", "a|b"}, {"frobnicate", "1"}};
    std::vector<std::string> warnings = LaunchParameterWarnings(options);
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0], "the loader knows no launch parameter \"voarul\" and ignores it (did you mean voaurl?)");
    EXPECT_EQ(warnings[1], "the loader knows no launch parameter \"frobnicate\" and ignores it");
    EXPECT_EQ(warnings[2].rfind("no package address", 0), 0u);
    // Any one of the three ways to a package address is enough; known names in any case are quiet.
    for (const char* name : {"VoaUrl", "serverdataurl", "ServerData"}) {
        options.mParameters = {{name, "x"}, {"tickurl", "http://t/"}};
        EXPECT_TRUE(LaunchParameterWarnings(options).empty()) << name;
    }
    // The publisher keys of signed packages are the loader's too, and want the game named.
    options.mParameters = {{"voaurl", "x"}, {"VoaKey", "k"}, {"VoaGame", "demo"}};
    EXPECT_TRUE(LaunchParameterWarnings(options).empty());
    options.mParameters.pop_back();
    warnings = LaunchParameterWarnings(options);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("voakey without voagame", 0), 0u);
    // A number the loader cannot read is taken as 0: a time-out that refuses every header.
    options.mParameters = {{"voaurl", "x"}, {"VoaTimeout", "abc"}, {"tickinterval", " -5"}, {"delay", ""}};
    warnings = LaunchParameterWarnings(options);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "the loader reads no number in VoaTimeout=\"abc\" and takes 0");
}

} // namespace
