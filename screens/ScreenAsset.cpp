// Reading a loading-screen asset.
#include "screens/ScreenAsset.h"

#include "Source/Common/Buffer.h"
#include "Source/Common/Decompress.h"
#include "Source/Platform/File.h"
#include "Source/Platform/Resource.h"

bool ReadScreenAsset(const WideChar* name, Buffer& buffer) {
    if (!name || !name[0]) return false;
    if (LoadEmbeddedResource(name, buffer)) {
        // The name travels with the bytes (a script's chunk name in its error messages).
        buffer.SetName(name);
    } else if (!ReadFileToBuffer(buffer, name)) {
        return false;
    }
    UnpackBuffer(buffer);
    return true;
}
