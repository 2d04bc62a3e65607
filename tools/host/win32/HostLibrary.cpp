// The host's library loading over LoadLibraryW, and where the running program is.
#include "HostLibrary.h"

#include <windows.h>

#include <string>

#include "win32/WideText.h"

namespace {

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

} // namespace

void* OpenLibraryFile(const std::string& path, std::string& reason) {
    HMODULE handle = LoadLibraryW(Wide(path).c_str());
    if (handle == nullptr) reason = SystemMessage(GetLastError());
    return handle;
}

void* FindLibraryExport(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibraryFile(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

std::string ExecutableFolder() {
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, DWORD(sizeof(path) / sizeof(path[0])));
    if (length == 0 || length >= sizeof(path) / sizeof(path[0])) return std::string();
    std::string text = Narrow(path);
    size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : text.substr(0, slash);
}
