// Fuzzes Jpeg_EncodeStart with hostile jobs. The input chooses every field
// of the job, the mode, the source bytes and the two buffer sizes; source
// and destination are allocated at exactly the sizes the job claims, so the
// sanitizers catch any access outside them. Each call must return 0 or a
// status with 0x2000, leave destSize as documented, and every stream it
// reports as whole must decode and end with EOI.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <turbojpeg.h>

#include <vector>

#include "flat_blocks.h"
#include "simd_support.h"
#include "trivjpeg.h"

namespace {

[[noreturn]] void Fault(const char *what, uint32_t status) {
    fprintf(stderr, "jpeg_encode_fuzz: %s (status 0x%04X)\n", what, status);
    abort();
}

// Mostly small images, sometimes the edges of what a job can claim.
uint32_t Dimension(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange(0, 15)) {
        case 0: return 0;
        case 1: return 1;
        case 2: return 65535;
        case 3: return 65536 + in.ConsumeIntegral<uint16_t>();
        case 4: return in.ConsumeIntegral<uint32_t>();
        default: return in.ConsumeIntegralInRange<uint32_t>(1, 300);
    }
}

// A buffer size near the one needed: exact, a little short or long, or any.
uint64_t NearSize(FuzzedDataProvider &in, uint64_t needed) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: return needed > 0 ? needed - in.ConsumeIntegralInRange<uint64_t>(1, needed) : 0;
        case 1: return needed + in.ConsumeIntegralInRange(0, 64);
        case 2: return in.ConsumeIntegralInRange<uint64_t>(0, 4096);
        default: return needed;
    }
}

bool Rejected(uint16_t status) {
    return status == (StatusBase | StatusBadSize) || status == (StatusBase | StatusBadParam) ||
           status == (StatusBase | StatusBadDepth);
}

void CheckResult(uint16_t status, const JpegEncodeJob &job, uint32_t destSizeBefore) {
    if (status == 0) return;
    if (!(status & StatusBase)) Fault("a failing call without 0x2000", status);
    if (Rejected(status) ? job.destSize != destSizeBefore : job.destSize != 0) {
        Fault("destSize not as documented after a failure", status);
    }
}

