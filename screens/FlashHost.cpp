// FlashHost: the Flash loading screen's control, its window and the movie variables.
#include "screens/FlashHost.h"

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/DebugOutput.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Log.h"
#include "screens/ScreenAsset.h"
#include "screens/ScreenTexts.h"
#include "screens/Vexal3DLoader_Flash.h"

namespace {

constexpr uint32_t kRightButtonDown = 0x0204;
// The UTF-8 converter's buffer for one user-data text: 1023 bytes and the terminator.
constexpr int32_t kUserDataBytes = 1024;
// The longest temporary folder taken from the environment, as long as a current directory can be.
constexpr int32_t kMovieFolderUnits = 1024;

bool IsAbsent(const String& value) { return value.IsEmpty() || value == ScreenText::kMovieNull; }

// The folder the movie file is written to: the current directory, or the temporary folder when
// that cannot be read (a path formed from an empty folder would put the file at the root).
String MovieFolder() {
    String folder = CurrentDirectory();
    if (!folder.IsEmpty()) return folder;
    WideChar temporary[kMovieFolderUnits + 1];
    if (ReadEnvironmentVariable(ScreenText::kTemporaryVariable, temporary, kMovieFolderUnits + 1) &&
        temporary[0] != 0 && String(temporary).GetLength() < kMovieFolderUnits)
        return String(temporary);
    return String(ScreenText::kTemporaryFallback);
}

} // namespace

String UserDataPath() { return SystemPath(Format(ScreenText::kUserDataFile, CurrentDirectory().Data())); }

FlashHost::FlashHost(Vexal3DLoader_Flash* loader)
    : mLoader(loader), mFlash(_null), mAxWindow(_null), mCreated(false), mResizePending(false),
      mOrigWndProc(_null), mOrigUserData(0) {
    IFlashPlatform* platform = GetFlashPlatform();
    platform->InitializeModule(mModule);
    platform->InitializeComponents();
    FlashWindow host = FlashWindow(mLoader->GetHostWindow());

    int32_t right = 0, bottom = 0;
    platform->GetClientRect(host, &right, &bottom);
    if (right != 0 && bottom != 0) {
        mResizePending = false;
    } else {
        right = 1;
        bottom = 1;
        mResizePending = true;
    }

    mAxWindow = new FlashWindow(platform->CreateHostingWindow(host, kFlashHostWindowClass, kFlashControlClassId, 0,
                                                              0, right, bottom));
    mCreated = *mAxWindow != 0;
    if (mCreated) {
        FlashWindow control = platform->GetFirstChild(*mAxWindow);
        if (control != 0) {
            mOrigWndProc = platform->SetWindowProcedure(control, &FlashHost::FlashWindowProc);
            mOrigUserData = platform->SetWindowUserData(control, intptr_t(this));
        }
        IFlashControl* unknown = platform->GetHostedControl(*mAxWindow);
        if (!unknown) return;
        mFlash = unknown->QueryFlashPlayer();
        unknown->Release();
        if (!mFlash) return;
        mFlash->PutBackgroundColor(0);
        String version;
        mFlash->GetVariable(ScreenText::kMovieVersion, version);
        if (!version.IsEmpty()) {
            version.ReplaceChar(u' ', u'_');
            version.ReplaceChar(u',', u'_');
            mLoader->Setup(ScreenText::kFlashVersionParameter, version);
        }
    }
    String path = UserDataPath();
    ClearFileAttributes(path);
    DeleteFile(path);
}

FlashHost::~FlashHost() {
    IFlashPlatform* platform = GetFlashPlatform();
    if (mOrigWndProc && mAxWindow) {
        FlashWindow control = platform->GetFirstChild(*mAxWindow);
        if (control != 0) {
            platform->SetWindowProcedure(control, mOrigWndProc);
            platform->SetWindowUserData(control, mOrigUserData);
        }
    }
    if (mFlash) {
        mFlash->Release();
        mFlash = _null;
    }
    if (mAxWindow) {
        if (*mAxWindow != 0 && platform->IsWindow(*mAxWindow) && platform->DestroyWindow(*mAxWindow)) *mAxWindow = 0;
        delete mAxWindow;
        mAxWindow = _null;
    }
    platform->UnregisterWindowClass(kFlashHostWindowClass);
    platform->UnregisterWindowClass(kFlashHostLicenseClass);
    platform->TerminateModule(mModule);
}

