#include "hardening_support.h"

namespace hardening {

namespace {

Case Make(uint32_t w, uint32_t h, uint16_t bits, uint8_t quality, uint8_t subsampling,
          uint8_t order, uint32_t seed) {
    Case c;
    uint32_t stride = (w * bits + 31) / 32 * 4;
    c.source.resize(std::size_t{stride} * h);
    uint32_t state = seed;
    for (std::size_t i = 0; i < c.source.size(); ++i) {
        state = state * 1103515245u + 12345u;
        c.source[i] = static_cast<uint8_t>((i * 3 + (state >> 24) / 4) & 0xFF);
    }
    c.job.width = w;
    c.job.height = h;
    c.job.bitsPerPixel = bits;
    c.job.quality = quality;
    c.job.subsampling = subsampling;
    c.job.pixelOrder = order;
    c.job.sourceSize = static_cast<uint32_t>(c.source.size());
    return c;
}

}  // namespace

uint16_t Case::Run(std::vector<uint8_t> *dest, uint32_t *destSize) const {
    dest->assign(capacity, 0xA5);
    JpegEncodeJob j = job;
    j.sourceData = source.data();
    j.destData = dest->data();
    j.destSize = capacity;
    uint16_t status = Jpeg_EncodeStart(&j, mode);
    *destSize = j.destSize;
    return status;
}

std::vector<Case> MakeCases() {
    std::vector<Case> cases;
    uint32_t seed = 1;
    for (uint16_t bits : {8, 16, 24, 32}) {
        for (uint8_t subsampling : {0, 1, 2}) {
            for (uint8_t quality : {10, 75, 100}) {
                cases.push_back(Make(37 + subsampling, 23 + quality % 7, bits, quality, subsampling,
                                     seed & 1, seed));
                ++seed;
            }
        }
    }
    // Size each valid case, then derive failing variants from some of them.
    size_t valid = cases.size();
    for (size_t i = 0; i < valid; ++i) {
        JpegEncodeJob j = cases[i].job;
        j.sourceData = cases[i].source.data();
        Jpeg_EncodeStart(&j, ModeSizeOnly);
        cases[i].capacity = j.destSize;
    }
    for (size_t i = 0; i < valid; i += 3) {
        Case base = cases[i];
        // The output full at SOI, in APP0, in DHT, in the scan, on EOI.
        for (uint32_t capacity : {1u, 10u, 300u, base.capacity - 40, base.capacity - 1}) {
            Case c = base;
            c.capacity = capacity;
            cases.push_back(c);
        }
        Case shortSource = base;  // the source ends inside the top row
        shortSource.source.resize(shortSource.source.size() - 2);
        shortSource.job.sourceSize -= 2;
        cases.push_back(shortSource);
        Case sizeOnly = base;
        sizeOnly.mode = ModeSizeOnly;
        cases.push_back(sizeOnly);
        Case badMode = base;
        badMode.mode = 0x102;
        cases.push_back(badMode);
        Case badQuality = base;
        badQuality.job.quality = 101;
        cases.push_back(badQuality);
        Case zeroWidth = base;
        zeroWidth.job.width = 0;
        cases.push_back(zeroWidth);
    }
    for (Case &c : cases) {
        std::vector<uint8_t> dest;
        c.expectedStatus = c.Run(&dest, &c.expectedDestSize);
        c.expectedBytes = dest;
    }
    return cases;
}

}  // namespace hardening
