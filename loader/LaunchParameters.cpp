// Launch parameters: the names the host passes one at a time through _VexalSetup.
#include "loader/Loader.h"

#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "loader/LaunchValues.h"
#include "loader/LoaderTexts.h"

namespace {

bool Is(const WideChar* name, const WideChar* expected) {
    return CompareNoCase(name, expected) == 0;
}

bool IsListed(const Array<String>& list, const String& text) {
    for (const String& item : list) {
        if (item == text)
            return true;
    }
    return false;
}

// A number parameter's value as the loader stores it. A text without digits still gives 0, but a
// 0 that nobody asked for (a time-out that refuses every header, ticks at every update) is said;
// an empty value is taken as meant.
uint32_t NumberParameter(const WideChar* name, const WideChar* value) {
    if (value[0] != 0 && !HasLaunchNumber(value))
        LogTrace(LoaderText::kNoNumber, name, value);
    return uint32_t(ParseLaunchNumber(value));
}

} // namespace

// A name added here belongs in vexal-host's list too (tools/host/HostOptions.cpp): it warns about
// every name not on it.
void Vexal3DLoader::Setup(const WideChar* name, const WideChar* value) {
    if (name == _null)
        name = u"";
    if (value == _null)
        value = u"";

    if (Is(name, u"voaurl")) {
        SetPackageUrls(value);
    } else if (Is(name, u"voaparam") || Is(name, u"commonvoaparam")) {
        AppendModuleParams(value);
    } else if (Is(name, u"serverdataurl")) {
        StartServerDataDownload(value);
    } else if (Is(name, u"serverdata")) {
        ParseServerData(value);
    } else if (Is(name, u"selectedserver")) {
        if (!mReportUrl.IsEmpty()) {
            String report = mReportUrl;
            report.Append(value);
            SendPing(report);
        }
    } else if (Is(name, u"reporturl")) {
        mReportUrl = value;
    } else if (Is(name, u"appversion")) {
        mAppVersion = value;
    } else if (Is(name, u"flashversion")) {
        mFlashVersion = value;
    } else if (Is(name, u"delay")) {
        mDelay = NumberParameter(name, value);
    } else if (Is(name, u"errurl")) {
        mErrorUrl = value;
    } else if (Is(name, u"tickurl")) {
        SetTickUrl(value);
    } else if (Is(name, u"tickinterval")) {
        mTickInterval = NumberParameter(name, value);
    } else if (Is(name, u"voatimeout")) {
        mHeaderTimeout = NumberParameter(name, value);
    } else if (Is(name, u"cdnip")) {
        SplitLaunchList(value, mCdnIps);
    } else if (Is(name, u"voakey")) {
        SetPublisherKeys(value);
    } else if (Is(name, u"voagame")) {
        mExpectedGame = value;
    } else {
        // A misspelt name would otherwise be lost without a trace.
        LogTrace(LoaderText::kUnknownParameter, name);
    }
}

void Vexal3DLoader::AppendModuleParams(const WideChar* value) {
    if (mModuleParams.IsEmpty()) {
        mModuleParams = value;
        return;
    }
    if (mModuleParams[mModuleParams.GetLength() - 1] != u'|')
        mModuleParams.Append(u"|");
    mModuleParams.Append(value);
}

void Vexal3DLoader::SetPackageUrls(const WideChar* value) {
    RestartIfHeaderAccepted();
    if (mPackageHandle == _null)
        mPackageHandle = CreateWebHandle(false);
    // The download uses the handle; it must be gone before the handle's headers change.
    StopDownload();
    const int32_t firstNew = mPackageUrls.GetCount();
    SplitLaunchList(value, mPackageUrls);

    if (mCdnIps.GetCount() > 0 && mPackageUrls.GetCount() > 0) {
        // The handle keeps its headers for good: a second "voaurl" must not send the Host header
        // twice, nor cycle through the CDN variants of an address it already lists.
        const bool hostHeaderAdded = !mCdnHost.IsEmpty();
        mCdnHost = HostOfAddress(mPackageUrls[0]);
        if (!mCdnHost.IsEmpty()) {
            if (!hostHeaderAdded)
                AddWebHeader(mPackageHandle, Format(LoaderText::kHostHeader, mCdnHost.Data()));
            const String address = hostHeaderAdded && firstNew < mPackageUrls.GetCount()
                                       ? mPackageUrls[firstNew]
                                       : mPackageUrls[0];
            for (const String& ip : mCdnIps) {
                if (ip.IsEmpty())
                    continue;
                String variant = address;
                variant.ReplaceAll(mCdnHost, ip, true);
                if (!hostHeaderAdded || !IsListed(mPackageUrls, variant))
                    mPackageUrls.Append(variant);
            }
        }
    }

    mUrlIndex = 0;
    mHeaderRefusals = 0;
    mHeaderWait.Clear();
    mLastAttemptTime = TimeMilliseconds();
    // A value without any item (only blanks) adds nothing; there is then nothing to fetch yet.
    if (mPackageUrls.GetCount() > 0) {
        StartHeaderDownload(mPackageUrls[0]);
        LogTrace(LoaderText::kDownloadHeader, mPackageUrls[0].Data());
    }
    EnterState(LoaderStateHeader);
}

void Vexal3DLoader::StartHeaderDownload(const WideChar* url) {
    BeginDownload(url, &mHeaderBuffer, 0, int64_t(VEXAL_HEADER_SIZE));
}

// A package address (or server data address) arriving once a header was accepted starts the run
// again: the module pipeline begins from the first entry, and a game module already loaded is
// deleted and unloaded first, so that loading the module again cannot leak the old library.
void Vexal3DLoader::RestartIfHeaderAccepted() {
    if (mState < LoaderStateModules)
        return;
    LogTrace(LoaderText::kRestartRun, int(mState), StateName(mState));
    StopDownload();
    DropSignedDigests();
    // The next header may name another release: its delta file is asked for afresh.
    DropDelta();
    UnloadModule();
    if (!mModuleCopyPath.IsEmpty()) {
        ClearFileAttributes(mModuleCopyPath);
        DeleteFile(mModuleCopyPath);
        mModuleCopyPath.Clear();
    }
    mModuleFileName.Clear();
    mModuleBuffer.Clear();
    mModuleIndex = 0;
    mFinishSize = 0;
}
