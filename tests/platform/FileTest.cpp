// The file object, whole-file operations, folder creation and the process's paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <fcntl.h>
#ifdef _WIN32
#include <windows.h>
#undef DeleteFile
#endif
#include <sys/stat.h>
#include <unistd.h>

#include "Source/Common/Buffer.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/Process.h"
#include "support/ScratchFolder.h"
#include "support/TestEnvironment.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

bool IsNativeFolder(const std::string& path) {
    return S_ISDIR(ModeOf(path));
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mScratch.IsValid()); }
    ScratchFolder mScratch;
};

TEST_F(FileTest, CreateForWritingMakesTheMissingFolderChain) {
    File file;
    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("one/two/three/data.bin")));
    EXPECT_TRUE(file.Write("abc", 3));
    file.Close();
    EXPECT_TRUE(IsNativeFolder(mScratch.Native("one/two/three")));
    EXPECT_EQ(ReadNativeFile(mScratch.Native("one/two/three/data.bin")), "abc");

    // Backslashes separate folders as well.
    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("back\\slash\\x.txt")));
    file.Close();
    EXPECT_EQ(ModeOf(mScratch.Native("back/slash/x.txt")) & S_IFMT, mode_t(S_IFREG));
}

TEST_F(FileTest, CreateForWritingTruncatesAReadOnlyFileAndMakesItWritable) {
    const std::string path = mScratch.Native("locked.txt");
    ASSERT_TRUE(WriteNativeFile(path, "old contents that must go"));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);

    File file;
    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("locked.txt")));
    EXPECT_EQ(file.GetSize(), 0);
    EXPECT_TRUE(file.Write("new", 3));
    file.Close();
    EXPECT_EQ(ReadNativeFile(path), "new");
    EXPECT_NE(ModeOf(path) & S_IWUSR, 0u);
}

TEST_F(FileTest, OpenForUpdateNeedsAnExistingFileAndClearsReadOnly) {
    File file;
    EXPECT_FALSE(file.OpenForUpdate(mScratch.Wide("absent.txt")));
    EXPECT_FALSE(FileExists(mScratch.Wide("absent.txt")));

    const std::string path = mScratch.Native("keep.txt");
    ASSERT_TRUE(WriteNativeFile(path, "0123456789"));
    ASSERT_EQ(chmod(path.c_str(), 0400), 0);
    ASSERT_TRUE(file.OpenForUpdate(mScratch.Wide("keep.txt")));
    EXPECT_NE(ModeOf(path) & S_IWUSR, 0u);
    EXPECT_EQ(file.GetSize(), 10);
    ASSERT_TRUE(file.Seek(4));
    EXPECT_TRUE(file.Write("xy", 2));
    EXPECT_EQ(file.Tell(), 6);
    file.Close();
    EXPECT_EQ(ReadNativeFile(path), "0123xy6789");
}

TEST_F(FileTest, FoldersAreNotFiles) {
    File file;
    EXPECT_FALSE(file.OpenForReading(mScratch.Wide()));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(FileSize(mScratch.Wide()), 0);
    EXPECT_FALSE(FileExists(mScratch.Wide()));
    EXPECT_TRUE(FolderExists(mScratch.Wide()));
}

