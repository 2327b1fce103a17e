#include "global_memory.h"

#include "win32.h"

void *AllocateBlock(uint32_t bytes) {
    HGLOBAL handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, bytes);
    if (handle == nullptr) return nullptr;
    void *block = GlobalLock(handle);
    if (block == nullptr) GlobalFree(handle);
    return block;
}

void FreeBlock(void *block) {
    if (block == nullptr) return;
    HGLOBAL handle = GlobalHandle(block);
    GlobalUnlock(handle);
    GlobalFree(handle);
}
