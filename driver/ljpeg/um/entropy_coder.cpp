// Block entropy coding: baseline Huffman coding of one quantised block (the
// DC difference, then the AC run/size symbols in zig-zag order), packed
// onto the output stream's bitBuffer and bitCount.
//
// Two ways to the same bytes. While the room left can take the largest block
// there is, a block is coded straight into the output (or only counted):
// 32 bits at a time, stuffing byte by byte only in a word that holds 0xFF.
// Near the end of the room, each CodeDc or CodeAc call assembles its
// completed bytes, with 0x00 after every 0xFF, in a staging area, then makes
// one capacity check and one copy (encode mode) or one count (size mode), so
// a block that does not fit fails exactly where it runs out. Both modes
// complete exactly the same bytes, so size-only mode predicts encode mode to
// the byte.

#include "entropy_coder.h"

#include <string.h>

#include "entropy_coder_direct.h"
#include "stream_headers.h"

namespace coder {
namespace {

// Worst case of one call, whatever the block holds. An AC call codes at most
// 63 nonzero values, each a code of at most 16 bits and at most 16 value
// bits (entropy_coder_direct.h); a zero run only replaces 16 values by one
// ZRL code, and EOB follows only a block with a zero, so 63 x 32 = 2016 bits
// is the most. With up to 7 bits pending on entry that completes at most
// (7 + 2016) / 8 = 252 bytes, and each may be followed by a stuffed 0x00:
// 504 bytes. (Valid blocks, with at most 10 value bits, need 410.) A DC call
// needs far less (7 + 16 + 16 bits: 4 bytes, 8 with stuffing).
constexpr uint32_t kMaxCallBits = 7 + 63 * (kMaxCodeLength + kMaxCategory);
constexpr uint32_t kStagingSize = 2 * (kMaxCallBits / 8);
static_assert(kStagingSize == 504);

// The bits of one call, left-aligned in a 64-bit register: bit 63 is the
// next bit of the byte being assembled. Holding at most 7 + 16 bits between
// flushes, it never fills.
struct BitPacker {
    uint64_t bits;
    uint32_t count;
    uint8_t staged[kStagingSize];
    uint32_t stagedCount;
};

void StartCall(BitPacker *p, const ByteStream *out) {
    p->bits = static_cast<uint64_t>(out->bitBuffer & 0xFF) << 56;
    p->count = out->bitCount;
    p->stagedCount = 0;
}

// Appends the low n bits of field (n from 0 to 16), most significant first.
inline void Emit(BitPacker *p, uint32_t field, uint32_t n) {
    if (n == 0) return;
    field &= (1u << n) - 1;
    p->bits |= static_cast<uint64_t>(field) << (64 - p->count - n);
    p->count += n;
    while (p->count >= 8) {
        uint8_t byte = static_cast<uint8_t>(p->bits >> 56);
        p->staged[p->stagedCount++] = byte;
        // A decoder would take 0xFF followed by anything else for a marker.
        if (byte == 0xFF) p->staged[p->stagedCount++] = 0x00;
        p->bits <<= 8;
        p->count -= 8;
    }
}

// Copies (or counts) what the call completed, then stores the pending bits
// back. A call that does not fit leaves position beyond size, copies
// nothing and keeps the stream's bits as they were before it.
int32_t FinishCall(EncoderSession *session, const BitPacker *p) {
    ByteStream *out = session->output;
    uint32_t n = p->stagedCount;
    if (session->outputKind & OutputStoresBytes) {
        if (n != 0) {
            uint32_t at = out->position;
            // A position that would wrap past 2^32 - 1 is as full as one
            // past size.
            if (n > 0xFFFFFFFFu - at) {
                out->position = 0xFFFFFFFFu;
                return 0;
            }
            out->position = at + n;
            if (out->position > out->size) return 0;
            memcpy(out->buffer + at, p->staged, n);
        }
    } else {
        // A length past 2^32 - 1 cannot be reported; fail rather than wrap.
        if (n > 0xFFFFFFFFu - out->position) {
            *session->status |= StatusStreamBound;
            return 0;
        }
        out->position += n;
        if (out->size < out->position) out->size = out->position;
    }
    out->bitBuffer = static_cast<uint32_t>(p->bits >> 56);
    out->bitCount = p->count;
    return 1;
}

}  // namespace

int32_t CodeDc(EncoderSession *session, const HuffmanCodeTable *table, int32_t difference) {
    BitPacker p;
    StartCall(&p, session->output);
    uint32_t s = CategoryOf(difference);
    if (s > kMaxDcCategory) return 0;  // no code for it
    Emit(&p, table->code[s], table->codeLength[s]);
    Emit(&p, ValueField(difference, s), s);
    return FinishCall(session, &p);
}

int32_t CodeAc(EncoderSession *session, const HuffmanCodeTable *table, const int16_t *block) {
    BitPacker p;
    StartCall(&p, session->output);
    uint32_t run = 0;
    for (int k = 1; k < 64; ++k) {
        int32_t y = block[ZigZagOrder[k]];
        if (y == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) Emit(&p, table->code[0xF0], table->codeLength[0xF0]);
        uint32_t s = CategoryOfNonzero(y);
        if (s > kMaxAcCategory) return 0;  // no code for it
        uint32_t symbol = AcSymbol(run, s);
        Emit(&p, table->code[symbol], table->codeLength[symbol]);
        Emit(&p, ValueField(y, s), s);
        run = 0;
    }
    // A block ending in zeros ends with EOB, however long the final run.
    if (block[63] == 0) Emit(&p, table->code[0x00], table->codeLength[0x00]);
    return FinishCall(session, &p);
}

}  // namespace coder

