// The pings: the tick address, the periodic and final ticks and the report; and the server data
// that names the default package address and game server.
#include "loader/Loader.h"

#include <cstdlib>
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"
#include "regex/PatternSearch.h"
#include "loader/LoaderTexts.h"

namespace {

// The work the server-data searches may do: this many steps per unit of text, plus a base.
constexpr int64_t kServerDataStepsPerUnit = 2;
constexpr int64_t kServerDataStepsBase = 1 << 16;

} // namespace

void Vexal3DLoader::SendPing(const WideChar* url)
{
    if (mPingHandle == _null)
        mPingHandle = CreateWebHandle(true);
    SendWebRequest(url, mPingHandle);
}

String Vexal3DLoader::VersionSuffix() const
{
    if (mAppVersion.IsEmpty())
        return String();
    String suffix(LoaderText::kVersionItem);
    suffix.Append(mAppVersion);
    return suffix;
}

void Vexal3DLoader::SetTickUrl(const WideChar* value)
{
    mTickUrl = value;
    if (!mRunId.IsEmpty() && mTickUrl.Find(LoaderText::kRunIdItem, true) < 0) {
        mTickUrl.Append(LoaderText::kRunIdItem);
        mTickUrl.Append(mRunId);
    }
    if (!mClientVersion.IsEmpty() && mTickUrl.Find(LoaderText::kClientVersionItem, true) < 0) {
        mTickUrl.Append(LoaderText::kClientVersionItem);
        mTickUrl.Append(mClientVersion);
    }
    if (!mFlashVersion.IsEmpty()) {
        mTickUrl.Append(LoaderText::kFlashVersionItem);
        mTickUrl.Append(mFlashVersion);
    }
    SendPing(Format(LoaderText::kFirstTick, mTickUrl.Data(), int(mState)));
}

void Vexal3DLoader::PeriodicTick(uint32_t elapsedMs)
{
    if (mTickUrl.IsEmpty())
        return;
    mTickElapsed += elapsedMs;
    if (mTickElapsed >= mTickMark + mTickInterval) {
        mTickMark += mTickInterval;
        SendPing(Format(LoaderText::kPeriodicTick, mTickUrl.Data(), int(mState), double(mProgress),
                        VersionSuffix().Data(), int(mTickMark / 1000)));
    }
}

void Vexal3DLoader::FinalTick()
{
    if (mTickElapsed == 0)
        return;
    if (!mTickUrl.IsEmpty())
        SendPing(Format(LoaderText::kFinalTick, mTickUrl.Data(), int(mState), VersionSuffix().Data(),
                        int(mTickElapsed / 1000)));
    mTickMark = 0;
    mTickElapsed = 0;
}

void Vexal3DLoader::StartServerDataDownload(const WideChar* url)
{
    RestartIfHeaderAccepted();
    if (mPackageHandle == _null)
        mPackageHandle = CreateWebHandle(false);
    StopDownload();
    BeginDownload(url, &mServerDataBuffer, 0, -1);
    LogTrace(LoaderText::kDownloadServerData, url);
    EnterState(LoaderStateServerData);
}

void Vexal3DLoader::ServerDataStep()
{
    if (mDownloadProgress.load() < 1.0f)
        return;
    StopDownload();
    mDownloadProgress.store(0.0f);
    EnterState(LoaderStateServerDataReady);

    static const uint8_t kTerminator = 0;
    mServerDataBuffer.Append(&kTerminator, 1);
    WideChar* text = Utf8ToUtf16(_null, 0, reinterpret_cast<const char*>(mServerDataBuffer.GetData()));
    Setup(u"serverdata", text != _null ? text : u"");
    std::free(text);
}

void Vexal3DLoader::ParseServerData(const WideChar* text)
{
    if (text == _null)
        return;
    int32_t start = 0, end = 0;
    PatternSearch search;
    const int32_t length = String::Length(text);
    // The searches run on the host's thread. A well-formed list costs a few steps per unit;
    // a text that opens the key's list again and again without closing it would make the lazy
    // search rescan the rest of the line from every opening. Past the bound the data is refused.
    const int64_t stepLimit = int64_t(length) * kServerDataStepsPerUnit + kServerDataStepsBase;
    search.SetStepLimit(stepLimit);
    search.Compile(String(LoaderText::kDefaultPattern));
    if (search.Search(text, length, &start, &end, 1, false) < 1) {
        if (search.WasStopped())
            LogTrace(LoaderText::kServerDataTooHard, length);
        return;
    }
    // The match is "default": followed by the digits of the key.
    const String key(text + start + 10, end - start - 10);
    if (key.IsEmpty())
        return;

    String pattern = Format(LoaderText::kListPattern, key.Data());
    pattern.Append(LoaderText::kListRestPattern);
    search.Compile(pattern);
    if (search.Search(text, length, &start, &end, 1, false) < 1) {
        if (search.WasStopped())
            LogTrace(LoaderText::kServerDataTooHard, length);
        return;
    }
    const String match(text + start, end - start);
    const int32_t bracket = match.FindChar(u'[', true);
    const String list = match.Mid(bracket + 1, match.GetLength() - bracket - 2);

    Array<String> items;
    Split(list, items, u",", u" \t");
    if (items.GetCount() < 8)
        return;
    if (!items[5].IsEmpty()) {
        String url = items[5];
        url.TrimLeftChar(u'"', true);
        url.TrimRightChar(u'"', true);
        Setup(u"voaurl", url);
    }
    if (!items[6].IsEmpty() && !items[7].IsEmpty()) {
        String host = items[7];
        host.TrimLeftChar(u'"', true);
        host.TrimRightChar(u'"', true);
        Setup(u"voaparam", Format(LoaderText::kHostParam, host.Data(), items[6].Data()));
    }
}
