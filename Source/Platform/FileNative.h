// The system calls under the file module: one per operation, each on an engine path or an open
// descriptor/handle (-1 for none). File.cpp builds the module's behaviour over them; the
// platform's folder holds nothing else of the file module than these, the path queries and the
// platform's path form. Internal to the platform layer.
#pragma once

#include "Common/Types.h"
#include "Source/Common/String.h"

namespace NativeFile {

// How Open opens: an existing file for reading, an existing one for reading and writing, or a
// file created (or truncated to 0 bytes) for reading and writing.
enum OpenMode : int {
    kOpenRead = 0,
    kOpenUpdate = 1,
    kOpenCreate = 2,
};

// Where Seek counts from.
enum SeekFrom : int {
    kFromStart = 0,
    kFromCurrent = 1,
    kFromEnd = 2,
};

// The calling thread's last system error code, and setting it again (a cause kept across other
// calls); Error() is read right after the call that failed.
int32_t Error();
void SetError(int32_t error);
// The code of "no such file or folder" as an open reports it for a path whose folder is missing.
int32_t MissingPathError();
// Whether error says a file of that name exists already.
bool IsExistsError(int32_t error);
// The system's words for error ("No space left on device").
String ErrorText(int32_t error);

// Opens a regular file on disk without waiting (a folder, pipe, socket or device fails at once,
// with a cause of its own), shared with other readers and writers; *size receives its size. -1 on
// failure.
intptr_t Open(const WideChar* path, OpenMode mode, int64_t* size);
// Creates a new file exclusively (never through a link or over anything standing there), open
// for writing. -1 on failure.
intptr_t CreateNew(const WideChar* path);
// Closes; false when the system reports the close failed (data then may not have reached the file).
bool Close(intptr_t handle);
// One write or read of up to count bytes; *done receives how many moved (0 at the end of the
// file for a read). Interrupted calls are retried. False on an error.
bool Write(intptr_t handle, const void* data, uint32_t count, uint32_t* done);
bool Read(intptr_t handle, void* data, uint32_t count, uint32_t* done);
// Moves the position; the new position, or -1.
int64_t Seek(intptr_t handle, int64_t offset, SeekFrom from);
// The file's size now; 0 when it cannot be told.
int64_t Size(intptr_t handle);
// Sets the end of the file to size, leaving the position where it was.
bool Resize(intptr_t handle, int64_t size);
// Makes the file's bytes reach the disk.
bool Flush(intptr_t handle);

// Whether something stands at path; *folder tells whether it is a folder (links followed).
bool Stat(const WideChar* path, bool* folder);
// Makes an existing file writable by its owner (a normal file again); true when it exists.
bool MakeWritable(const WideChar* path);
// Creates one folder whose parent exists; false with the system's cause when it fails (also when
// something stands there already).
bool MakeFolder(const WideChar* path);
// Deletes a file as it is (no attributes changed).
bool Remove(const WideChar* path);
// Puts the file from in the place of to, replacing what stands there (not following it), so that
// the new name reaches the disk.
bool Replace(const WideChar* from, const WideChar* to);
// Creates a file of that new name and deletes it again; false with the system's cause when it
// cannot be created.
bool Probe(const WideChar* path);
// The separator of the platform's own paths, put between a folder and a name the module makes.
WideChar Separator();

} // namespace NativeFile
