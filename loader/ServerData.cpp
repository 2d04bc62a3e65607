// The pings: the tick address, the periodic and final ticks and the report; and the server data
// that names the default package address and game server.
#include "loader/Loader.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/WorkerThread.h"
#include "regex/PatternSearch.h"
#include "loader/LoaderTexts.h"

// What the searches found in a server data text.
struct ServerDataList {
    // The default server's list, split at its commas; empty when none was found.
    Array<String> mItems;
    // A search reached its bound; mLength units were searched.
    bool mTooHard = false;
    int32_t mLength = 0;
};

namespace {

// The work the server-data searches may do: this many steps per unit of text, plus a base.
constexpr int64_t kServerDataStepsPerUnit = 2;
constexpr int64_t kServerDataStepsBase = 1 << 16;

// The default server's list in a server data text: the items between the brackets, split.
void FindDefaultList(const WideChar* text, int32_t length, ServerDataList& found) {
    found.mLength = length;
    int32_t start = 0, end = 0;
    PatternSearch search;
    // A well-formed list costs a few steps per unit; a text that opens the key's list again and
    // again without closing it would make the lazy search rescan the rest of the line from every
    // opening. Past the bound the data is refused.
    search.SetStepLimit(int64_t(length) * kServerDataStepsPerUnit + kServerDataStepsBase);
    search.Compile(String(LoaderText::kDefaultPattern));
    if (search.Search(text, length, &start, &end, 1, false) < 1) {
        found.mTooHard = search.WasStopped();
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
        found.mTooHard = search.WasStopped();
        return;
    }
    const String match(text + start, end - start);
    const int32_t bracket = match.FindChar(u'[', true);
    const String list = match.Mid(bracket + 1, match.GetLength() - bracket - 2);
    Split(list, found.mItems, u",", u" \t");
}

// The received bytes up to their first zero (one is appended) as wide text, freed with free;
// none when they cannot be converted.
WideChar* ServerDataText(Buffer& received) {
    static const uint8_t kTerminator = 0;
    received.Append(&kTerminator, 1);
    return Utf8ToUtf16(_null, 0, reinterpret_cast<const char*>(received.GetData()));
}

} // namespace

// Downloaded server data on its way to the loader: converting a megabyte of text takes
// milliseconds and searching it, bounded as the search is, up to a tenth of a second (a text that
// reopens a list without end), so both run on a worker while the host's thread goes on. The worker
// owns the received bytes, the text and the result until it has answered; the host's thread reads
// them only after that. Deleting a search still running waits for its end.
class ServerDataSearch {
public:
    explicit ServerDataSearch(Buffer& received) {
        mReceived.Swap(received);
        mWorker = CreateWorker(Run, this);
        // No thread to be had: the text is converted and searched here, at once.
        if (mWorker == _null)
            Run(_null, this, 0);
    }
    ~ServerDataSearch() {
        // An answered search's thread only has to end, which nobody needs to wait for.
        if (IsDone())
            ReleaseWorker(mWorker);
        else
            DestroyWorker(mWorker);
        std::free(mText);
    }
    ServerDataSearch(const ServerDataSearch&) = delete;
    ServerDataSearch& operator=(const ServerDataSearch&) = delete;

    // Searched on a worker of its own (otherwise already done in the constructor).
    bool HasWorker() const { return mWorker != _null; }
    bool IsDone() const { return mDone.load(std::memory_order_acquire); }
    // Valid once IsDone.
    const WideChar* Text() const { return mText != _null ? mText : u""; }
    const ServerDataList& Result() const { return mResult; }

private:
    static uint8_t Run(WorkerThread*, void* data, int32_t) {
        ServerDataSearch* self = static_cast<ServerDataSearch*>(data);
        self->mText = ServerDataText(self->mReceived);
        const WideChar* text = self->Text();
        FindDefaultList(text, String::Length(text), self->mResult);
        self->mDone.store(true, std::memory_order_release);
        return 0;
    }

    Buffer mReceived;
    WideChar* mText = _null;
    ServerDataList mResult;
    std::atomic<bool> mDone{false};
    WorkerThread* mWorker = _null;
};

void Vexal3DLoader::SendPing(const WideChar* url) {
    if (mPingHandle == _null)
        mPingHandle = CreateWebHandle(true);
    SendWebRequest(url, mPingHandle);
}

