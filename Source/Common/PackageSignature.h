// Signed packages: the signature file published beside a package, reading and writing it, the
// publisher keys a player trusts, the judgement of a signature against the header received, and
// the highest release a player has accepted for a game.
//
// The signature file is UTF-8 text with "\n" line ends, at most 64 KiB, in exactly this order:
//
//   vexal-signature 2
//   package <the header's name>
//   cache <the header's cacheName>
//   release <decimal, 1 or more>
//   expires <seconds since 1970 UTC>            (only when the publisher set an expiry)
//   header <SHA-256 hex of the package's first 1132 bytes>
//   module <entry index 0-7> <size of the unpacked module file> <its SHA-256 hex>   (per entry
//          with a file)
//   signature <base64 Ed25519 signature of every byte before this line>
//
// Files of version 1 ("vexal-signature 1") are still read: their module lines carry no size
// ("module <index> <SHA-256 hex>"), so a block's declared size cannot be held to anything.
//
// Only this canonical form is read: no other line, blank, "\r", NUL or byte that is not UTF-8
// is taken, numbers carry no leading zero, hex is lower case, module lines rise strictly. So one
// set of fields has one text, and whatever the reader accepts is written back byte for byte.
#pragma once

#include "Common/Array.h"
#include "Common/Types.h"
#include "Source/Common/Ed25519.h"
#include "Source/Common/Sha256.h"
#include "Source/Common/String.h"
#include "Vexal3DLoader.h"

class Buffer;

// The largest signature file that is read; a download may stop once it holds one byte more.
constexpr uint32_t kSignatureFileLimit = 65536;
// The header bytes the "header" line covers: what the header request receives.
constexpr uint32_t kSignedHeaderSize = VEXAL_HEADER_SIZE;

// The outcome of reading and judging a signature file. Every refusal has one reason text.
enum SignatureVerdict : int32_t {
    kSignatureAccepted = 0,
    kSignatureMissing,        // "missing": no signature file could be had (the downloader's finding)
    kSignatureDamaged,        // "damaged": not of the form above, or its module lines do not
                              // name exactly the header's entries with a file
    kSignatureTooLarge,       // "too large": more than kSignatureFileLimit bytes
    kSignatureUnknownKey,     // "unknown key": no usable publisher key to check it with
    kSignatureBadSignature,   // "bad signature": no listed key verifies it (a file signed with
                              // another key and a file changed after signing look the same)
    kSignatureOtherPackage,   // "other package": package or cache differ from the header's
    kSignatureHeaderDiffers,  // "header differs": the header line is not the received header's
    kSignatureExpired,        // "expired": the expiry has been reached
    kSignatureOlderRelease,   // "older release N < M": below the highest release accepted before
    kSignatureOtherGame,      // "other game": signed for another cache name than the game pinned
                              // ("voagame", or the game first accepted in the cache folder)
    kSignatureCacheNotUsable, // "cache name not usable": no release can be recorded under it
};

struct SignatureCheck {
    SignatureVerdict mVerdict;
    uint32_t mRelease; // the signed release (0 when the file was not read that far)
    uint32_t mHighest; // the highest release accepted before, as given to the check
    int32_t mKeyIndex; // the listed key that verified the file; -1 when none did
};

// The reason text of a refusal ("older release 4 < 5"), empty for kSignatureAccepted.
String SignatureReasonText(const SignatureCheck& check);

// The fields of a signature file.
struct PackageSignature {
    uint32_t mVersion;                          // 1 or 2 (the current one, which carries mModuleSizes)
    WideChar mPackage[VEXAL_HEADER_TEXT_UNITS]; // NUL-terminated, at most 31 units
    WideChar mCache[VEXAL_HEADER_TEXT_UNITS];
    uint32_t mRelease;
    bool mHasExpiry;
    int64_t mExpires; // seconds since 1970 UTC; the signature is refused from this second on
    Sha256Digest mHeader;
    uint8_t mModuleMask; // bit i set: entry i has a module line and mModules[i] holds its digest
    Sha256Digest mModules[VEXAL_MODULE_COUNT];
    uint32_t mModuleSizes[VEXAL_MODULE_COUNT]; // version 2: each module file's size in bytes
    uint8_t mSignature[kEd25519SignatureSize];
    uint32_t mSignedSize; // bytes before the signature line: what the signature covers
};

// Reads a signature file of size bytes. kSignatureAccepted with every field filled in,
// kSignatureTooLarge above kSignatureFileLimit, kSignatureDamaged for anything not of the form
// above (an empty file included). The signature itself is not checked here. Any thread.
SignatureVerdict ReadPackageSignature(const uint8_t* data, size_t size, PackageSignature& signature);

