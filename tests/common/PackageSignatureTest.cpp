// Signature files of packages: signing and reading back, every way a hostile mirror or a broken
// file can present one, the publisher key list, and the release record beside the data file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "CaptureLog.h"
#include "Source/Common/Base64.h"
#include "Source/Common/Buffer.h"
#include "Source/Common/PackageBuilder.h"
#include "Source/Common/PackageFormat.h"
#include "Source/Common/PackageSignature.h"
#include "Source/Platform/File.h"
#include "support/ScratchFolder.h"

namespace {

constexpr int64_t kNow = 1800000000;

std::string KeyText(const Ed25519SecretKey& key) {
    Ed25519PublicKey publicKey;
    EXPECT_TRUE(key.GetPublicKey(publicKey));
    char text[64];
    Base64Encode(publicKey.bytes, sizeof(publicKey.bytes), text);
    return text;
}

// A package as the builder writes it: its header bytes, their SHA-256, the fields to sign.
struct Package {
    std::string mHeaderBytes;
    PackageHeader mHeader;
    Sha256Digest mHeaderSha;
    PackageSignature mFields;
};

Package MakePackage(const char16_t* name, const std::string& gameContent) {
    PackageBuilder builder;
    builder.SetName(name);
    builder.SetCacheName(u"mygame");
    const std::string data = "level data";
    EXPECT_TRUE(builder.AddPlainModule(u"game.so", gameContent.data(), uint32_t(gameContent.size())));
    EXPECT_TRUE(builder.AddEntry(u"@voice"));
    EXPECT_TRUE(builder.AddPlainModule(u"data/level.bin", data.data(), uint32_t(data.size())));
    Buffer bytes;
    EXPECT_TRUE(builder.Finish(bytes));
    Package package;
    package.mHeaderBytes.assign(reinterpret_cast<const char*>(bytes.GetData()), kSignedHeaderSize);
    const uint8_t* header = reinterpret_cast<const uint8_t*>(package.mHeaderBytes.data());
    EXPECT_TRUE(ReadPackageHeader(header, kSignedHeaderSize, package.mHeader));
    EXPECT_TRUE(ComputeSha256(header, kSignedHeaderSize, package.mHeaderSha));
    EXPECT_TRUE(DescribeSignedHeader(header, kSignedHeaderSize, package.mFields));
    EXPECT_EQ(package.mFields.mModuleMask, 0x05) << "entries 0 and 2 have files";
    package.mFields.mRelease = 5;
    EXPECT_TRUE(ComputeSha256(gameContent.data(), gameContent.size(), package.mFields.mModules[0]));
    EXPECT_TRUE(ComputeSha256(data.data(), data.size(), package.mFields.mModules[2]));
    package.mFields.mModuleSizes[0] = uint32_t(gameContent.size());
    package.mFields.mModuleSizes[2] = uint32_t(data.size());
    return package;
}

std::string Sign(PackageSignature fields, const Ed25519SecretKey& key) {
    Buffer output;
    EXPECT_TRUE(SignPackageSignature(fields, key, output));
    return std::string(reinterpret_cast<const char*>(output.GetData()), output.GetSize());
}

// A base64 text whose character at index carries a 1 in its lowest bit: where the padding leaves
// bits over, the text is no longer the canonical one.
std::string WithSpareBit(std::string text, size_t index) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    text[index] = kAlphabet[kAlphabet.find(text[index]) | 1];
    return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

class PackageSignatures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mPublisher.Generate());
        ASSERT_TRUE(mOther.Generate());
        mPackage = MakePackage(u"My game", "the genuine game module");
    }

    SignatureCheck Judge(const std::string& file, const std::string& keyList, const Package& received,
                         uint32_t highest = 0, int64_t now = kNow) {
        Array<Ed25519PublicKey> keys;
        ReadPublisherKeys(WideText(keyList), keys);
        PackageSignature fields;
        return JudgePackageSignature(reinterpret_cast<const uint8_t*>(file.data()), file.size(), keys,
                                     received.mHeader, received.mHeaderSha, now, highest, fields);
    }

    Ed25519SecretKey mPublisher;
    Ed25519SecretKey mOther;
    Package mPackage;
};