String Vexal3DLoader::VersionSuffix() const {
    if (mAppVersion.IsEmpty())
        return String();
    String suffix(LoaderText::kVersionItem);
    suffix.Append(mAppVersion);
    return suffix;
}

void Vexal3DLoader::SetTickUrl(const WideChar* value) {
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
    // An address without a query yet: the items added begin it, or the tick's state item would
    // end up in the path and the server would see no query at all.
    const String given(value);
    if (!given.IsEmpty() && given.FindChar(u'?') < 0) {
        const String items = mTickUrl.Mid(given.GetLength() + 1);
        const bool itemsAdded = mTickUrl.GetLength() > given.GetLength();
        mTickUrl = given;
        mTickUrl.Append(u"?");
        if (itemsAdded)
            mTickUrl.Append(items);
    }
    SendPing(Format(LoaderText::kFirstTick, mTickUrl.Data(), int(mState)));
}

void Vexal3DLoader::PeriodicTick(uint32_t elapsedMs) {
    if (mTickUrl.IsEmpty())
        return;
    mTickElapsed += elapsedMs;
    if (mTickElapsed >= mTickMark + mTickInterval) {
        mTickMark += mTickInterval;
        SendPing(Format(LoaderText::kPeriodicTick, mTickUrl.Data(), int(mState), double(mProgress),
                        VersionSuffix().Data(), int(mTickMark / 1000)));
    }
}

void Vexal3DLoader::FinalTick() {
    if (mTickElapsed == 0)
        return;
    if (!mTickUrl.IsEmpty())
        SendPing(Format(LoaderText::kFinalTick, mTickUrl.Data(), int(mState), VersionSuffix().Data(),
                        int(mTickElapsed / 1000)));
    mTickMark = 0;
    mTickElapsed = 0;
}

void Vexal3DLoader::StartServerDataDownload(const WideChar* url) {
    RestartIfHeaderAccepted();
    if (mPackageHandle == _null)
        mPackageHandle = CreateWebHandle(false);
    StopDownload();
    DropServerDataSearch();
    BeginDownload(url, &mServerDataBuffer, 0, -1);
    LogTrace(LoaderText::kDownloadServerData, url);
    EnterState(LoaderStateServerData);
}

void Vexal3DLoader::ServerDataStep() {
    if (mDownloadProgress < 1.0f)
        return;
    StopDownload();
    EnterState(LoaderStateServerDataReady);

    mServerDataSearch = new (std::nothrow) ServerDataSearch(mServerDataBuffer);
    if (mServerDataSearch != _null) {
        // Searched already when no thread could be had: applied in this update. A worker's
        // answer is always applied in a later one.
        if (!mServerDataSearch->HasWorker())
            ServerDataSearchStep();
        return;
    }
    // No memory for the search: the text is converted and searched here.
    WideChar* text = ServerDataText(mServerDataBuffer);
    Setup(u"serverdata", text != _null ? text : u"");
    std::free(text);
}

void Vexal3DLoader::ServerDataSearchStep() {
    if (!mServerDataSearch->IsDone())
        return;
    const std::unique_ptr<ServerDataSearch> search(mServerDataSearch);
    mServerDataSearch = _null;
    // A "voaurl" or new server data given while the search ran has the last word.
    if (mState != LoaderStateServerDataReady)
        return;
    // Through the virtual slot, so that the subclass may take the text; the base class then
    // uses what the worker found instead of searching again.
    mSearchedServerData = &search->Result();
    Setup(u"serverdata", search->Text());
    mSearchedServerData = _null;
}

void Vexal3DLoader::ParseServerData(const WideChar* text) {
    if (text == _null)
        return;
    if (mSearchedServerData != _null) {
        const ServerDataList& found = *mSearchedServerData;
        mSearchedServerData = _null;
        UseServerDataList(found);
        return;
    }
    // Text the host passes itself is searched within its call, and has the last word over a
    // download's search still running.
    DropServerDataSearch();
    ServerDataList found;
    FindDefaultList(text, String::Length(text), found);
    UseServerDataList(found);
}

void Vexal3DLoader::DropServerDataSearch() {
    delete mServerDataSearch;
    mServerDataSearch = _null;
}

void Vexal3DLoader::UseServerDataList(const ServerDataList& found) {
    if (found.mTooHard) {
        LogTrace(LoaderText::kServerDataTooHard, found.mLength);
        return;
    }
    const Array<String>& items = found.mItems;
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
