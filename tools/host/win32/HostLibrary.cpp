// The loader library as a Windows host sees it: LoadLibraryW, its eight exports by name.
#include "HostLibrary.h"

#include <windows.h>

#include <string>

namespace {

std::wstring Wide(const std::string& text) {
    int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size_t(length > 0 ? length : 1), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], length);
    out.resize(wcslen(out.c_str()));
    return out;
}

std::string Narrow(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length > 0 ? length : 1), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

// The system's own text for an error code, without its line end.
std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = text != nullptr ? Narrow(text) : "error " + std::to_string(code);
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) message.pop_back();
    return message;
}

template <typename T>
bool Bind(void* handle, const char* name, T& slot, std::string& error) {
    slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name)));
    if (slot == nullptr) {
        error = std::string("the library does not export ") + name;
        return false;
    }
    return true;
}

} // namespace

bool HostLibrary::Load(const std::string& path, std::string& error) {
    Unload();
    mHandle = LoadLibraryW(Wide(path).c_str());
    if (mHandle == nullptr) {
        error = "cannot load " + path + ": " + SystemMessage(GetLastError());
        return false;
    }
    if (!Bind(mHandle, "_VexalCreate", mCreate, error) || !Bind(mHandle, "_VexalDelete", mDelete, error) ||
        !Bind(mHandle, "_VexalSetup", mSetup, error) || !Bind(mHandle, "_VexalStart", mStart, error) ||
        !Bind(mHandle, "_VexalUpdate", mUpdate, error) || !Bind(mHandle, "_VexalRender", mRender, error) ||
        !Bind(mHandle, "_VexalMessage", mMessage, error) || !Bind(mHandle, "_VexalProgress", mProgress, error)) {
        error = path + ": " + error;
        Unload();
        return false;
    }
    return true;
}

void HostLibrary::Unload() {
    if (mHandle != nullptr) FreeLibrary(static_cast<HMODULE>(mHandle));
    mHandle = nullptr;
    mCreate = nullptr;
    mDelete = nullptr;
    mSetup = nullptr;
    mStart = nullptr;
    mUpdate = nullptr;
    mRender = nullptr;
    mMessage = nullptr;
    mProgress = nullptr;
}

std::string ExecutableFolder() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, DWORD(sizeof(path) / sizeof(path[0])));
    if (length == 0 || length >= sizeof(path) / sizeof(path[0])) return std::string();
    std::string text = Narrow(path);
    size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}