using namespace coder;

namespace {

uint64_t NonzeroAc(const int16_t *block) {
    uint64_t natural = 0;
    for (int i = 0; i < 64; ++i) natural |= static_cast<uint64_t>(block[i] != 0) << i;
    return ToZigZag(natural);
}

}  // namespace

// Codes the block directly when the room left can take the largest block,
// through the staged calls otherwise. The vector twins have the same shape,
// each in one function with its own mask and direct coder, which they alone
// can take inline.
int32_t CodeBlock(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    const int32_t difference = TakeDcDifference(component, block);
    if (!DirectFits(session)) return CodeBlockStaged(session, component, block, difference);
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlockDirect<true>(out, component, block, difference, NonzeroAc(block))
               : CodeBlockDirect<false>(out, component, block, difference, NonzeroAc(block));
}

namespace {

template <bool kStore>
int32_t CodeFlatDirect(EncoderSession *session, ComponentSpec *const *owner, const int16_t *dc,
                       uint32_t count) {
    ByteStream *out = session->output;
    WordWriter<kStore> w;
    w.Start(out, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        ComponentSpec *c = owner[i];
        int32_t difference = int32_t{dc[i]} - c->dcPredictor;
        c->dcPredictor = dc[i];
        uint32_t s = CategoryOf(difference);
        if (s > kMaxDcCategory) return 0;
        AppendDc(&w, c->dcTable, difference, s);
        w.Append(c->acTable->code[0x00], c->acTable->codeLength[0x00]);  // EOB
    }
    w.Finish(out);
    return 1;
}

}  // namespace

int32_t CodeFlatBlocks(EncoderSession *session, ComponentSpec *const *owner, const int16_t *dc,
                       uint32_t count) {
    if (DirectFits(session, count * kMaxBlockBytes)) {
        return session->outputKind & OutputStoresBytes
                   ? CodeFlatDirect<true>(session, owner, dc, count)
                   : CodeFlatDirect<false>(session, owner, dc, count);
    }
    static const int16_t kNoAc[64] = {};
    for (uint32_t i = 0; i < count; ++i) {
        ComponentSpec *c = owner[i];
        int32_t difference = int32_t{dc[i]} - c->dcPredictor;
        c->dcPredictor = dc[i];
        if (!CodeDc(session, c->dcTable, difference)) return 0;
        if (!CodeAc(session, c->acTable, kNoAc)) return 0;
    }
    return 1;
}

namespace {

template <bool kStore>
void PutRepeated(ByteStream *out, uint32_t bits, uint32_t count, uint32_t times) {
    WordWriter<kStore> w;
    w.Start(out, nullptr);
    for (uint32_t i = 0; i < times; ++i) w.Append(bits, count);
    w.Finish(out);
}

}  // namespace

int32_t PutRepeatedBits(EncoderSession *session, uint32_t bits, uint32_t count, uint32_t times) {
    // Each copy completes at most 4 bytes, 8 with stuffing.
    if (!DirectFits(session, kMaxBlockBytes + 8 * times)) return 0;
    if (session->outputKind & OutputStoresBytes) {
        PutRepeated<true>(session->output, bits, count, times);
    } else {
        PutRepeated<false>(session->output, bits, count, times);
    }
    return 1;
}