// Fills package, cache, header digest and module mask from the header bytes a header request
// receives (exactly kSignedHeaderSize bytes, read with ReadPackageHeader), and the current
// version. Release, expiry, the module digests and sizes are the caller's. False when the bytes are not kSignedHeaderSize.
bool DescribeSignedHeader(const uint8_t* headerBytes, uint32_t size, PackageSignature& signature);

// The signed part of the file (every line before "signature") from the fields. False when a
// field cannot be written in the form above: release 0, an expiry below 1, a name with a control
// character or a lone surrogate (the header would then be unsignable; the loader never could
// compare it).
bool WriteSignedText(const PackageSignature& signature, Buffer& output);
// Signs: the signed text, then the signature line. Sets mSignature and mSignedSize. False when
// WriteSignedText fails or the key cannot sign.
bool SignPackageSignature(PackageSignature& signature, const Ed25519SecretKey& key, Buffer& output);

// The signature file's address for a package address: ".sig" appended to the path, before any
// query ("?") or fragment ("#"), so "http://h/game.vpk?v=3" gives "http://h/game.vpk.sig?v=3".
String SignatureAddress(const WideChar* packageAddress);

// The publisher keys of a "|"-separated list of base64 Ed25519 public keys (blanks around each
// are ignored, empty items skipped), appended to keys. Each item that is not the base64 of 32
// bytes, or is a point of small order (IsSmallOrderEd25519Key), is written on the trace channel ("[Loader] Voa key not usable: %ls") and left out.
// Returns the number of keys taken; 0 means nothing can be verified and every signature must be
// refused (kSignatureUnknownKey).
int32_t ReadPublisherKeys(const WideChar* list, Array<Ed25519PublicKey>& keys);

// Judges a read signature file against the header received, in this order: the signature under
// any of the keys (unknown key, bad signature), package and cache against the header's name and
// cacheName (other package), the header line against the SHA-256 of the header bytes received
// (header differs), the module lines against the header's entries with a file (damaged), the
// expiry against now in seconds since 1970 UTC (expired), the release against the highest
// accepted before for this cache name (older release; an equal release passes). file is the
// signature file the fields were read from (its first mSignedSize bytes are verified). Pure:
// any thread, no state, no log line.
SignatureCheck CheckPackageSignature(const uint8_t* file, const PackageSignature& signature,
                                     const Array<Ed25519PublicKey>& keys, const PackageHeader& header,
                                     const Sha256Digest& headerSha256, int64_t now, uint32_t highestRelease);

// ReadPackageSignature then CheckPackageSignature: the whole judgement of a downloaded file.
// data may be none only when size is 0. signature receives the fields read (valid when the
// verdict is accepted). Any thread.
SignatureCheck JudgePackageSignature(const uint8_t* data, size_t size, const Array<Ed25519PublicKey>& keys,
                                     const PackageHeader& header, const Sha256Digest& headerSha256, int64_t now,
                                     uint32_t highestRelease, PackageSignature& signature);

// The highest release a player accepted for a game is kept beside the game's data file, in
// "<profile>/vexal/<cacheName>/release": the number in decimal and a line end.

// The release file's path; empty when the profile folder is empty or the cache name is not a
// usable cache name (IsSafeCacheName), since it comes from the network.
String AcceptedReleasePath(const WideChar* profileFolder, const WideChar* cacheName);
// The release stored at path; 0 when there is no file. A record that is not a regular file
// holding a release number (a folder, a link to something else or to nothing, a device, an
// unreadable file) counts as 0 and is reported on the trace channel at every reading
// ("[Loader] Release file damaged, counted as 0: %ls"). Any thread.
uint32_t ReadAcceptedRelease(const WideChar* path);
// Stores release when it is above the release stored (never lowers it), so that readers only
// ever see the old file or the new one (ReplaceFileContents: a new temporary file, never
// through a link). True when the stored release is
// now at least release. Any thread; two processes recording at once may leave either number.
bool RecordAcceptedRelease(const WideChar* path, uint32_t release);

// The game first accepted in a cache folder (the folder of the module files), which later signed
// runs there are held to when no "voagame" names the game: "<folder>/vexal-game", the cache name
// in UTF-8 and a line end.
String GameRecordPath(const WideChar* cacheFolder);
// The cache name recorded at path into game; false when there is none. A record that cannot be
// read as one usable cache name is reported on the trace channel at every reading ("[Loader]
// Game record damaged, not used: %ls") and counts as none. Any thread.
bool ReadGameRecord(const WideChar* path, WideChar game[VEXAL_HEADER_TEXT_UNITS]);
// Records the game (a usable cache name) at path, written like the release record. Any thread.
bool RecordGame(const WideChar* path, const WideChar* game);