// A pipe, a device or a socket where a file is expected is never opened, so nothing waits for
// a writer or reads without end; a file read stops at the size it had when it was opened.
TEST_F(FileTest, OnlyRegularFilesOpenAndReadsStopAtTheSizeTakenAtOpening) {
    File file;
    Buffer buffer;
#ifdef _WIN32
    // A named pipe with a free instance (an open would succeed) and the reserved device names.
    const std::string pipeName = "\\\\.\\pipe\\vexal-file-test-" + std::to_string(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, 64, 64, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const String pipe = WideText(pipeName);
    for (const String& path : {pipe, String(u"NUL"), String(u"CON")}) {
#else
    const std::string pipeName = mScratch.Native("pipe");
    ASSERT_EQ(mkfifo(pipeName.c_str(), 0600), 0);
    // Held open for writing here, so that an open for reading would not wait but succeed.
    const int writer = open(pipeName.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const String pipe = mScratch.Wide("pipe");
    for (const String& path : {pipe, String(u"/dev/zero"), String(u"/dev/null")}) {
#endif
        EXPECT_FALSE(file.OpenForReading(path)) << NarrowText(path);
        EXPECT_FALSE(file.OpenForUpdate(path)) << NarrowText(path);
        EXPECT_FALSE(ReadFileToBuffer(buffer, path)) << NarrowText(path);
        EXPECT_EQ(PathKindOf(path), kPathOther) << NarrowText(path);
    }
    EXPECT_FALSE(file.CreateForWriting(pipe));
    EXPECT_FALSE(WriteBufferToFile("x", pipe, 1));
#ifdef _WIN32
    CloseHandle(server);
#else
    close(writer);
    ASSERT_EQ(symlink(mScratch.Native("gone").c_str(), mScratch.Native("dangling").c_str()), 0);
    EXPECT_EQ(PathKindOf(mScratch.Wide("dangling")), kPathOther);
#endif
    EXPECT_EQ(PathKindOf(mScratch.Wide("gone")), kPathMissing);
    EXPECT_EQ(PathKindOf(mScratch.Wide()), kPathFolder);

    ASSERT_TRUE(WriteNativeFile(mScratch.Native("growing"), "0123456789"));
    ASSERT_TRUE(file.OpenForReading(mScratch.Wide("growing")));
    EXPECT_EQ(PathKindOf(mScratch.Wide("growing")), kPathFile);
    const int appender = open(mScratch.Native("growing").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(appender, 0);
    ASSERT_EQ(write(appender, "abcde", 5), 5);
    close(appender);
    EXPECT_EQ(file.GetSize(), 10);
    ASSERT_TRUE(file.ReadAll(buffer));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize()), "0123456789");
    char more[8];
    uint32_t read = 1;
    EXPECT_TRUE(file.Read(more, sizeof more, &read));
    EXPECT_EQ(read, 0u);
}

TEST_F(FileTest, WriteFollowsItsSuccessRules) {
    File file;
    uint32_t written = 99;
    EXPECT_FALSE(file.Write("abc", 3));
    EXPECT_FALSE(file.Write("abc", 3, &written));
    EXPECT_EQ(written, 0u);

    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("w.bin")));
    EXPECT_TRUE(file.Write(nullptr, 0));
    // A missing data pointer is reported, and nothing is written.
    SetLogSinks(
        nullptr, nullptr, [](const WideChar*, void*, uint8_t) {}, nullptr);
    EXPECT_FALSE(file.Write(nullptr, 5));
    SetLogSinks(nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(file.Write("hello", 5, &written));
    EXPECT_EQ(written, 5u);
    file.Close();
    EXPECT_FALSE(file.Write("x", 1));

    // A file opened for reading refuses writes.
    ASSERT_TRUE(file.OpenForReading(mScratch.Wide("w.bin")));
    EXPECT_FALSE(file.Write("x", 1));
    EXPECT_FALSE(file.Write("x", 1, &written));
    file.Close();
    EXPECT_EQ(ReadNativeFile(mScratch.Native("w.bin")), "hello");
}

TEST_F(FileTest, WriteTextUsesTheObjectsEncoding) {
    const WideChar text[] = u"A\u00e9\u4e2d";
    File file;
    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("u16.txt")));
    file.SetTextEncoding(kFileTextUtf16);
    EXPECT_TRUE(file.WriteText(text));
    EXPECT_TRUE(file.WriteText(u""));
    file.Close();
    EXPECT_EQ(ReadNativeFile(mScratch.Native("u16.txt")), std::string("A\0\xe9\0\x2d\x4e", 6));

    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("u8.txt")));
    file.SetTextEncoding(kFileTextUtf8);
    EXPECT_TRUE(file.WriteText(text));
    file.Close();
    EXPECT_EQ(ReadNativeFile(mScratch.Native("u8.txt")), "A\xc3\xa9\xe4\xb8\xad");

    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("ansi.txt")));
    file.SetTextEncoding(kFileTextAnsi);
    EXPECT_TRUE(file.WriteText(u"plain ASCII"));
    file.Close();
    EXPECT_EQ(ReadNativeFile(mScratch.Native("ansi.txt")), "plain ASCII");
}

