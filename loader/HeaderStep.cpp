// The package header step: fetch the header, check it, fall back through the package addresses.
#include "loader/Loader.h"

#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/Log.h"
#include "loader/LoaderTexts.h"
#include "Source/Common/PackageFormat.h"

void Vexal3DLoader::HeaderStep() {
    if (mPackageUrls.GetCount() == 0)
        return;
    // A header passed its checks and waits for the size probe: nothing else moves meanwhile.
    if (mProbe != _null) {
        ProbeStep();
        return;
    }
    if (mSignaturePending) {
        SignatureStep();
        return;
    }
    if (HeaderRetryWaiting())
        return;

    // An address that can never give this header (it is not there, not for us, or no address
    // at all) is left at once, as if it had sent a wrong one.
    if (IsTransferRefused(mDownload)) {
        LogTrace(LoaderText::kHeaderRefused, CurrentPackageUrl());
        FallBack(LoaderText::kHeaderTimeout);
        ShowHeaderProgress(0.0f);
        return;
    }
    // Measured as a difference so that the millisecond timer's wrap (every 49.7 days) neither
    // cuts an attempt short nor stretches it.
    const uint32_t now = TimeMilliseconds();
    if (mDownloadProgress == 0.0f && now - mLastAttemptTime > mHeaderTimeout) {
        // Stopping the stalled transfer does not wait, so the next address's time starts now.
        // The time-out counts as a refusal: once every address has failed, the next attempt
        // waits, instead of one address after the other being asked at once for ever.
        mLastAttemptTime = now;
        FallBack(LoaderText::kHeaderTimeout);
    }

    const float fraction = mDownloadProgress;
    ShowHeaderProgress(fraction);
    if (fraction < 1.0f)
        return;

    StopDownload();

    if (mHeaderBuffer.GetSize() != VEXAL_HEADER_SIZE) {
        FallBack(LoaderText::kHeaderSize);
        return;
    }
    ReadPackageHeader(mHeaderBuffer.GetData(), mHeaderBuffer.GetSize(), mHeader);
    KeepHeaderSha256();
    mHeaderBuffer.Clear();
    mResSize = int32_t(ModuleSizeTotal(mHeader));

    const Digest expectedKey = PackageKeyDigest();
    if (mHeader.magic != VEXAL_PACKAGE_MAGIC) {
        LogTrace(LoaderText::kBadMagic, mHeader.magic);
        FallBack(LoaderText::kVoaNotCorrect);
        return;
    }
    if (mHeader.version == 2 && DigestFromWords(mHeader.key) != expectedKey) {
        LogTrace(LoaderText::kBadKey, DigestToText(DigestFromWords(mHeader.key)).Data());
        FallBack(LoaderText::kVoaNotCorrect);
        return;
    }
    // The module names decide which files are deleted and written: a header naming a file
    // outside the current directory is not taken.
    if (!HeaderNamesAreSafe()) {
        FallBack(LoaderText::kVoaNotCorrect);
        return;
    }

    // The header's own answer names the package's length in its Content-Range: a warm run then
    // costs its header and nothing more. Only without it does the size probe run, beside the
    // host's thread; later updates look for its answer.
    if (mDownloadResourceLength >= 0) {
        CheckPackageSize(mDownloadResourceLength);
        return;
    }
    mProbe = StartProbe(CurrentPackageUrl(), mHeaderTimeout);
    if (mProbe == _null)
        CheckPackageSize(0);
}

void Vexal3DLoader::ShowHeaderProgress(float fraction) {
    // Before the first byte: a hundredth for each address reached in the list.
    if (fraction != 0.0f)
        mProgress = float(double(0.1f) * double(fraction));
    else
        mProgress = float(double(0.1f) * double(mUrlIndex + 1) / 10.0);
}

void Vexal3DLoader::ProbeStep() {
    // The header download has ended: the display stays at its end until the probe answers.
    ShowHeaderProgress(1.0f);
    String contentType;
    int64_t length = 0;
    switch (FinishProbe(mProbe, contentType, length)) {
    case kProbeRunning:
        return;
    case kProbeTimedOut:
        mProbe = _null;
        LogTrace(LoaderText::kSizeNotChecked, mHeaderTimeout, CurrentPackageUrl());
        break;
    case kProbeAnswered:
    case kProbeNoAnswer:
        mProbe = _null;
        break;
    }
    CheckPackageSize(length);
}

void Vexal3DLoader::CheckPackageSize(int64_t reportedLength) {
    // Sizes are unsigned 32-bit: a package may reach 4 GiB. A missing length (-1) never matches.
    const uint32_t length = uint32_t(reportedLength);
    const uint32_t expectedSize = ExpectedPackageSize(mHeader);
    if (length != 0 && length != expectedSize) {
        LogTrace(LoaderText::kBadPackageSize, length, expectedSize);
        FallBack(LoaderText::kVoaNotCorrect);
        return;
    }
    if (!StartSignatureCheck())
        EnterModulePhase();
}

void Vexal3DLoader::EnterModulePhase() {
    mHeaderRefusals = 0;
    mBlockWait.Clear();
    mBlockAddressChanges = 0;
    mBlockFailuresHere = 0;
    mBlockWriteFailures = 0;
    mBlockUnwritten = false;
    EnterState(LoaderStateModules);
    if (mRunMode <= kLastFetchingRunMode) {
        if (!NextModule())
            LoadModule();
    } else {
        mModuleFileName = LoaderText::kLocalModuleName;
        LoadModule();
    }
}

bool Vexal3DLoader::HeaderNamesAreSafe() {
    for (const ModuleEntry& entry : mHeader.modules) {
        if (!ModuleHasFile(entry))
            continue;
        const String name = ModuleFileName(entry);
        if (!IsSafeModuleFileName(name)) {
            LogTrace(LoaderText::kUnsafeName, name.Data());
            return false;
        }
    }
    return true;
}

void Vexal3DLoader::FallBack(const WideChar* message) {
    mUrlIndex = (mUrlIndex + 1) % uint32_t(mPackageUrls.GetCount());
    LogTrace(message, CurrentPackageUrl());
    StopDownload();
    RetryHeader();
}
