// The file module's behaviour, the same on every system: the file object, whole-file writes and
// replacements, folder creation. The system calls under it are in the platform's File.cpp.
#include "Source/Platform/File.h"

#include <atomic>
#include <cstdlib>

#include "Source/Common/Buffer.h"
#include "Source/Common/StringEncoding.h"
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/FileNative.h"
#include "Source/Platform/Log.h"
#include "Source/Platform/Process.h"

namespace {

const WideChar kModule[] = u"Source/Platform/File";
// ReadAll refuses files of this size and more.
constexpr int64_t kReadAllLimit = int64_t(1) << 31;
// The temporary names ReplaceFileContents tries before it gives up.
constexpr int kTemporaryAttempts = 64;

bool IsValidPath(const WideChar* path) {
    return path != _null && path[0] != 0;
}

bool IsFolder(const WideChar* path) {
    bool folder = false;
    return IsValidPath(path) && NativeFile::Stat(path, &folder) && folder;
}

// Creates one folder, accepting one made meanwhile (by us earlier or by another process).
bool MakeFolder(const WideChar* path) {
    if (IsFolder(path) || NativeFile::MakeFolder(path))
        return true;
    return NativeFile::IsExistsError(NativeFile::Error()) && IsFolder(path);
}

void NoteFailure(String* failure, int32_t error) {
    if (failure != _null)
        *failure = NativeFile::ErrorText(error);
}

// A name of its own per process and call, so that writers of the same file never share one: the
// stem, then the process, the caller's next serial and the ending.
String UniqueName(String stem, std::atomic<uint32_t>& serial, const WideChar* ending) {
    stem.Append(Format(u"%u-%u%ls", CurrentProcessId(), serial.fetch_add(1), ending));
    return stem;
}

} // namespace

File::File() : mHandle(-1), mTextEncoding(kFileTextAnsi), mReadEnd(-1) {}

File::~File() {
    Close();
}

File::File(File&& other) noexcept
    : mHandle(other.mHandle), mTextEncoding(other.mTextEncoding), mReadEnd(other.mReadEnd) {
    other.mHandle = -1;
    other.mReadEnd = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        mHandle = other.mHandle;
        mTextEncoding = other.mTextEncoding;
        mReadEnd = other.mReadEnd;
        other.mHandle = -1;
        other.mReadEnd = -1;
    }
    return *this;
}

bool File::Open(const WideChar* path, int flags) {
    Close();
    if (!IsValidPath(path))
        return false;
    const NativeFile::OpenMode mode = NativeFile::OpenMode(flags);
    int64_t size = 0;
    const intptr_t handle = NativeFile::Open(path, mode, &size);
    if (handle < 0)
        return false;
    mHandle = handle;
    // Reads stop at the size the file has now, however another writer grows it meanwhile.
    mReadEnd = mode == NativeFile::kOpenRead ? size : -1;
    return true;
}

bool File::OpenForReading(const WideChar* path) {
    return Open(path, NativeFile::kOpenRead);
}

bool File::OpenForUpdate(const WideChar* path) {
    Close();
    if (!IsValidPath(path) || !NativeFile::MakeWritable(path))
        return false;
    return Open(path, NativeFile::kOpenUpdate);
}

bool File::CreateForWriting(const WideChar* path) {
    Close();
    if (!IsValidPath(path))
        return false;
    int32_t cut = -1;
    for (int32_t i = 0; path[i] != 0; ++i) {
        if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':')
            cut = i;
    }
    // A failure here shows as a failure to create the file below; the folder's cause is the one
    // the caller hears when the file failed only for want of its folder.
    int32_t folderError = 0;
    if (cut > 0 && !CreateDirectoryPath(String(path, cut)))
        folderError = NativeFile::Error();
    NativeFile::MakeWritable(path);
    const bool opened = Open(path, NativeFile::kOpenCreate);
    if (!opened && NativeFile::Error() == NativeFile::MissingPathError() && folderError != 0)
        NativeFile::SetError(folderError);
    return opened;
}

