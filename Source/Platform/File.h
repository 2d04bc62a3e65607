// The engine's file module: a small file object, whole-file operations over Buffer, folders,
// the current directory, the host executable path and the user's profile folder.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

class Buffer;

// Paths are wide (UTF-16) texts; both "/" and "\" separate folders. Sizes are in bytes. No
// operation of this module logs: failures are results (false, 0 or an empty string) and the
// caller writes its own message. No locks: a File belongs to one thread at a time; different
// files may be used from different threads at once.

// The encodings WriteText can produce.
enum FileTextEncoding : int32_t {
    kFileTextAnsi = 0,  // the locale's multibyte encoding ("ANSI code page")
    kFileTextUtf16 = 1, // the string's own UTF-16 units (little-endian)
    kFileTextUtf8 = 2,  // the engine's UTF-8 converter
};

// A file object: an open operating-system file (or none) and the text encoding used by
// WriteText. Opening a file while another is held closes the old one first. Callers close their
// files with Close on every path; the destructor closes a file still held as a safety net.
// Not copyable; movable (the handle moves with the object).
class File {
public:
    File();
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Every open takes regular files only and never waits: a folder, a pipe, a socket or a
    // device at the path fails at once, as a file that cannot be opened.

    // Opens an existing file for reading; other processes may read and write it meanwhile.
    // Reads stop at the size the file had when it was opened, however it grows meanwhile. False
    // when it does not exist or cannot be opened.
    bool OpenForReading(const WideChar* path);
    // Opens an existing file for reading and writing, making it writable by its owner first when
    // it is read-only. False when it does not exist or cannot be opened; never creates.
    bool OpenForUpdate(const WideChar* path);
    // Creates the missing folders of the path (everything before the last "\", "/" or ":"),
    // makes an existing file writable by its owner, and opens the file for reading and writing,
    // truncated to 0 bytes (created when absent).
    bool CreateForWriting(const WideChar* path);
    // Closes the file if one is held; the object can be opened again.
    void Close();
    bool IsOpen() const { return mHandle >= 0; }

    // Writes count bytes at the current position. No file: false. count 0: true. data none with
    // count > 0: the assertion "buffer != _null" and false. With written given: stores the number
    // of bytes written and returns true whenever the system accepted the write (even partly);
    // without it: true only when all count bytes were written.
    bool Write(const void* data, uint32_t count, uint32_t* written = _null);
    // Writes a NUL-terminated text without its terminator in the object's text encoding. A text
    // that encodes to nothing writes nothing and succeeds. True only when every byte was written.
    bool WriteText(const WideChar* text);
    // Reads up to count bytes at the current position; *read receives the number read (0 at the
    // end of the file, or at the size taken when it was opened for reading). False on a read error or without a file. data none with count > 0 is the
    // assertion "buffer != _null" and false.
    bool Read(void* data, uint32_t count, uint32_t* read);
    // Resizes the buffer to the file's size (for a file opened for reading, the size it had then)
    // and reads the file into it from the current position. Fails for files of 2 GiB or more, and unless at least the file's size was read.
    // A buffer that cannot be sized is the assertion "buffer != _null" and false.
    bool ReadAll(Buffer& buffer);

    // Absolute position; false without a file or for a negative position.
    bool Seek(int64_t position);
    bool SeekToEnd();
    // The current position; 0 without a file.
    int64_t Tell() const;
    // The file's size in bytes; 0 without a file.
    int64_t GetSize() const;
    // Sets the end of the file to size (extending with zero bytes or cutting) and leaves the
    // position where it was.
    bool SetSize(int64_t size);

    int32_t GetTextEncoding() const { return mTextEncoding; }
    void SetTextEncoding(int32_t encoding) { mTextEncoding = encoding; }

private:
    bool Open(const WideChar* path, int flags);

    int mHandle;           // the operating-system descriptor; -1 for none
    int32_t mTextEncoding; // a FileTextEncoding value; 0 by default
    int64_t mReadEnd;      // opened for reading: its size then, where reads stop; -1 otherwise
};

// The size of a file; 0 when it cannot be opened (or is a folder).
int64_t FileSize(const WideChar* path);

// Opens the file for reading and reads it whole into the buffer (File::ReadAll); on success the
// path becomes the buffer's name. On failure the buffer's contents are unspecified.
bool ReadFileToBuffer(Buffer& buffer, const WideChar* path);

// Makes the file at path hold exactly count bytes: opens it for update (or creates it, with its
// folders, when it cannot be opened), sets its size to count, then writes data from the start
// when data is given (without data the file is only sized, zero-filled). The file is pre-sized,
// so a shorter content never leaves old bytes behind. False on any failure; failure (optional)
// then receives the system's words for its cause ("No space left on device").
bool WriteBufferToFile(const void* data, const WideChar* path, uint32_t count, String* failure = _null);

// Whether a new file can be created in folder: a file of a name of its own is created there and
// deleted again. When not, failure (optional) receives the system's words for the cause
// ("Permission denied", "Read-only file system").
bool FolderTakesFiles(const WideChar* folder, String* failure = _null);

// Makes the file at path hold exactly count bytes so that a reader sees either the old file or
// the new one, never a part: the bytes go to a temporary file beside it (its folders created
// when missing), reach the disk, and the temporary file then takes the path's place. False on any
// failure, the old file then unchanged and the temporary file removed. The temporary file is
// always a new file (created exclusively, never through a link), so nothing that stands beside
// the path can turn the write elsewhere; the path itself is replaced, not followed.
bool ReplaceFileContents(const WideChar* path, const void* data, uint32_t count);

// Creates a folder and every missing folder above it. An empty path fails; an existing folder
// or a path ending in ":" succeeds at once. Every prefix ending before a separator (except a
// separator at position 0 or directly after ":") is created when it is not a folder yet; a
// prefix that cannot be created fails the call. A folder that appears meanwhile counts as made.
bool CreateDirectoryPath(const WideChar* path);

// What stands at a path. kPathOther is anything that is neither a regular file nor a folder:
// a pipe, a socket, a device, or a link to nothing; no open of this module takes it.
enum PathKind : int32_t {
    kPathMissing = 0,
    kPathFile,
    kPathFolder,
    kPathOther,
};
PathKind PathKindOf(const WideChar* path);

// True when path names an existing file that is not a folder.
bool FileExists(const WideChar* path);
// True when path names an existing folder.
bool FolderExists(const WideChar* path);
// Makes an existing file a normal file again (writable by its owner); false when it is missing.
bool ClearFileAttributes(const WideChar* path);
// Clears the file's attributes and deletes it; false when it is missing or cannot be deleted.
bool DeleteFile(const WideChar* path);

// The process's current directory (at most 1024 units), empty on failure.
String CurrentDirectory();
// The full path of the process's main executable (at most 1024 units), empty on failure.
String HostExecutablePath();
// The user's profile (home) folder: $HOME, else the password database entry of the user;
// empty when neither gives one.
String UserProfileFolder();
