// The embedded assets: the pictures' sizes, the default script's encoding, the movie's header,
// that the committed files are what their generators make, and the movie played in a
// Flash-compatible web player.
#include <cairo.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "Source/Common/Buffer.h"
#include "Source/Platform/Graphics.h"
#include "Source/Platform/Resource.h"
#include "TestWindow.h"
#include "support/ScratchFolder.h"

namespace {

std::string Embedded(const WideChar* name) {
    Buffer buffer;
    if (!LoadEmbeddedResource(name, buffer)) return "";
    return std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize());
}

// What the header of a SWF file says.
struct SwfHeader {
    char signature[4] = {};
    int version = 0;
    uint32_t length = 0;
    int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
    double frameRate = 0;
    int frameCount = 0;
};

uint32_t Bits(const uint8_t* data, size_t& bit, int count, bool isSigned) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++bit) value = (value << 1) | ((data[bit / 8] >> (7 - bit % 8)) & 1);
    if (isSigned && count > 0 && count < 32 && (value >> (count - 1)) & 1) value |= ~0u << count;
    return value;
}

// Parses "CWS" (zlib) or "FWS" files; false when the bytes are not a whole SWF header.
bool ParseSwf(const std::string& file, SwfHeader& header, std::string& body) {
    if (file.size() < 8) return false;
    std::memcpy(header.signature, file.data(), 3);
    header.version = uint8_t(file[3]);
    header.length = uint8_t(file[4]) | uint8_t(file[5]) << 8 | uint8_t(file[6]) << 16 | uint32_t(uint8_t(file[7])) << 24;
    if (std::string(header.signature) == "CWS") {
        body.resize(header.length - 8);
        uLongf size = uLongf(body.size());
        if (uncompress(reinterpret_cast<Bytef*>(body.data()), &size,
                       reinterpret_cast<const Bytef*>(file.data() + 8), uLong(file.size() - 8)) != Z_OK ||
            size != body.size())
            return false;
    } else if (std::string(header.signature) == "FWS") {
        body = file.substr(8);
    } else {
        return false;
    }
    const uint8_t* data = reinterpret_cast<const uint8_t*>(body.data());
    size_t bit = 0;
    int n = int(Bits(data, bit, 5, false));
    header.xMin = int32_t(Bits(data, bit, n, true));
    header.xMax = int32_t(Bits(data, bit, n, true));
    header.yMin = int32_t(Bits(data, bit, n, true));
    header.yMax = int32_t(Bits(data, bit, n, true));
    size_t at = (bit + 7) / 8;
    if (at + 4 > body.size()) return false;
    header.frameRate = data[at + 1] + data[at] / 256.0;
    header.frameCount = data[at + 2] | data[at + 3] << 8;
    return true;
}

TEST(ScreenAssets, PicturesHaveTheirSizes) {
    struct {
        const WideChar* name;
        int width, height;
    } pictures[] = {
        {u"bg.png", 1920, 1080},
        {u"front.png", 118, 94},
        {u"left.png", 48, 18},
        {u"right.png", 47, 11},
        {u"track.png", 1, 11},
        {u"bleft.png", 48, 18},
        {u"bright.png", 47, 13},
        {u"btrack.png", 1, 11},
    };
    for (auto& picture : pictures) {
        std::string bytes = Embedded(picture.name);
        ASSERT_FALSE(bytes.empty()) << NarrowText(picture.name);
        GraphicsImage* image = DecodeImage(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
        EXPECT_EQ(ImageWidth(image), picture.width) << NarrowText(picture.name);
        EXPECT_EQ(ImageHeight(image), picture.height) << NarrowText(picture.name);
        DestroyImage(image);
    }
    EXPECT_EQ(Embedded(u"BG.PNG").substr(0, 3), "\xff\xd8\xff") << "the background is a JPEG picture";
}

TEST(ScreenAssets, DefaultScriptIsUtf8WithByteOrderMarkAndCrlf) {
    std::string script = Embedded(u"loading-gdi.lua");
    ASSERT_GT(script.size(), 3u);
    EXPECT_EQ(script.substr(0, 3), "\xef\xbb\xbf");
    size_t lf = std::count(script.begin(), script.end(), '\n');
    EXPECT_GT(lf, 10u);
    EXPECT_EQ(script.find("\n"), script.find("\r\n") + 1);
    for (size_t at = script.find('\n'); at != std::string::npos; at = script.find('\n', at + 1))
        EXPECT_EQ(script[at - 1], '\r');
    EXPECT_NE(script.find("\xe9\xbb\x91\xe4\xbd\x93"), std::string::npos) << "the font family 黑体";
    EXPECT_NE(script.find("%.1f%%"), std::string::npos);
}

TEST(ScreenAssets, MovieHeader) {
    SwfHeader header;
    std::string body;
    std::string movie = Embedded(u"Loading.Swf");
    ASSERT_TRUE(ParseSwf(movie, header, body));
    EXPECT_STREQ(header.signature, "CWS");
    EXPECT_EQ(header.version, 15);
    EXPECT_EQ(header.length, body.size() + 8);
    EXPECT_EQ(header.xMin, 0);
    EXPECT_EQ(header.yMin, 0);
    EXPECT_EQ(header.xMax, 1920 * 20);
    EXPECT_EQ(header.yMax, 1080 * 20);
    EXPECT_EQ(header.frameRate, 24.0);
    EXPECT_EQ(header.frameCount, 1);
    EXPECT_NE(body.find("VexalLoaderProgress"), std::string::npos);
    EXPECT_NE(body.find("noScale"), std::string::npos);
}

TEST(ScreenAssets, CommittedAssetsAreWhatTheGeneratorsMake) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    std::string out = folder.Native();
    ASSERT_EQ(std::system((std::string(VEXAL_ASSETGEN) + " " + out).c_str()), 0);
    ASSERT_EQ(std::system((std::string(VEXAL_SWFGEN) + " " + out + " " + out + "/loading.swf").c_str()), 0);
    for (const char* name : {"bg.png", "front.png", "left.png", "right.png", "track.png", "bleft.png", "bright.png",
                             "btrack.png", "loading.swf"}) {
        EXPECT_EQ(ReadNativeFile(out + "/" + name), ReadNativeFile(std::string(VEXAL_SCREEN_ASSETS) + "/" + name))
            << name << " differs from its generator's output (build the target screens-assets)";
    }
}