void File::Close() {
    if (mHandle >= 0) {
        NativeFile::Close(mHandle);
        mHandle = -1;
    }
    mReadEnd = -1;
}

bool File::Write(const void* data, uint32_t count, uint32_t* written) {
    if (written != _null)
        *written = 0;
    if (mHandle < 0)
        return false;
    if (count == 0)
        return true;
    if (!VEXAL_CHECK(data != _null, u"buffer != _null", kModule))
        return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < count) {
        uint32_t step = 0;
        if (!NativeFile::Write(mHandle, bytes + done, count - done, &step)) {
            if (done == 0)
                return false;
            break;
        }
        if (step == 0)
            break;
        done += step;
    }
    if (written != _null) {
        *written = done;
        return true;
    }
    return done == count;
}

bool File::WriteText(const WideChar* text) {
    if (mHandle < 0)
        return false;
    if (text == _null || text[0] == 0)
        return true;
    if (mTextEncoding == kFileTextUtf16) {
        int32_t length = String::Length(text);
        return Write(text, uint32_t(length) * sizeof(WideChar));
    }
    int32_t length = 0;
    char* converted = mTextEncoding == kFileTextUtf8 ? Utf16ToUtf8(_null, 0, text, -1, &length)
                                                     : WideToAnsi(_null, 0, text, -1, &length);
    if (converted == _null)
        return false;
    bool ok = length <= 0 || Write(converted, uint32_t(length));
    free(converted);
    return ok;
}

bool File::Read(void* data, uint32_t count, uint32_t* read) {
    if (read != _null)
        *read = 0;
    if (mHandle < 0)
        return false;
    if (count == 0)
        return true;
    if (!VEXAL_CHECK(data != _null, u"buffer != _null", kModule))
        return false;
    if (mReadEnd >= 0) {
        const int64_t left = mReadEnd - Tell();
        if (left < int64_t(count))
            count = left > 0 ? uint32_t(left) : 0;
    }
    uint8_t* bytes = static_cast<uint8_t*>(data);
    uint32_t done = 0;
    while (done < count) {
        uint32_t step = 0;
        if (!NativeFile::Read(mHandle, bytes + done, count - done, &step))
            return false;
        if (step == 0)
            break;
        done += step;
    }
    if (read != _null)
        *read = done;
    return true;
}

bool File::ReadAll(Buffer& buffer) {
    if (mHandle < 0)
        return false;
    int64_t size = GetSize();
    if (size < 0 || size >= kReadAllLimit)
        return false;
    if (!buffer.Resize(uint32_t(size)))
        return false;
    if (size == 0)
        return true;
    if (!VEXAL_CHECK(buffer.GetData() != _null, u"buffer != _null", kModule))
        return false;
    uint32_t got = 0;
    return Read(buffer.GetData(), uint32_t(size), &got) && got >= uint32_t(size);
}

bool File::Seek(int64_t position) {
    return mHandle >= 0 && position >= 0 && NativeFile::Seek(mHandle, position, NativeFile::kFromStart) >= 0;
}

bool File::SeekToEnd() {
    return mHandle >= 0 && NativeFile::Seek(mHandle, 0, NativeFile::kFromEnd) >= 0;
}

int64_t File::Tell() const {
    if (mHandle < 0)
        return 0;
    const int64_t position = NativeFile::Seek(mHandle, 0, NativeFile::kFromCurrent);
    return position < 0 ? 0 : position;
}

int64_t File::GetSize() const {
    if (mHandle < 0)
        return 0;
    if (mReadEnd >= 0)
        return mReadEnd;
    return NativeFile::Size(mHandle);
}

bool File::SetSize(int64_t size) {
    return mHandle >= 0 && size >= 0 && NativeFile::Resize(mHandle, size);
}

int64_t FileSize(const WideChar* path) {
    File file;
    if (!file.OpenForReading(path))
        return 0;
    int64_t size = file.GetSize();
    file.Close();
    return size;
}