TEST_F(FileTest, SetSizeKeepsThePosition) {
    File file;
    ASSERT_TRUE(file.CreateForWriting(mScratch.Wide("s.bin")));
    ASSERT_TRUE(file.Write("0123456789", 10));
    ASSERT_TRUE(file.Seek(3));
    EXPECT_TRUE(file.SetSize(20));
    EXPECT_EQ(file.Tell(), 3);
    EXPECT_EQ(file.GetSize(), 20);
    EXPECT_TRUE(file.SetSize(5));
    EXPECT_EQ(file.Tell(), 3);
    EXPECT_TRUE(file.SeekToEnd());
    EXPECT_EQ(file.Tell(), 5);
    EXPECT_FALSE(file.Seek(-1));
    file.Close();
    EXPECT_EQ(file.Tell(), 0);
    EXPECT_EQ(ReadNativeFile(mScratch.Native("s.bin")), "01234");
}

TEST_F(FileTest, ReadAllReadsFromTheCurrentPosition) {
    ASSERT_TRUE(WriteNativeFile(mScratch.Native("r.bin"), "abcdef"));
    File file;
    Buffer buffer;
    ASSERT_TRUE(file.OpenForReading(mScratch.Wide("r.bin")));
    ASSERT_TRUE(file.ReadAll(buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.GetData()), buffer.GetSize()), "abcdef");
    // Six more bytes cannot be had from position 2.
    ASSERT_TRUE(file.Seek(2));
    EXPECT_FALSE(file.ReadAll(buffer));
    file.Close();
    EXPECT_FALSE(file.ReadAll(buffer));
}

TEST_F(FileTest, ReadFileToBufferNamesTheBuffer) {
    Buffer buffer;
    EXPECT_FALSE(ReadFileToBuffer(buffer, mScratch.Wide("missing.bin")));
    EXPECT_EQ(FileSize(mScratch.Wide("missing.bin")), 0);

    ASSERT_TRUE(WriteNativeFile(mScratch.Native("empty.bin"), ""));
    ASSERT_TRUE(ReadFileToBuffer(buffer, mScratch.Wide("empty.bin")));
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_TRUE(buffer.GetName() == mScratch.Wide("empty.bin"));

    ASSERT_TRUE(WriteNativeFile(mScratch.Native("seven.bin"), std::string("a\0b\0c\xff\n", 7)));
    ASSERT_TRUE(ReadFileToBuffer(buffer, mScratch.Wide("seven.bin")));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.GetData()), buffer.GetSize()),
              std::string("a\0b\0c\xff\n", 7));
    EXPECT_EQ(FileSize(mScratch.Wide("seven.bin")), 7);
}

TEST_F(FileTest, WriteBufferToFileLeavesExactlyTheNewBytes) {
    const std::string path = mScratch.Native("module.dll");
    ASSERT_TRUE(WriteNativeFile(path, std::string(100, 'o')));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(WriteBufferToFile("0123456789", mScratch.Wide("module.dll"), 10));
    EXPECT_EQ(ReadNativeFile(path), "0123456789");

    // Created with its folders when absent; without data only sized.
    EXPECT_TRUE(WriteBufferToFile(nullptr, mScratch.Wide("new/dir/zero.bin"), 4));
    EXPECT_EQ(ReadNativeFile(mScratch.Native("new/dir/zero.bin")), std::string(4, '\0'));
    EXPECT_TRUE(WriteBufferToFile("x", mScratch.Wide("new/dir/zero.bin"), 0));
    EXPECT_EQ(FileSize(mScratch.Wide("new/dir/zero.bin")), 0);

    // A folder in the way is a failure.
    EXPECT_FALSE(WriteBufferToFile("x", mScratch.Wide("new"), 1));
}

// Files left at the temporary names (a crashed writer's) are neither written nor removed: the
// replacement takes the next free name. The names count from 0 in a process of this test alone.
TEST_F(FileTest, ReplacementTakesAFreeTemporaryName) {
    const std::string path = mScratch.Native("release");
    const std::string prefix = path + "." + std::to_string(CurrentProcessId()) + "-";
    for (int serial = 0; serial < 4; ++serial)
        ASSERT_TRUE(WriteNativeFile(prefix + std::to_string(serial) + ".tmp", "left"));
    EXPECT_TRUE(ReplaceFileContents(mScratch.Wide("release"), "7\n", 2));
    EXPECT_EQ(ReadNativeFile(path), "7\n");
    for (int serial = 0; serial < 4; ++serial)
        EXPECT_EQ(ReadNativeFile(prefix + std::to_string(serial) + ".tmp"), "left");
}

