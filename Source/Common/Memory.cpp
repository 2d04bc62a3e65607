// The engine heap over the process heap, and plain byte operations.
#include "Source/Common/Memory.h"

#include <cstdlib>
#include <cstring>
#include "Source/Platform/Log.h"

namespace {
const WideChar kModule[] = u"Source/Common/Memory";
const size_t kLargestRequest = 0x7FFFFFFE;
} // namespace

void* HeapAllocate(size_t bytes) {
    if (bytes == 0 || bytes > kLargestRequest) return _null;
    void* pointer = std::malloc(bytes);
    if (pointer == _null) {
        LogFailure(u"[KL] Out of memory");
        VEXAL_CHECK(pointer != _null, u"pointer != _null", kModule);
    }
    return pointer;
}

void HeapRelease(void* pointer) {
    if (pointer != _null) std::free(pointer);
}

void CopyBytes(void* destination, const void* source, size_t count) {
    if (count != 0) std::memmove(destination, source, count);
}

bool SameBytes(const void* a, const void* b, size_t count) {
    return count == 0 || std::memcmp(a, b, count) == 0;
}

void FillBytes(void* destination, uint8_t value, size_t count) {
    if (count != 0) std::memset(destination, value, count);
}
