// Every text the loader core writes or sends, in one place, exactly as other systems read them.
#pragma once

#include "Common/Types.h"

namespace LoaderText {

// Identity.
inline constexpr const WideChar* kRunId = u"%ls_%d%02d%02d%02d%02d%02d";

// Launch parameters.
inline constexpr const WideChar* kHostHeader = u"Host: %ls";
inline constexpr const WideChar* kDownloadHeader = u"[Loader] Download voa header : %ls";
inline constexpr const WideChar* kDownloadServerData = u"[Loader] Download server data : %ls";
inline constexpr const WideChar* kUnknownParameter = u"[Loader] Unknown launch parameter ignored: %ls";
inline constexpr const WideChar* kNoNumber = u"[Loader] Launch parameter %ls has no number: \"%ls\", taken as 0";
inline constexpr const WideChar* kRestartRun = u"[Loader] Package address set again in state %d (%ls), starting the run again";

// Header step.
inline constexpr const WideChar* kHeaderTimeout = u"[Loader] Download voa header failed, try backup url: %ls";
inline constexpr const WideChar* kHeaderSize = u"[Loader] Voa header size not correct, try backup url: %ls";
inline constexpr const WideChar* kBadMagic = u"[Loader] The magic code in header is not correct: 0x%x";
inline constexpr const WideChar* kBadKey = u"[Loader] The key in header is not correct: %ls";
inline constexpr const WideChar* kUnsafeName = u"[Loader] Unsafe VOB file name in header: %ls";
inline constexpr const WideChar* kBadPackageSize = u"[Loader] The voa size returned is not correct: %u, %u expected";
inline constexpr const WideChar* kSizeNotChecked = u"[Loader] Voa size not checked: no answer headers within %u ms from %ls";
inline constexpr const WideChar* kHeaderRefused = u"[Loader] Voa header address refuses the download: %ls";
inline constexpr const WideChar* kHeaderRetryWait = u"[Loader] Every package address refused its header, waiting %u ms before trying %ls";
inline constexpr const WideChar* kVoaNotCorrect = u"[Loader] Voa not correct, try backup url: %ls";
inline constexpr const WideChar* kLocalModuleName = u"vexal3d.vob";

// Signed packages.
inline constexpr const WideChar* kSignatureRefused = u"[Loader] Voa signature not accepted (%ls), try backup url: %ls";
inline constexpr const WideChar* kSignatureAccepted = u"[Loader] Voa signature accepted: release %u, key %d (%s)";
inline constexpr const WideChar* kNoUsableKey = u"[Loader] Voa key given without a usable key: every package address is refused";
inline constexpr const WideChar* kReleaseNotRecorded = u"[Loader] Accepted release %u not recorded: %ls";
inline constexpr const WideChar* kSignedChecksum = u"[Loader] VOB(%d) signed checksum not correct";
inline constexpr const WideChar* kSignedSize = u"[Loader] VOB(%d) block unpacks to %u bytes, %u signed: not unpacked";
inline constexpr const WideChar* kGameNotRecorded = u"[Loader] Accepted game %ls not recorded: %ls";

// Module pipeline.
inline constexpr const WideChar* kCopyName = u"%ls-%d.%ls";
inline constexpr const WideChar* kCopyNameNoExtension = u"%ls-%d";
inline constexpr const WideChar* kDownloadModule = u"[Loader] Download VOB(%d) from url: %ls";
inline constexpr const WideChar* kDecompressFailed = u"[Loader] Decompress VOB(%d) failed";
inline constexpr const WideChar* kChecksum = u"[Loader] VOB(%d) checksum not correct: %ls, %ls expected";
inline constexpr const WideChar* kNotRegularFile = u"[Loader] VOB(%d) file is not a regular file, not read: %ls";
inline constexpr const WideChar* kCreateFileFailed = u"[Loader] Create VOB(%d) file failed: %ls";
inline constexpr const WideChar* kWriteRetry = u"[Loader] VOB(%d) not written (%ls), kept to write again in %u ms";
inline constexpr const WideChar* kFolderTakesNoFile = u"[Loader] The module folder takes no new file (%ls): %ls";
inline constexpr const WideChar* kBlockRefused = u"[Loader] VOB(%d) address refuses the download: %ls";
inline constexpr const WideChar* kBlockRetryWait = u"[Loader] VOB(%d) fetched again in %u ms from url: %ls";
inline constexpr const WideChar* kLoadFailed = u"[Loader] Load VOB failed: %ls";
inline constexpr const WideChar* kLoadFailedReason = u"[Loader] Load VOB failed, reason: %ls";
inline constexpr const WideChar* kCreateFailed = u"[Loader] Create VOB failed: %ls, %ls";
inline constexpr const WideChar* kDataFilePath = u"%ls/vexal/%ls/%ls.vod";
// Patches from a cached file to the new one.
inline constexpr const WideChar* kDeltaExtension = u".delta";
inline constexpr const WideChar* kDeltaNotServed = u"[Loader] Delta file not used, fetching blocks: no answer from %ls";
inline constexpr const WideChar* kDeltaDamaged = u"[Loader] Delta file not used, fetching blocks: its index is damaged: %ls";
inline constexpr const WideChar* kDownloadPatch = u"[Loader] Download VOB(%d) patch from url: %ls";
inline constexpr const WideChar* kPatched = u"[Loader] VOB(%d) patched: %u bytes instead of %u";
inline constexpr const WideChar* kPatchNotUsed = u"[Loader] VOB(%d) patch not used (%ls), fetching its block";
inline constexpr const WideChar* kPatchNotServed = u"not served";
inline constexpr const WideChar* kPatchWrongSize = u"wrong size";
inline constexpr const WideChar* kPatchDoesNotApply = u"does not apply";
inline constexpr const WideChar* kPatchChecksum = u"checksum";
inline constexpr const WideChar* kPatchNotWritten = u"file not written";
inline constexpr const WideChar* kPatchTooLarge = u"file too large to hold twice";
inline constexpr const WideChar* kDataFileTooLarge = u"[Loader] VOD too large, delete it : %ls";
// The config text's tick pieces, appended one after another (not formatted in one go, since the
// formatter's output is limited): params, "|tickurl|", the tick address, "&sg=" with the state,
// the version suffix, "|tickinterval|" with the interval. kConfigTickName is what the module
// parameters are searched for: when they name a tick address of their own, none is added.
inline constexpr const WideChar* kConfigTickName = u"tickurl";
inline constexpr const WideChar* kConfigTickUrl = u"|tickurl|";
inline constexpr const WideChar* kConfigTickState = u"&sg=%d";
inline constexpr const WideChar* kConfigTickInterval = u"|tickinterval|%d";
inline constexpr const WideChar* kConfigCdnHost = u"|cdnhost|";
inline constexpr const WideChar* kConfigErrorUrl = u"errurl";

// The loader's end.
inline constexpr const WideChar* kLongestUpdate = u"[Loader] Longest update outside the blocking steps: %.3f ms";

// States, ticks and server data.
inline constexpr const WideChar* kEnterState = u"[Loader] Enter state %d (%ls)";
inline constexpr const WideChar* kStateTick = u"%ls&sg=%d%ls";
inline constexpr const WideChar* kFirstTick = u"%ls&sg=%d";
inline constexpr const WideChar* kPeriodicTick = u"%ls&sg=%d&pg=%f%ls&m=0&t=%d";
inline constexpr const WideChar* kFinalTick = u"%ls&sg=%d%ls&m=0&t=%d&f=1";
inline constexpr const WideChar* kVersionItem = u"&av=";
inline constexpr const WideChar* kRunIdItem = u"&s=";
inline constexpr const WideChar* kClientVersionItem = u"&cv=";
inline constexpr const WideChar* kFlashVersionItem = u"&fv=";
inline constexpr const WideChar* kDefaultPattern = u"\"default\":\\d+";
inline constexpr const WideChar* kListPattern = u"\"%ls\":\\[";
inline constexpr const WideChar* kListRestPattern = u".+?\\]";
inline constexpr const WideChar* kHostParam = u"host|%ls:%ls";
inline constexpr const WideChar* kServerDataTooHard = u"[Loader] Server data not used: searching its %d characters took too long";

} // namespace LoaderText
