// The install as its users meet it: the build installed into a scratch folder, then a host and
// a game module written outside this tree built against it with nothing but pkg-config, and
// again with nothing but find_package, each running a whole load from nginx; and the installed
// vexal-host finding the installed library on its own. Only installed files are used.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/ScratchFolder.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Installed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mScratch.IsValid());
        mRoot = mScratch.Native("root");
        mPrefix = mRoot + VEXAL_INSTALL_PREFIX;
        mLibDir = mPrefix + "/" VEXAL_INSTALL_LIBDIR;
        CommandRun install = RunCommand("DESTDIR='" + mRoot + "' '" VEXAL_CMAKE "' --install '" VEXAL_BINARY_DIR "'");
        ASSERT_EQ(install.mStatus, 0) << install.mOutput;
        for (const char* folder : {"www", "cache", "home", "nginx", "work"})
            ASSERT_EQ(mkdir(mScratch.Native(folder).c_str(), 0755), 0);
        std::string error;
        ASSERT_TRUE(mServer.Start(mScratch.Native("www"), mScratch.Native("nginx"), error)) << error;
    }

    // Packs module as the game module of www/game.vpk with the installed vexal-pack.
    void Package(const std::string& module, const std::string& name) {
        CommandRun built = RunCommand("'" + mPrefix + "/bin/vexal-pack' build --out '" + mScratch.Native("www/game.vpk") +
                                      "' --name " + name + " --cache-name " + name + " --zlib '" + module + "=game.so'");
        ASSERT_EQ(built.mStatus, 0) << built.mOutput;
    }

    // Runs a host command line in the cache folder with a home of its own.
    CommandRun Run(const std::string& command) {
        return RunCommand("cd '" + mScratch.Native("cache") + "' && HOME='" + mScratch.Native("home") + "' " + command);
    }

    // The third-party host's run of the third-party module from nginx, start to hand-off.
    void ExpectWholeRun(const std::string& host, const std::string& name) {
        CommandRun run = Run("'" + host + "' '" + mServer.Url("/game.vpk") + "'");
        EXPECT_EQ(run.mStatus, 0) << run.mOutput;
        EXPECT_TRUE(Has(run.mOutput, "game: created from package \"" + name + "\"")) << run.mOutput;
        EXPECT_TRUE(Has(run.mOutput, "host: progress 1")) << run.mOutput;
        EXPECT_TRUE(Has(run.mOutput, "game: has the window")) << run.mOutput;
        EXPECT_TRUE(Has(run.mOutput, "game: deleted")) << run.mOutput;
    }

    ScratchFolder mScratch;
    NginxServer mServer;
    std::string mRoot, mPrefix, mLibDir;
};

TEST_F(Installed, PkgConfigAloneBuildsAHostAndGameModuleThatLoadFromNginxFromAnotherPrefix) {
    // Installed into a prefix other than the configured one, as into ~/.local or /opt: the .pc
    // file must name the files where they are, and no other .pc file is visible.
    const std::string prefix = mScratch.Native("opt");
    CommandRun install = RunCommand("'" VEXAL_CMAKE "' --install '" VEXAL_BINARY_DIR "' --prefix '" + prefix + "'");
    ASSERT_EQ(install.mStatus, 0) << install.mOutput;
    const std::string pkgConfig = "PKG_CONFIG_LIBDIR='" + prefix + "/" VEXAL_INSTALL_LIBDIR "/pkgconfig' pkg-config ";
    std::string path; // the library's, named first
    for (const char* variable : {"demomodule", "includedir", "loaderlibrary"}) {
        CommandRun shown = RunCommand(pkgConfig + "--variable=" + variable + " vexal3d-loader");
        ASSERT_EQ(shown.mStatus, 0) << shown.mOutput;
        path = shown.mOutput.substr(0, shown.mOutput.find('\n'));
        EXPECT_EQ(path.rfind(prefix + "/", 0), 0u) << variable << ": " << path;
        ASSERT_EQ(access(path.c_str(), R_OK), 0) << variable << ": " << path;
    }

    const std::string source = VEXAL_THIRDPARTY_DIR;
    const std::string work = mScratch.Native("work");
    CommandRun built = RunCommand(
        "set -e; cflags=$(" + pkgConfig + "--cflags vexal3d-loader); cd '" + work + "'; "
                                                                                    "cc -std=c11 -Wall -Werror " VEXAL_THIRDPARTY_FLAGS " $cflags -DLOADER_LIBRARY='\"" +
        path + "\"' '" + source +
        "/host.c' -o host -ldl; "
        "cc -std=c11 -Wall -Werror -shared -fPIC -fvisibility=hidden " VEXAL_THIRDPARTY_FLAGS " $cflags '" +
        source +
        "/game.c' -o game.so");
    ASSERT_EQ(built.mStatus, 0) << built.mOutput;
    Package(work + "/game.so", "PkgConfigGame");
    ExpectWholeRun(work + "/host", "PkgConfigGame");
}

TEST_F(Installed, FindPackageAloneBuildsAHostAndGameModuleThatLoadFromNginx) {
    const std::string work = mScratch.Native("work");
    CommandRun built = RunCommand("'" VEXAL_CMAKE "' -S '" VEXAL_THIRDPARTY_DIR "' -B '" + work +
                                  "' -DCMAKE_PREFIX_PATH='" + mPrefix + "' -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF "
                                                                        "-DCMAKE_C_FLAGS='-Wall -Werror " VEXAL_THIRDPARTY_FLAGS "' && '" VEXAL_CMAKE "' --build '" +
                                  work + "'");
    ASSERT_EQ(built.mStatus, 0) << built.mOutput;
    Package(work + "/game.so", "CMakeGame");
    ExpectWholeRun(work + "/host", "CMakeGame");
}

TEST_F(Installed, InstalledHostRunsTheDemoWithTheInstalledLibraryAndEveryToolHasItsManual) {
    // Nothing beside the installed vexal-host: the library comes from the install's own folder.
    ASSERT_NE(access((mPrefix + "/bin/Vexal3DLoader-Flash.so").c_str(), F_OK), 0);
    Package(mLibDir + "/vexal3d/vexal-demo-module.so", "Demo");
    CommandRun run = Run("'" + mPrefix + "/bin/vexal-host' --headless --until-ready --seconds 60 voaurl=" +
                         mServer.Url("/game.vpk"));
    EXPECT_EQ(run.mStatus, 0) << run.mOutput;
    EXPECT_TRUE(Has(run.mOutput, "demo: handed over")) << run.mOutput;
    EXPECT_TRUE(Has(run.mOutput, "ready after ")) << run.mOutput;

    for (const char* tool : {"vexal-host", "vexal-pack", "vexal-screen", "vexal-regex", "vexal-ticks"}) {
        EXPECT_EQ(access((mPrefix + "/bin/" + tool).c_str(), X_OK), 0) << tool;
        const std::string page = mPrefix + "/share/man/man1/" + tool + ".1.gz";
        CommandRun shown = RunCommand("gzip -dc '" + page + "' | head -1");
        EXPECT_TRUE(Has(shown.mOutput, ".TH")) << page;
    }
    EXPECT_EQ(access((mPrefix + "/include/vexal3d/Vexal3DLoader.h").c_str(), R_OK), 0);
    EXPECT_EQ(access((mPrefix + "/share/vexal3d/screen/loading-gdi.lua").c_str(), R_OK), 0);
}

} // namespace
