// Session set-up. Everything the segment writers and the scan read of the
// session is set here, once, before the first byte is written.

#include "session_setup.h"

#include "stream_headers.h"

int32_t SetUpSession(const JpegEncodeJob *job, const EncodeSetup *setup, EncoderSession *session) {
    session->quality = setup->quality;
    session->outputKind = setup->outputKind;
    session->fetcher = setup->fetcher;
    session->blockCoder = setup->blockCoder;
    session->blockRunCoder = setup->blockRunCoder;
    session->chromaReducer = setup->chromaReducer;
    session->blockTransform = setup->blockTransform;
    session->blockPairTransform = setup->blockPairTransform;
    session->blockPairApart = setup->blockPairApart;
    session->blockQuadTransform = setup->blockQuadTransform;
    session->flatProbe = setup->flatProbe;
    // Source pixels are little-endian words; the JPEG segments big-endian.
    session->source->SetReadOrder(session->source, ByteOrderLsbFirst);
    session->output->SetWriteOrder(session->output, ByteOrderMsbFirst);
    session->sourceStart = session->source->position;
    session->width = job->width;
    session->height = job->height;
    // ValidateJob has kept both within 16 bits, which is all SOF0 carries.
    session->frameWidth = static_cast<uint16_t>(job->width);
    session->frameHeight = static_cast<uint16_t>(job->height);

    ComponentSpec *c = session->components;
    if (job->bitsPerPixel == 8) {
        session->componentCount = 1;
        session->mcuWidth = 8;
        session->mcuHeight = 8;
        c[0].hSampling = c[0].vSampling = 1;
    } else {
        session->componentCount = 3;
        switch (setup->subsampling) {
            case Sub2x2:
                session->mcuWidth = 16;
                session->mcuHeight = 16;
                break;
            case Sub2x1:
                session->mcuWidth = 16;
                session->mcuHeight = 8;
                break;
            default:
                session->mcuWidth = 8;
                session->mcuHeight = 8;
                break;
        }
        // Y covers the MCU in blocks; Cb and Cr are reduced to one block each.
        c[0].hSampling = session->mcuWidth / 8;
        c[0].vSampling = session->mcuHeight / 8;
        c[1].hSampling = c[1].vSampling = 1;
        c[2].hSampling = c[2].vSampling = 1;
    }
    // width is at most 65535 (ValidateJob), so width x 32 + 31 fits easily.
    session->stride = (job->width * job->bitsPerPixel + 31) / 32 * 4;
    return WriteJpegStream(session);
}

void SetMcuGeometry(EncoderSession *session) {
    session->mcuIndex = 0;
    session->locatedIndex = 0;
    session->locatedColumn = 0;
    session->locatedRow = 0;
    // The grid of the frame the stream declares. At most 65535 / 8 rounded up
    // = 8192 MCUs per row and per column, so the count fits 32 bits with room
    // to spare.
    session->mcusPerRow =
        static_cast<uint16_t>((session->frameWidth + session->mcuWidth - 1) / session->mcuWidth);
    session->mcuCount = static_cast<uint32_t>((session->frameHeight + session->mcuHeight - 1) /
                                              session->mcuHeight) *
                        session->mcusPerRow;
}
