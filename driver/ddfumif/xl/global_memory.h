// Zero-initialised fixed global memory: allocated, locked, and released by
// unlocking and freeing its handle.
#pragma once

#include <stdint.h>

// A locked, zero-filled block, or null.
void *AllocateBlock(uint32_t bytes);
// Releases a block from AllocateBlock; null is ignored.
void FreeBlock(void *block);
