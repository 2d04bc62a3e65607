// Reading a loading-screen asset: the movie, the script or one of its images.
#pragma once

#include "Common/Types.h"

class Buffer;

// The embedded resource of that name (compared without regard to case) or else the file of that
// name relative to the current directory, unpacked when it is a packed block. False (buffer
// unspecified) when neither exists. A packed block that does not unpack is kept as it is: its use
// then fails where the bytes are read. Host's thread.
bool ReadScreenAsset(const WideChar* name, Buffer& buffer);
