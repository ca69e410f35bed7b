// PackDib16: the finished image as the host receives it, one movable, zero-initialised global
// memory block (BITMAPINFOHEADER + bottom-up 16-bit rows), returned unlocked. Ownership passes
// to the caller. Returns null for a non-positive size or when the block cannot be had.
#include <windows.h>

#include "imaging/image16.h"

void* PackDib16(int32_t width, int32_t height, const uint16_t* pixels)
{
    uint32_t size = DibBlockSize(width, height);
    if (size == 0)
        return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block)
        return nullptr;
    void* bytes = GlobalLock(block);
    if (!bytes) {
        GlobalFree(block);
        return nullptr;
    }
    WriteDib16(static_cast<uint8_t*>(bytes), width, height, pixels);
    GlobalUnlock(block);
    return block;
}