bool FlashHost::LoadMovieAsset(const WideChar* name) {
    String path = SystemPath(Format(ScreenText::kAssetPath, MovieFolder().Data(), name));
    Buffer movie;
    if (!ReadScreenAsset(name, movie)) return false;
    WriteBufferToFile(movie.GetData(), path, movie.GetSize());
    if (!mFlash || mFlash->LoadMovie(0, path) != 0) return false;
    mFlash->Play();

    IFlashPlatform* platform = GetFlashPlatform();
    int32_t right = 0, bottom = 0;
    platform->GetClientRect(FlashWindow(mLoader->GetHostWindow()), &right, &bottom);
    if (right != 0 && bottom != 0) {
        mResizePending = false;
        mFlash->SetZoomRect(0, 0, right, bottom);
    } else {
        mResizePending = true;
    }
    mFlash->PutMenu(false);
    for (const WideChar* watched : ScreenText::kWatchedNames) mWatchedNames.Append(String(watched));
    for (const WideChar* watched : ScreenText::kWatchedNames) mFlash->SetVariable(watched, ScreenText::kMovieNull);
    return true;
}

void FlashHost::SetMovieVariable(const WideChar* name, const WideChar* value) {
    if (mFlash) mFlash->SetVariable(name, value);
}

void FlashHost::ResizeControl(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return;
    if (mAxWindow) GetFlashPlatform()->ResizeClientArea(*mAxWindow, width, height);
    if (mFlash) mFlash->SetZoomRect(0, 0, width, height);
}

void FlashHost::PollMovie() {
    if (mResizePending) {
        int32_t right = 0, bottom = 0;
        GetFlashPlatform()->GetClientRect(FlashWindow(mLoader->GetHostWindow()), &right, &bottom);
        ResizeControl(right, bottom);
        mResizePending = false;
    }
    if (!mFlash) return;
    mFlash->SetVariable(ScreenText::kMovieProgress, Format(ScreenText::kMovieFigure, double(mLoader->GetProgress())));
    mFlash->SetVariable(ScreenText::kMovieSpeed, Format(ScreenText::kMovieFigure, double(mLoader->GetSpeed())));

    for (int32_t i = 0; i < mWatchedNames.GetCount();) {
        // A copy: Setup below may reach the movie again, and the entry is removed after it.
        String name = mWatchedNames[i];
        String value;
        mFlash->GetVariable(name, value);
        if (IsAbsent(value)) {
            ++i;
            continue;
        }
        if (name == ScreenText::kTraceIndex) {
            if (value != mLastTraceIndex) {
                String message;
                mFlash->GetVariable(Format(ScreenText::kTraceMessage, value.Data()), message);
                LogTrace(ScreenText::kMovieLog, value.Data(), message.Data());
                mLastTraceIndex = value;
            }
            ++i;
        } else if (name == ScreenText::kUserDataIndex) {
            if (value != mLastUserDataIndex) {
                String data;
                mFlash->GetVariable(Format(ScreenText::kUserData, value.Data()), data);
                AppendUserData(data);
                mLastUserDataIndex = value;
            }
            ++i;
        } else {
            mLoader->Setup(name, value);
            mWatchedNames.RemoveAt(i);
        }
    }
}

intptr_t FlashHost::FlashWindowProc(FlashWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == kRightButtonDown) return 0;
    IFlashPlatform* platform = GetFlashPlatform();
    FlashHost* host = reinterpret_cast<FlashHost*>(platform->GetWindowUserData(window));
    if (host && host->mOrigWndProc) {
        platform->SetWindowProcedure(window, host->mOrigWndProc);
        platform->SetWindowUserData(window, host->mOrigUserData);
        intptr_t result = platform->CallWindowProcedure(host->mOrigWndProc, window, message, wParam, lParam);
        // Whatever the control's procedure changed stays the original for the next message.
        host->mOrigWndProc = platform->SetWindowProcedure(window, &FlashHost::FlashWindowProc);
        host->mOrigUserData = platform->SetWindowUserData(window, intptr_t(host));
        return result;
    }
    return platform->DefaultWindowProcedure(window, message, wParam, lParam);
}

void AppendUserData(const WideChar* text) {
    if (!text || !text[0]) return;
    String path = UserDataPath();
    File file;
    if (!FileExists(path)) {
        if (!file.CreateForWriting(path)) return;
        file.Close();
    }
    if (!file.OpenForUpdate(path)) return;
    if (file.SeekToEnd()) {
        char bytes[kUserDataBytes];
        int32_t length = 0;
        Utf16ToUtf8(bytes, kUserDataBytes, text, -1, &length);
        if (!file.Write(bytes, uint32_t(length))) LogTrace(ScreenText::kUserDataWriteFailed, text);
    }
    file.Close();
}