void CheckDecodes(const uint8_t *jpeg, uint32_t size, uint32_t width, uint32_t height, bool grey) {
    if (size < 4 || jpeg[size - 2] != 0xFF || jpeg[size - 1] != 0xD9) Fault("no EOI at the end", 0);
    // The frame header carries the job's dimensions. SOF0 follows SOI (2
    // bytes), APP0 (18), DHT (212 grey, 420 colour) and DQT (69, 134); its
    // height and width sit 5 and 7 bytes in.
    uint32_t at = grey ? 2 + 18 + 212 + 69 : 2 + 18 + 420 + 134;
    const uint8_t *sof = jpeg + at;
    if (size < at + 9 || sof[0] != 0xFF || sof[1] != 0xC0 ||
        uint32_t(sof[5] << 8 | sof[6]) != height || uint32_t(sof[7] << 8 | sof[8]) != width) {
        Fault("the frame header does not carry the job's size", 0);
    }
    // libjpeg-turbo refuses dimensions above 65500, a limit of its own.
    if (width > 65500 || height > 65500) return;
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, subsamp = 0, colourspace = 0;
    if (tjDecompressHeader3(tj, jpeg, size, &w, &h, &subsamp, &colourspace) != 0 ||
        uint32_t(w) != width || uint32_t(h) != height) {
        Fault("the header does not decode to the job's size", 0);
    }
    // A decoder limit, not a fault of the stream: very large images are only
    // checked as far as their headers.
    if (uint64_t(w) * h <= 1u << 20) {
        int components = grey ? 1 : 3;
        std::vector<uint8_t> pixels(size_t(w) * h * components);
        if (tjDecompress2(tj, jpeg, size, pixels.data(), w, 0, h, grey ? TJPF_GRAY : TJPF_RGB,
                          TJFLAG_STOPONWARNING) != 0) {
            fprintf(stderr, "TurboJPEG: %s\n", tjGetErrorStr2(tj));
            Fault("the stream does not decode cleanly", 0);
        }
    }
    tjDestroy(tj);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    JpegEncodeJob job = {};
    job.width = Dimension(in);
    job.height = Dimension(in);
    static constexpr uint16_t kDepths[] = {8, 16, 24, 32};
    job.bitsPerPixel = in.ConsumeBool() ? kDepths[in.ConsumeIntegralInRange(0, 3)]
                                        : in.ConsumeIntegral<uint16_t>();
    job.quality = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(1, 100)
                                   : in.ConsumeIntegral<uint8_t>();
    job.subsampling = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint8_t>(0, 2)
                                       : in.ConsumeIntegral<uint8_t>();
    job.pixelOrder = in.ConsumeIntegral<uint8_t>();
    job.reserved = in.ConsumeIntegral<uint32_t>();
    uint32_t mode = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 1)
                                     : in.ConsumeIntegral<uint32_t>();
    uint32_t destSeed = in.ConsumeIntegral<uint32_t>();

    // The source, at exactly the size the job claims (at most 4 MiB).
    uint64_t stride = (uint64_t(job.width) * job.bitsPerPixel + 31) / 32 * 4;
    uint64_t sourceSize = NearSize(in, stride * job.height);
    if (sourceSize > (4u << 20)) sourceSize = in.ConsumeIntegralInRange<uint64_t>(0, 4096);
    std::vector<uint8_t> pattern = in.ConsumeRemainingBytes<uint8_t>();
    uint8_t *source = static_cast<uint8_t *>(malloc(sourceSize ? sourceSize : 1));
    for (uint64_t i = 0; i < sourceSize; ++i) {
        source[i] = pattern.empty() ? uint8_t(i * 37) : pattern[i % pattern.size()];
    }
    job.sourceData = sourceSize ? source : (destSeed & 1 ? nullptr : source);
    job.sourceSize = static_cast<uint32_t>(sourceSize);

    // Size-only first; then, when that worked, encode into a buffer near
    // that size, allocated at exactly its capacity.
    JpegEncodeJob counted = job;
    counted.destData = nullptr;
    counted.destSize = destSeed;
    uint16_t status = Jpeg_EncodeStart(&counted, mode & 0xFFFFFF00u);  // mode byte 0
    CheckResult(status, counted, destSeed);
    if (status == 0 && (mode & 0xFF) == 1) {
        uint32_t length = counted.destSize;
        uint32_t capacity = destSeed % 4 == 0 ? length - (destSeed >> 2) % (length + 1)
                            : destSeed % 4 == 1 ? length + (destSeed >> 2) % 64
                                                : length;
        uint8_t *dest = static_cast<uint8_t *>(malloc(capacity ? capacity : 1));
        memset(dest, 0xA5, capacity);
        job.destData = dest;
        job.destSize = capacity;
        status = Jpeg_EncodeStart(&job, mode);
        CheckResult(status, job, capacity);

        // The same job with the vector stages capped at a lower level (or
        // none), and every other time without the short paths for flat
        // blocks, must leave the same result, length and buffer, to the byte.
        uint8_t *plain = static_cast<uint8_t *>(malloc(capacity ? capacity : 1));
        memset(plain, 0xA5, capacity);
        JpegEncodeJob capped = job;
        capped.destData = plain;
        capped.destSize = capacity;
        LimitSimdLevel((destSeed >> 8) % SimdHighest);
        EnableFlatShortcuts(destSeed >> 16 & 1);
        uint16_t cappedStatus = Jpeg_EncodeStart(&capped, mode);
        LimitSimdLevel(SimdHighest);
        EnableFlatShortcuts(true);
        if (cappedStatus != status || capped.destSize != job.destSize ||
            memcmp(plain, dest, capacity) != 0) {
            Fault("a lower vector level or the full path gave another result", cappedStatus);
        }
        free(plain);
        if ((status == 0) != (capacity >= length)) Fault("success does not follow capacity", status);
        if (status == 0) {
            if (job.destSize != length) Fault("size-only mode mispredicted the length", 0);
            CheckDecodes(dest, length, job.width, job.height, job.bitsPerPixel == 8);
        } else if (capacity == length - 1 && status != (StatusBase | StatusStreamBound)) {
            Fault("one byte short must fail on EOI with 0x2005", status);
        }
        free(dest);
    } else if ((mode & 0xFF) > 1) {
        JpegEncodeJob other = job;
        other.destSize = destSeed;
        status = Jpeg_EncodeStart(&other, mode);
        CheckResult(status, other, destSeed);
        if (!Rejected(status) && status != 0) Fault("a bad mode byte was not rejected", status);
    }
    free(source);
    return 0;
}
