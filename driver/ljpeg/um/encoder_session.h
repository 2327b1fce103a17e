// The state of one encoding: the validated job, the session the segment
// writers and the MCU loop share, and the tables built for one call.
#pragma once

#include <stdint.h>

#include "byte_stream.h"
#include "trivjpeg.h"

struct EncoderSession;
struct ComponentSpec;
struct QuantTable;

// The blocks of one MCU in coding order: up to four Y blocks, then Cb, Cr.
constexpr uint32_t kMcuSampleBufferSize = 384;

// Reads the MCU that session->mcuIndex designates into the sample buffer.
typedef int32_t (*McuFetcher)(EncoderSession *session, uint8_t *samples);
// Cuts the Y plane into blocks and reduces Cb and Cr to one block each.
typedef void (*ChromaReducer)(uint8_t *samples, const uint8_t *y, const uint8_t *cb,
                              const uint8_t *cr);
// Forward DCT and quantisation of one block of samples: quantised
// coefficients in natural order.
typedef void (*BlockTransform)(const uint8_t *samples, const QuantTable *table, int16_t *quantised);
// The same for two blocks of one table at once that do not lie side by side
// (the Y blocks of two 4:4:4 MCUs), each where it lies.
typedef void (*BlockPairTransform)(const uint8_t *first, const uint8_t *second,
                                   const QuantTable *table, int16_t *quantisedFirst,
                                   int16_t *quantisedSecond);
// Looks at the source pixels of the MCU that session->mcuIndex designates
// and of the whole MCUs to its right. If the first MCU's lie inside the
// source and all have one value, returns how many MCUs from it in a row have
// that value throughout (at least 1; all inside the source), stores that
// pixel's samples (Y, Cb, Cr; grey: Y only), and leaves the source where the
// fetcher of the last of them would have left it. Otherwise returns 0 and
// changes nothing: the fetcher then reads the MCU (and reports any bound it
// meets).
typedef uint32_t (*FlatMcuProbe)(EncoderSession *session, uint8_t *samples);
// Huffman-codes one quantised block (natural order) of one component.
typedef int32_t (*BlockCoder)(EncoderSession *session, ComponentSpec *component,
                              const int16_t *block);
// Huffman-codes `count` blocks in a row, block i of component owner[i]: the
// same bytes, pending bits and predictors as the block coder gives them one
// by one, and where a block fails, the blocks before it completed.
typedef int32_t (*BlockRunCoder)(EncoderSession *session, ComponentSpec *const *owner,
                                 const int16_t (*blocks)[64], uint32_t count);

// Values of EncodeSetup::outputKind; the coders test the lowest bit.
constexpr uint16_t OutputCount = 2;   // size only: a SizeCounter
constexpr uint16_t OutputMemory = 3;  // encode: a MemoryStream
constexpr uint16_t OutputStoresBytes = 1;

// The job's pixelOrder that puts blue first (BGR, as DIBs are); any other
// value puts red first.
constexpr uint8_t PixelOrderBlueFirst = 1;

struct EncodeSetup {
    uint8_t quality;
    uint8_t subsampling;
    uint16_t outputKind;
    uint32_t simdLevel;  // SimdLevel of this call
    McuFetcher fetcher;
    BlockCoder blockCoder;
    // The rest of the call's stage functions, which the session takes.
    BlockRunCoder blockRunCoder;  // null: the block coder, block by block
    ChromaReducer chromaReducer;  // none for grey
    BlockTransform blockTransform;
    BlockTransform blockPairTransform;  // may be null
    BlockPairTransform blockPairApart;  // null where blockPairTransform is
    BlockTransform blockQuadTransform;  // may be null
    FlatMcuProbe flatProbe;             // null: every block the full way
};

// A quantisation table scaled by the quality. Each divisor is 8 times the
// DQT entry, matching the scale of the DCT output.
struct QuantTable {
    uint8_t precision;
    uint8_t tableId;
    alignas(16) uint16_t divisors[64];  // natural row-major order
    // The same divisions as multiplications, for the vector quantiser
    // (PrepareQuantTable in quantiser.cpp derives them from the divisors).
    uint16_t reciprocal[64];
    uint16_t shiftFactor[64];
};

// Code length and right-aligned code word per symbol. Symbols the built-in
// table (HuffmanSpec) does not list have length 0 and code 0.
struct HuffmanCodeTable {
    uint8_t tableId;
    uint8_t codeLength[256];
    uint16_t code[256];
};

struct ComponentSpec {
    uint8_t id;
    uint8_t hSampling;
    uint8_t vSampling;
    int16_t dcPredictor;
    const HuffmanCodeTable *dcTable;
    const HuffmanCodeTable *acTable;
    const QuantTable *quantTable;
};

// Not zero-filled: each field is written by its step before anything reads it.
struct EncoderSession {
    uint8_t componentCount;
    uint16_t frameHeight;
    uint16_t frameWidth;
    uint32_t width;
    uint32_t height;
    uint32_t sourceStart;
    uint8_t quality;
    uint16_t outputKind;
    uint8_t mcuWidth;
    uint8_t mcuHeight;
    uint16_t mcusPerRow;
    uint32_t mcuCount;
    uint32_t mcuIndex;
    // The MCU the fetchers last located, by index and place (a zeroed
    // session holds a true triple too): see LocateMcu.
    uint32_t locatedIndex;
    uint16_t locatedColumn;
    uint32_t locatedRow;
    ComponentSpec components[3];  // Y, Cb, Cr
    uint32_t stride;
    ByteStream *source;
    ByteStream *output;
    McuFetcher fetcher;
    BlockCoder blockCoder;
    BlockRunCoder blockRunCoder;  // null: the block coder, block by block
    ChromaReducer chromaReducer;  // none for grey
    BlockTransform blockTransform;
    BlockTransform blockPairTransform;  // two blocks of one table; may be null
    BlockPairTransform blockPairApart;  // the same, the blocks apart
    BlockTransform blockQuadTransform;  // four blocks of one table; may be null
    FlatMcuProbe flatProbe;             // null: no short paths for flat blocks
    uint16_t *status;                   // this call's status word
};
