// The export: validation of the caller's job, the two mode routines and the
// status of the call.
//
// The status lives on the caller's stack and travels by pointer to every
// stream and to the session, so calls on several threads never share it.

#include "encoder_entry.h"

#include "encoder_stages.h"
#include "flat_blocks.h"
#include "session_setup.h"
#include "simd_support.h"

namespace {

int32_t Reject(uint16_t *status, uint16_t code) {
    *status |= code;
    return 0;
}

// The source is only read; a null source reads as an empty one.
void OpenSource(ByteStream *source, const JpegEncodeJob *job, uint16_t *status) {
    uint32_t size = job->sourceData ? job->sourceSize : 0;
    InitMemoryStream(source, size, const_cast<uint8_t *>(job->sourceData), status);
}

}  // namespace

int32_t ValidateJob(const JpegEncodeJob *job, EncodeSetup *setup, uint16_t *status) {
    if (job->width == 0 || job->height == 0) return Reject(status, StatusBadSize);
    // The frame header carries 16-bit dimensions; anything larger would give
    // a corrupt stream.
    if (job->width > kMaxDimension || job->height > kMaxDimension) {
        return Reject(status, StatusBadSize);
    }
    if (job->quality == 0 || job->quality > 100 || job->subsampling > SubNone) {
        return Reject(status, StatusBadParam);
    }
    uint16_t bits = job->bitsPerPixel;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return Reject(status, StatusBadDepth);

    setup->quality = job->quality;
    setup->subsampling = job->subsampling;
    setup->simdLevel = SimdLevelInUse();
    EncoderStages stages = ChooseStages(setup->simdLevel, bits, job->pixelOrder, job->subsampling);
    setup->fetcher = stages.fetcher;
    setup->blockCoder = stages.blockCoder;
    setup->blockRunCoder = stages.blockRunCoder;
    setup->chromaReducer = stages.chromaReducer;
    setup->blockTransform = stages.blockTransform;
    setup->blockPairTransform = stages.blockPairTransform;
    setup->blockPairApart = stages.blockPairApart;
    setup->blockQuadTransform = stages.blockQuadTransform;
    setup->flatProbe = FlatShortcutsEnabled() ? stages.flatProbe : nullptr;
    return 1;
}

uint32_t EncodeSizeOnly(const JpegEncodeJob *job, EncodeSetup *setup, uint16_t *status) {
    ByteStream source;
    ByteStream counter;
    OpenSource(&source, job, status);
    InitSizeCounter(&counter, status);
    setup->outputKind = OutputCount;

    EncoderSession session;
    session.source = &source;
    session.output = &counter;
    session.status = status;
    return SetUpSession(job, setup, &session) ? counter.size : 0;
}

uint32_t EncodeToMemory(const JpegEncodeJob *job, EncodeSetup *setup, uint16_t *status) {
    ByteStream source;
    ByteStream output;
    OpenSource(&source, job, status);
    // Like the source, a null destination holds nothing: the call fails on
    // SOI instead of writing through the null pointer.
    uint32_t capacity = job->destData ? job->destSize : 0;
    InitMemoryStream(&output, capacity, job->destData, status);
    setup->outputKind = OutputMemory;

    EncoderSession session;
    session.source = &source;
    session.output = &output;
    session.status = status;
    return SetUpSession(job, setup, &session) ? output.position : 0;
}

extern "C" TRIVJPEG_API uint16_t TRIVJPEG_CALL Jpeg_EncodeStart(JpegEncodeJob *job, uint32_t mode) {
    uint16_t status = StatusBase;
    if (job == nullptr) return status | StatusBadParam;

    EncodeSetup setup;
    if (!ValidateJob(job, &setup, &status)) return status;

    uint32_t length;
    switch (mode & 0xFF) {
        case ModeSizeOnly: length = EncodeSizeOnly(job, &setup, &status); break;
        case ModeEncode: length = EncodeToMemory(job, &setup, &status); break;
        default: return status | StatusBadParam;
    }
    job->destSize = length;
    return length != 0 ? 0 : status;
}
