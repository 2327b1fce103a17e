// Chroma reduction. The averages truncate (no rounding term): an average of
// 0-255 samples stays in 0-255, so nothing needs clamping. Each reducer
// writes only the bytes of the sample buffer its MCU uses.

#include "chroma_reduction.h"

#include <string.h>

namespace {

// Block b of the buffer takes row `row` of a plane `width` samples wide,
// starting at column `column`: one 8-sample half row.
inline void MoveHalfRow(uint8_t *samples, int block, int blockRow, const uint8_t *plane, int width,
                        int row, int column) {
    memcpy(samples + 64 * block + 8 * blockRow, plane + width * row + column, 8);
}

}  // namespace

void Reduce2x2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    uint8_t *outCb = samples + 256;
    uint8_t *outCr = samples + 320;
    for (int row = 0; row < 8; ++row) {
        const uint8_t *cb0 = cb + 32 * row;
        const uint8_t *cr0 = cr + 32 * row;
        for (int x = 0; x < 8; ++x) {
            // Four samples of at most 255 sum to at most 1020.
            outCb[8 * row + x] = static_cast<uint8_t>(
                (cb0[2 * x] + cb0[2 * x + 1] + cb0[16 + 2 * x] + cb0[16 + 2 * x + 1]) >> 2);
            outCr[8 * row + x] = static_cast<uint8_t>(
                (cr0[2 * x] + cr0[2 * x + 1] + cr0[16 + 2 * x] + cr0[16 + 2 * x + 1]) >> 2);
        }
    }
    for (int i = 0; i < 16; ++i) {
        int top = i < 8 ? 0 : 2;
        MoveHalfRow(samples, top, i & 7, y, 16, i, 0);
        MoveHalfRow(samples, top + 1, i & 7, y, 16, i, 8);
    }
}

void Reduce2x1(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    uint8_t *outCb = samples + 128;
    uint8_t *outCr = samples + 192;
    for (int row = 0; row < 8; ++row) {
        const uint8_t *cb0 = cb + 16 * row;
        const uint8_t *cr0 = cr + 16 * row;
        for (int x = 0; x < 8; ++x) {
            outCb[8 * row + x] = static_cast<uint8_t>((cb0[2 * x] + cb0[2 * x + 1]) >> 1);
            outCr[8 * row + x] = static_cast<uint8_t>((cr0[2 * x] + cr0[2 * x + 1]) >> 1);
        }
    }
    for (int i = 0; i < 8; ++i) {
        MoveHalfRow(samples, 0, i, y, 16, i, 0);
        MoveHalfRow(samples, 1, i, y, 16, i, 8);
    }
}

void ReduceNone(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    memcpy(samples, y, 64);
    memcpy(samples + 64, cb, 64);
    memcpy(samples + 128, cr, 64);
}