TEST_F(FileTest, CreateDirectoryPathRules) {
    EXPECT_FALSE(CreateDirectoryPath(u""));
    EXPECT_FALSE(CreateDirectoryPath(nullptr));
    EXPECT_TRUE(CreateDirectoryPath(mScratch.Wide()));
    // A drive name succeeds without making anything.
    EXPECT_TRUE(CreateDirectoryPath(mScratch.Wide("C:")));
    EXPECT_FALSE(IsNativeFolder(mScratch.Native("C:")));

    EXPECT_TRUE(CreateDirectoryPath(mScratch.Wide("a/b/c")));
    EXPECT_TRUE(IsNativeFolder(mScratch.Native("a/b/c")));
    EXPECT_TRUE(CreateDirectoryPath(mScratch.Wide("a/b/c/d/")));
    EXPECT_TRUE(IsNativeFolder(mScratch.Native("a/b/c/d")));

    // A file where a folder should be stops the chain.
    ASSERT_TRUE(WriteNativeFile(mScratch.Native("a/file"), "x"));
    EXPECT_FALSE(CreateDirectoryPath(mScratch.Wide("a/file/sub")));
    EXPECT_FALSE(CreateDirectoryPath(mScratch.Wide("a/file")));
}

TEST_F(FileTest, DeleteFileClearsReadOnlyFirst) {
    const std::string path = mScratch.Native("old.dll");
    ASSERT_TRUE(WriteNativeFile(path, "x"));
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_TRUE(FileExists(mScratch.Wide("old.dll")));
    EXPECT_TRUE(DeleteFile(mScratch.Wide("old.dll")));
    EXPECT_FALSE(FileExists(mScratch.Wide("old.dll")));
    EXPECT_FALSE(DeleteFile(mScratch.Wide("old.dll")));
    EXPECT_FALSE(ClearFileAttributes(mScratch.Wide("old.dll")));
}

TEST_F(FileTest, NonAsciiPathsRoundTrip) {
    const String path = mScratch.Wide("d\xc3\xa9j\xc3\xa0/\xe4\xb8\xad.txt");
    ASSERT_TRUE(WriteBufferToFile("ok", path, 2));
    EXPECT_EQ(ReadNativeFile(mScratch.Native("d\xc3\xa9j\xc3\xa0/\xe4\xb8\xad.txt")), "ok");
    EXPECT_EQ(FileSize(path), 2);
}

TEST(ProcessPaths, CurrentDirectoryExecutableAndProfile) {
    char native[4096];
    ASSERT_NE(getcwd(native, sizeof(native)), nullptr);
    EXPECT_EQ(NarrowText(CurrentDirectory()), native);

#ifdef _WIN32
    // The module path and the profile folder are the system's own answers on Windows.
    const std::string program = NarrowText(HostExecutablePath());
    EXPECT_NE(program.find(":\\"), std::string::npos) << program;
    EXPECT_EQ(program.substr(program.size() - 4), ".exe") << program;
    EXPECT_FALSE(UserProfileFolder().IsEmpty());
#else
    ssize_t length = readlink("/proc/self/exe", native, sizeof(native) - 1);
    ASSERT_GT(length, 0);
    native[length] = 0;
    EXPECT_EQ(NarrowText(HostExecutablePath()), native);

    const char* home = getenv("HOME");
    std::string saved = home != nullptr ? home : "";
    SetTestEnvironment("HOME", "/home/someone");
    EXPECT_EQ(NarrowText(UserProfileFolder()), "/home/someone");
    // Without $HOME the password database answers.
    UnsetTestEnvironment("HOME");
    EXPECT_FALSE(UserProfileFolder().IsEmpty());
    if (home != nullptr)
        SetTestEnvironment("HOME", saved.c_str());
#endif
}

TEST_F(FileTest, MovingAFileMovesItsHandle) {
    File first;
    ASSERT_TRUE(first.CreateForWriting(mScratch.Wide("m.bin")));
    first.SetTextEncoding(kFileTextUtf8);
    File second(std::move(first));
    EXPECT_FALSE(first.IsOpen());
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(second.GetTextEncoding(), kFileTextUtf8);
    EXPECT_TRUE(second.Write("m", 1));
    second.Close();
    EXPECT_EQ(ReadNativeFile(mScratch.Native("m.bin")), "m");
}

} // namespace
