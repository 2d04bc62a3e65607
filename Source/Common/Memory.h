// The engine heap (serves the string type) and plain byte operations.
#pragma once

#include "Common/Types.h"

// Returns none for 0 bytes or more than 0x7FFFFFFE bytes (silently). On an allocation failure
// reports "[KL] Out of memory" (failure convention) and the assertion "pointer != _null"
// (module Source/Common/Memory), then returns none.
void* HeapAllocate(size_t bytes);
// Frees memory from HeapAllocate; none is ignored.
void HeapRelease(void* pointer);

void CopyBytes(void* destination, const void* source, size_t count);
bool SameBytes(const void* a, const void* b, size_t count);
void FillBytes(void* destination, uint8_t value, size_t count);