TEST_F(PackageSignatures, SignedFileReadsBackAndIsWrittenBackByteForByte) {
    PackageSignature fields = mPackage.mFields;
    fields.mHasExpiry = true;
    fields.mExpires = kNow + 86400;
    // A name beyond the basic plane travels as one 4-byte UTF-8 sequence, not two surrogates.
    const char16_t name[] = u"Caf\u00e9 \U0001F3AE";
    std::memcpy(fields.mPackage, name, sizeof(name));
    const std::string file = Sign(fields, mPublisher);
    const std::string start = "vexal-signature 2\npackage Caf\xC3\xA9 \xF0\x9F\x8E\xAE\ncache mygame\nrelease 5\n";
    EXPECT_EQ(file.substr(0, start.size()), start);
    EXPECT_NE(file.find("\nmodule 0 " + std::to_string(fields.mModuleSizes[0]) + " "), std::string::npos);
    EXPECT_EQ(file.find("\nmodule 1 "), std::string::npos) << "an entry without a file has no line";
    EXPECT_NE(file.find("\nmodule 2 10 "), std::string::npos) << "each module line carries the file's size";

    PackageSignature read;
    ASSERT_EQ(ReadPackageSignature(reinterpret_cast<const uint8_t*>(file.data()), file.size(), read),
              kSignatureAccepted);
    EXPECT_EQ(std::u16string(read.mPackage), std::u16string(name));
    EXPECT_EQ(read.mExpires, kNow + 86400);
    EXPECT_EQ(read.mModules[2], mPackage.mFields.mModules[2]);
    EXPECT_EQ(read.mModuleSizes[2], 10u);
    EXPECT_EQ(read.mSignedSize, file.rfind("signature "));
    Buffer again;
    ASSERT_TRUE(WriteSignedText(read, again));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(again.GetData()), again.GetSize()),
              file.substr(0, read.mSignedSize));

    // What the publisher's key signed, and nothing else, passes.
    Package renamed = mPackage;
    std::memcpy(renamed.mHeader.name, name, sizeof(name));
    const SignatureCheck check = Judge(file, KeyText(mPublisher), renamed);
    EXPECT_EQ(check.mVerdict, kSignatureAccepted) << NarrowText(SignatureReasonText(check));
    EXPECT_EQ(check.mRelease, 5u);
    EXPECT_EQ(check.mKeyIndex, 0);

    // Files of the first version, whose module lines carry no size, are still read and judged;
    // a size in them, or none in the current version, is damage.
    PackageSignature first = mPackage.mFields;
    first.mVersion = 1;
    const std::string older = Sign(first, mPublisher);
    EXPECT_EQ(older.substr(0, 18), "vexal-signature 1\n");
    PackageSignature readOlder;
    ASSERT_EQ(ReadPackageSignature(reinterpret_cast<const uint8_t*>(older.data()), older.size(), readOlder),
              kSignatureAccepted);
    EXPECT_EQ(readOlder.mVersion, 1u);
    EXPECT_EQ(Judge(older, KeyText(mPublisher), mPackage).mVerdict, kSignatureAccepted);
    for (const auto& [from, to] : {std::pair<std::string, std::string>{"vexal-signature 2", "vexal-signature 1"},
                                   {"\nmodule 2 10 ", "\nmodule 2 "},
                                   {"\nmodule 2 10 ", "\nmodule 2 010 "}}) {
        std::string changed = Sign(mPackage.mFields, mPublisher);
        changed.replace(changed.find(from), from.size(), to);
        PackageSignature ignored;
        EXPECT_EQ(ReadPackageSignature(reinterpret_cast<const uint8_t*>(changed.data()), changed.size(), ignored),
                  kSignatureDamaged)
            << to;
    }
    std::string sized = older;
    sized.replace(sized.find("\nmodule 2 "), 10, "\nmodule 2 10 ");
    PackageSignature ignored;
    EXPECT_EQ(ReadPackageSignature(reinterpret_cast<const uint8_t*>(sized.data()), sized.size(), ignored),
              kSignatureDamaged);

    // Names the reader would refuse are never written.
    fields.mPackage[0] = u'\n';
    Buffer refused;
    EXPECT_FALSE(WriteSignedText(fields, refused));
    fields.mPackage[0] = char16_t(0xD800);
    EXPECT_FALSE(WriteSignedText(fields, refused));
}