// The fill of the lower bar on a screenshot of the movie: the bright columns on the row through
// the middle of the track, left of the marker.
int FilledColumns(GraphicsImage* shot, int width, int height) {
    int row = height - 122 + 8;
    int start = (width - 1038 - 95) / 2 + 48;
    int filled = 0;
    for (int x = start; x < start + 1038; ++x) {
        uint32_t p = ImagePixel(shot, x, row);
        if (((p >> 8) & 0xFF) > 150 && (p & 0xFF) > 200) ++filled;
    }
    return filled;
}

// A library built with a folder of one's own shows that folder's script and pictures, and the
// defaults for any name the folder lacks.
TEST(ScreenAssets, LibraryBuiltWithAFolderOfItsOwnShowsIt) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == 0) GTEST_SKIP() << "no X display (the test command starts Xvfb)";
    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    const std::string shot = folder.Native("shot.png");
    // No package address: the run only shows its loading screen (and so ends with status 1).
    const std::string command = std::string("'") + VEXAL_HOST_PROGRAM + "' --library '" + VEXAL_OWN_ASSETS_LOADER +
                                "' --size 320x200 --seconds 2.5 --cwd '" + folder.Native("") + "' --screenshot '" +
                                shot + "@2' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str()); // 1, as said: only the screenshot counts
    cairo_surface_t* image = cairo_image_surface_create_from_png(shot.c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << command;
    auto pixel = [&](cairo_surface_t* surface, int x, int y) {
        const uint8_t* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
    };
    EXPECT_EQ(pixel(image, 250, 20), 0x2060A0u) << "the folder's script sets the background";
    EXPECT_EQ(pixel(image, 10, 10), 0xE03020u) << "the folder's own picture";
    cairo_surface_t* track = cairo_image_surface_create_from_png(VEXAL_SCREEN_ASSETS "/track.png");
    ASSERT_EQ(cairo_surface_status(track), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(pixel(image, 120, 105), pixel(track, 0, 5)) << "a picture the folder lacks comes from the defaults";
    EXPECT_NE(pixel(image, 120, 105), 0x2060A0u);
    cairo_surface_destroy(track);
    cairo_surface_destroy(image);
}

// Skips where the player cannot run, except with VEXAL_REQUIRE_MOVIE_PLAYBACK set (continuous
// integration sets it): a missing player must not let a run pass without this test.
TEST(ScreenAssets, MoviePlaysInAFlashCompatiblePlayer) {
    const std::string player = VEXAL_WEB_PLAYER_DIR;
    std::string missing;
    if (std::system("command -v node >/dev/null 2>&1") != 0) {
        missing = "node is not installed";
    } else if (std::system("test -x /usr/bin/chromium") != 0 && !std::getenv("VEXAL_CHROMIUM")) {
        missing = "chromium is not installed (tests/setup installs it as root)";
    } else if (ReadNativeFile(player + "/node_modules/@ruffle-rs/ruffle/package.json").empty() ||
               ReadNativeFile(player + "/node_modules/playwright-core/package.json").empty()) {
        missing = "the Ruffle player is not installed in " + player + " (tests/setup installs it with npm)";
    }
    if (!missing.empty() && std::getenv("VEXAL_REQUIRE_MOVIE_PLAYBACK")) FAIL() << missing;
    if (!missing.empty()) GTEST_SKIP() << missing;

    ScratchFolder folder;
    ASSERT_TRUE(folder.IsValid());
    ASSERT_TRUE(WriteNativeFile(folder.Native("loading.swf"), Embedded(u"loading.swf")));
    std::string command = "node " + std::string(VEXAL_PLAY_MOVIE_SCRIPT) + " " + player + " " +
                          folder.Native("loading.swf") + " 1280 720 " + folder.Native("shot") +
                          " 0.25 0.75 > " + folder.Native("player.log") + " 2>&1";
    int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << ReadNativeFile(folder.Native("player.log"));
    int filled[2];
    for (int i = 0; i < 2; ++i) {
        std::string png = ReadNativeFile(folder.Native("shot-" + std::to_string(i) + ".png"));
        GraphicsImage* shot = DecodeImage(reinterpret_cast<const uint8_t*>(png.data()), uint32_t(png.size()));
        ASSERT_EQ(ImageWidth(shot), 1280);
        ASSERT_EQ(ImageHeight(shot), 720);
        filled[i] = FilledColumns(shot, 1280, 720);
        DestroyImage(shot);
    }
    // 0.25 and 0.75 of 1038 columns, give or take the marker's glow and the text over the bar.
    EXPECT_NEAR(filled[0], 260, 60);
    EXPECT_NEAR(filled[1], 778, 60);
    EXPECT_GT(filled[1], filled[0] + 400);
}

} // namespace