bool ReadFileToBuffer(Buffer& buffer, const WideChar* path) {
    File file;
    if (!file.OpenForReading(path))
        return false;
    bool ok = file.ReadAll(buffer);
    file.Close();
    if (ok)
        buffer.SetName(path);
    return ok;
}

bool WriteBufferToFile(const void* data, const WideChar* path, uint32_t count, String* failure) {
    File file;
    if (!file.OpenForUpdate(path) && !file.CreateForWriting(path)) {
        NoteFailure(failure, NativeFile::Error());
        return false;
    }
    bool ok = file.SetSize(count);
    if (ok && data != _null && count > 0)
        ok = file.Write(data, count);
    if (!ok)
        NoteFailure(failure, NativeFile::Error());
    file.Close();
    return ok;
}

bool FolderTakesFiles(const WideChar* folder, String* failure) {
    if (!IsValidPath(folder)) {
        NoteFailure(failure, NativeFile::MissingPathError());
        return false;
    }
    const WideChar separator[2] = {NativeFile::Separator(), 0};
    String stem(folder);
    stem.Append(separator);
    stem.Append(u".vexal-write-check-");
    static std::atomic<uint32_t> serial{0};
    if (!NativeFile::Probe(UniqueName(stem, serial, u""))) {
        NoteFailure(failure, NativeFile::Error());
        return false;
    }
    return true;
}

bool ReplaceFileContents(const WideChar* path, const void* data, uint32_t count) {
    if (!IsValidPath(path) || (data == _null && count > 0))
        return false;
    int32_t separator = String::Length(path) - 1;
    while (separator > 0 && path[separator] != u'/' && path[separator] != u'\\')
        --separator;
    if (separator > 0 && !CreateDirectoryPath(String(path, separator)))
        return false;
    // A name left by a crashed writer, or put there on purpose (a link to another file), is
    // never written through: the file must be new, and another name is taken instead.
    String stem(path);
    stem.Append(u".");
    static std::atomic<uint32_t> serial{0};
    String temporary;
    intptr_t handle = -1;
    for (int attempt = 0; attempt < kTemporaryAttempts && handle < 0; ++attempt) {
        temporary = UniqueName(stem, serial, u".tmp");
        handle = NativeFile::CreateNew(temporary);
        if (handle < 0 && !NativeFile::IsExistsError(NativeFile::Error()))
            break;
    }
    if (handle < 0)
        return false;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    bool ok = true;
    while (ok && done < count) {
        uint32_t wrote = 0;
        if (NativeFile::Write(handle, bytes + done, count - done, &wrote) && wrote > 0)
            done += wrote;
        else
            ok = false;
    }
    // Without the flush a crash soon after the move could leave the new name on an empty file.
    ok = ok && NativeFile::Flush(handle);
    ok = NativeFile::Close(handle) && ok;
    ok = ok && NativeFile::Replace(temporary, path);
    if (!ok)
        NativeFile::Remove(temporary);
    return ok;
}

bool CreateDirectoryPath(const WideChar* path) {
    if (!IsValidPath(path))
        return false;
    if (IsFolder(path))
        return true;
    int32_t length = String::Length(path);
    if (path[length - 1] == u':')
        return true;
    for (int32_t i = 1; i < length; ++i) {
        if (path[i] != u'\\' && path[i] != u'/')
            continue;
        if (path[i - 1] == u':')
            continue;
        String prefix(path, i);
        if (!MakeFolder(prefix))
            return false;
    }
    return MakeFolder(path);
}

bool FileExists(const WideChar* path) {
    bool folder = false;
    return IsValidPath(path) && NativeFile::Stat(path, &folder) && !folder;
}

bool FolderExists(const WideChar* path) {
    return IsFolder(path);
}

bool ClearFileAttributes(const WideChar* path) {
    return IsValidPath(path) && NativeFile::MakeWritable(path);
}

bool DeleteFile(const WideChar* path) {
    if (!IsValidPath(path))
        return false;
    NativeFile::MakeWritable(path);
    return NativeFile::Remove(path);
}