TEST_F(PackageSignatures, EveryThreatHasItsReason) {
    CaptureLog log;
    const std::string publisher = KeyText(mPublisher);
    const std::string good = Sign(mPackage.mFields, mPublisher);

    PackageSignature older = mPackage.mFields;
    older.mRelease = 4;
    PackageSignature expiring = mPackage.mFields;
    expiring.mHasExpiry = true;
    expiring.mExpires = kNow;
    PackageSignature otherGame = mPackage.mFields;
    otherGame.mPackage[0] = u'X';
    PackageSignature fewerModules = mPackage.mFields;
    fewerModules.mModuleMask = 0x01;
    PackageSignature extraModule = mPackage.mFields;
    extraModule.mModuleMask = 0x07;
    // A hostile mirror's package: another game module with valid digests of its own.
    const Package rebuilt = MakePackage(u"My game", "a hostile game module");
    PackageSignature rebuiltFields = rebuilt.mFields;
    rebuiltFields.mRelease = 6;

    std::string sigLine = good.substr(good.rfind("signature "));
    std::string base64 = sigLine.substr(10, 88);
    const std::string loosePadding = WithSpareBit(base64, 85); // bits the "==" padding leaves over
    std::string upperHex = good;
    upperHex[good.find("header ") + 7] = 'A';

    struct Case {
        const char* name;
        std::string file;
        std::string keys;
        const Package* received;
        uint32_t highest;
        int64_t now;
        SignatureVerdict verdict;
        const char* reason;
    };
    const Case cases[] = {
        {"genuine", good, publisher, &mPackage, 0, kNow, kSignatureAccepted, ""},
        {"same release again", good, publisher, &mPackage, 5, kNow, kSignatureAccepted, ""},
        {"key rotation: the second listed key signs", good, KeyText(mOther) + "|" + publisher, &mPackage, 0, kNow,
         kSignatureAccepted, ""},
        {"wrong key", good, KeyText(mOther), &mPackage, 0, kNow, kSignatureBadSignature, "bad signature"},
        {"signed by an unlisted key", Sign(mPackage.mFields, mOther), publisher, &mPackage, 0, kNow,
         kSignatureBadSignature, "bad signature"},
        {"no usable key", good, "not-a-key|", &mPackage, 0, kNow, kSignatureUnknownKey, "unknown key"},
        {"release raised after signing", Replace(good, "release 5\n", "release 9\n"), publisher, &mPackage, 0, kNow,
         kSignatureBadSignature, "bad signature"},
        {"arbitrary package with the genuine signature", good, publisher, &rebuilt, 0, kNow,
         kSignatureHeaderDiffers, "header differs"},
        {"mix-and-match: another release's signature", Sign(rebuiltFields, mPublisher), publisher, &mPackage, 0,
         kNow, kSignatureHeaderDiffers, "header differs"},
        {"another game's signature", Sign(otherGame, mPublisher), publisher, &mPackage, 0, kNow,
         kSignatureOtherPackage, "other package"},
        {"rollback", Sign(older, mPublisher), publisher, &mPackage, 5, kNow, kSignatureOlderRelease,
         "older release 4 < 5"},
        {"freeze: expired", Sign(expiring, mPublisher), publisher, &mPackage, 0, kNow, kSignatureExpired, "expired"},
        {"a second before expiry", Sign(expiring, mPublisher), publisher, &mPackage, 0, kNow - 1,
         kSignatureAccepted, ""},
        {"a module line missing", Sign(fewerModules, mPublisher), publisher, &mPackage, 0, kNow, kSignatureDamaged,
         "damaged"},
        {"a module line for an entry without a file", Sign(extraModule, mPublisher), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"empty", "", publisher, &mPackage, 0, kNow, kSignatureDamaged, "damaged"},
        {"garbage", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"an HTML error page", "<html><body>404 Not Found</body></html>\n", publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"over 64 KiB", good + std::string(65536, 'x'), publisher, &mPackage, 0, kNow, kSignatureTooLarge,
         "too large"},
        {"NUL in a name", Replace(good, "package My game", std::string("package My\0game", 15)), publisher,
         &mPackage, 0, kNow, kSignatureDamaged, "damaged"},
        {"text after the signature line", good + "module 1 " + std::string(64, '0') + "\n", publisher, &mPackage, 0,
         kNow, kSignatureDamaged, "damaged"},
        {"duplicate release line", Replace(good, "release 5\n", "release 5\nrelease 5\n"), publisher, &mPackage, 0,
         kNow, kSignatureDamaged, "damaged"},
        {"duplicate module line",
         Replace(good, "\nmodule 2 ", "\n" + good.substr(good.find("module 0 "), 74) + "module 2 "), publisher,
         &mPackage, 0, kNow, kSignatureDamaged, "damaged"},
        {"lines out of order", Replace(Replace(good, "cache mygame\n", ""), "release 5\n", "release 5\ncache mygame\n"),
         publisher, &mPackage, 0, kNow, kSignatureDamaged, "damaged"},
        {"carriage returns", Replace(good, "release 5\n", "release 5\r\n"), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"leading zero", Replace(good, "release 5\n", "release 05\n"), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"release 0", Replace(good, "release 5\n", "release 0\n"), publisher, &mPackage, 0, kNow, kSignatureDamaged,
         "damaged"},
        {"release past 32 bits", Replace(good, "release 5\n", "release 4294967301\n"), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"upper-case hex", upperHex, publisher, &mPackage, 0, kNow, kSignatureDamaged, "damaged"},
        {"overlong UTF-8", Replace(good, "package My game", "package My\xC0\xA0game"), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"unknown version", Replace(good, "vexal-signature 2\n", "vexal-signature 3\n"), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"bad base64 character", Replace(good, base64, "*" + base64.substr(1)), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"base64 bits beyond the padding", Replace(good, base64, loosePadding), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"signature cut short", Replace(good, base64, base64.substr(4)), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
        {"signature without padding", Replace(good, base64, base64.substr(0, 86)), publisher, &mPackage, 0, kNow,
         kSignatureDamaged, "damaged"},
    };
    for (const Case& c : cases) {
        const SignatureCheck check = Judge(c.file, c.keys, *c.received, c.highest, c.now);
        EXPECT_EQ(check.mVerdict, c.verdict) << c.name << ": " << NarrowText(SignatureReasonText(check));
        EXPECT_EQ(NarrowText(SignatureReasonText(check)), c.reason) << c.name;
    }

    // Every cut of a genuine file is refused, never taken for a shorter valid one.
    for (size_t length = 0; length < good.size(); ++length) {
        const SignatureCheck check = Judge(good.substr(0, length), publisher, mPackage);
        ASSERT_EQ(check.mVerdict, kSignatureDamaged) << "cut at " << length;
    }
    // Exactly at the limit the file is read (and refused as damaged only for what it holds).
    EXPECT_EQ(Judge(good + std::string(65536 - good.size(), 'x'), publisher, mPackage).mVerdict, kSignatureDamaged);
}

TEST_F(PackageSignatures, KeyListReportsEachUnreadableKey) {
    CaptureLog log;
    const std::string good = KeyText(mPublisher);
    const std::string notCanonical = WithSpareBit(good, 42); // the last sextet's two spare bits
    Array<Ed25519PublicKey> keys;
    // Points of small order (the identity, one of order 8) verify forged signatures: no keys.
    const std::string identity = "AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    const std::string orderEight = "JuiVj8KyJ7BFw/SJ8u+Y8NXfrAXTxjM5sTgCiG1T/IU=";
    const std::string list = " " + good + " |" + good.substr(0, 43) + "||" + notCanonical + "|" +
                             KeyText(mOther) + "|" + good + "AAAA|\xC3\xA9|" + identity + "|" + orderEight;
    EXPECT_EQ(ReadPublisherKeys(WideText(list), keys), 2);
    ASSERT_EQ(keys.GetCount(), 2);
    Ed25519PublicKey expected;
    ASSERT_TRUE(mOther.GetPublicKey(expected));
    EXPECT_EQ(std::memcmp(keys[1].bytes, expected.bytes, sizeof(expected.bytes)), 0);
    ASSERT_EQ(log.mTrace.size(), 6u) << "one line per unreadable key, none for the empty items";
    EXPECT_EQ(log.mTrace[0], u"[Loader] Voa key not usable: " + std::u16string(WideText(good.substr(0, 43))));
    EXPECT_EQ(log.mTrace[3], u"[Loader] Voa key not usable: \u00e9");
    EXPECT_EQ(log.mTrace[5], u"[Loader] Voa key not usable: " + std::u16string(WideText(orderEight)));

    Array<Ed25519PublicKey> none;
    EXPECT_EQ(ReadPublisherKeys(u"", none), 0);
    EXPECT_EQ(ReadPublisherKeys(nullptr, none), 0);
}

TEST(SignatureAddress, SigGoesAtTheEndOfThePathBeforeAnyQuery) {
    EXPECT_EQ(std::u16string(SignatureAddress(u"http://a.example/g/game.vpk").Data()), u"http://a.example/g/game.vpk.sig");
    EXPECT_EQ(std::u16string(SignatureAddress(u"http://a.example/game.vpk?v=3&k=a?b").Data()),
              u"http://a.example/game.vpk.sig?v=3&k=a?b");
    EXPECT_EQ(std::u16string(SignatureAddress(u"http://a.example/game.vpk#top").Data()),
              u"http://a.example/game.vpk.sig#top");
}

TEST(AcceptedRelease, KeptAtomicallyNeverLoweredDamageCountsAsZero) {
    ScratchFolder scratch;
    ASSERT_TRUE(scratch.IsValid());
    const String profile = scratch.Wide("home");
    for (const char16_t* unsafe : {u"", u".", u"..", u"a/b", u"..\\x"})
        EXPECT_TRUE(AcceptedReleasePath(profile, unsafe).IsEmpty()) << NarrowText(unsafe);
    EXPECT_TRUE(AcceptedReleasePath(u"", u"mygame").IsEmpty());
    const String path = AcceptedReleasePath(profile, u"mygame");
    EXPECT_EQ(NarrowText(path), NarrowText(SystemPath(scratch.Wide("home/vexal/mygame/release"))));

    CaptureLog log;
    EXPECT_EQ(ReadAcceptedRelease(path), 0u) << "no file yet";
    ASSERT_TRUE(RecordAcceptedRelease(path, 5)) << "the folders are made";
    EXPECT_EQ(ReadNativeFile(NarrowText(path)), "5\n");
    EXPECT_TRUE(RecordAcceptedRelease(path, 4));
    EXPECT_EQ(ReadAcceptedRelease(path), 5u) << "an older release never lowers the record";
    ASSERT_TRUE(RecordAcceptedRelease(path, 4294967295u));
    EXPECT_EQ(ReadAcceptedRelease(path), 4294967295u);
    EXPECT_TRUE(log.mTrace.empty());
    // Only the record is left in the folder: no temporary file stays behind.
    std::vector<std::string> names;
    if (DIR* folder = opendir(scratch.Native("home/vexal/mygame").c_str())) {
        while (dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(folder);
    }
    EXPECT_EQ(names, std::vector<std::string>{"release"});

    for (const std::string& damage : {std::string(""), std::string("5x\n"), std::string("0\n"), std::string("05"),
                                      std::string("4294967296"), std::string("\n"), std::string(100, '7')}) {
        ASSERT_TRUE(WriteNativeFile(NarrowText(path), damage));
        log.mTrace.clear();
        EXPECT_EQ(ReadAcceptedRelease(path), 0u) << damage;
        ASSERT_EQ(log.mTrace.size(), 1u) << damage;
        EXPECT_EQ(log.mTrace[0], u"[Loader] Release file damaged, counted as 0: " + std::u16string(path.Data()));
    }
    ASSERT_TRUE(RecordAcceptedRelease(path, 2)) << "a damaged record is replaced";
    EXPECT_EQ(ReadAcceptedRelease(path), 2u);
    EXPECT_EQ(ReadNativeFile(NarrowText(path)), "2\n");

    // Whatever else stands at the record's place is damage too, reported at every reading.
    const std::string native = NarrowText(path);
    const std::string victim = scratch.Native("victim");
    ASSERT_TRUE(WriteNativeFile(victim, "keep"));
#ifdef _WIN32
    // Links on Windows need a privilege that players' accounts lack; a folder stands for them.
    for (const char* kind : {"folder"}) {
        std::remove(native.c_str());
        const int made = mkdir(native.c_str());
#else
    for (const char* kind : {"folder", "link to a folder", "link to nothing"}) {
        std::remove(native.c_str());
        const std::string what = kind;
        const int made = what == "folder"             ? mkdir(native.c_str(), 0700)
                         : what == "link to a folder" ? symlink(scratch.Native("home").c_str(), native.c_str())
                                                      : symlink(scratch.Native("gone").c_str(), native.c_str());
#endif
        ASSERT_EQ(made, 0) << kind;
        for (int run = 0; run < 2; ++run) {
            log.mTrace.clear();
            EXPECT_EQ(ReadAcceptedRelease(path), 0u) << kind;
            EXPECT_EQ(log.mTrace.size(), 1u) << kind;
        }
        rmdir(native.c_str());
    }
    // The new record never goes through what stands at a temporary name (a link on Linux, a
    // file left by another writer anywhere): another name is taken.
    std::remove(native.c_str());
    for (unsigned serial = 0; serial < 256; ++serial) {
        const std::string taken = native + "." + std::to_string(getpid()) + "-" + std::to_string(serial) + ".tmp";
#ifdef _WIN32
        ASSERT_TRUE(WriteNativeFile(taken, "keep"));
#else
        ASSERT_EQ(symlink(victim.c_str(), taken.c_str()), 0);
#endif
    }
    RecordAcceptedRelease(path, 9);
    EXPECT_EQ(ReadNativeFile(victim), "keep");
#ifdef _WIN32
    EXPECT_EQ(ReadNativeFile(native + "." + std::to_string(getpid()) + "-0.tmp"), "keep");
#endif
}

} // namespace
