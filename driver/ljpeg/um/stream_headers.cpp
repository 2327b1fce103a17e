// The JFIF stream around the scan. The segment order is
// fixed: SOI, APP0, DHT, DQT, SOF0, SOS and the scan, EOI. The Huffman code
// tables and the scaled quantisation tables are rebuilt on every call, in
// WriteJpegStream's frame, from the constant tables below.

#include "stream_headers.h"

#include <string.h>

#include "mcu_loop.h"
#include "quantiser.h"

// clang-format off

// T.81 Annex K: each table as a DHT segment carries it (class and id byte,
// the 16 counts of codes of lengths 1 to 16, then the symbols by code length).
constexpr uint8_t HuffmanSpec[416] = {
    // Table K.3, luminance DC: class 0, id 0, 12 symbols
    0x00,
    0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    // Table K.5, luminance AC: class 1, id 0, 162 symbols
    0x10,
    0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12,
    0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07,
    0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08,
    0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0,
    0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16,
    0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28,
    0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
    0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49,
    0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69,
    0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79,
    0x7a, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98,
    0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
    0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5,
    0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4,
    0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea,
    0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
    // Table K.4, chrominance DC: class 0, id 1, 12 symbols
    0x01,
    0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0,
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    // Table K.6, chrominance AC: class 1, id 1, 162 symbols
    0x11,
    0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21,
    0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71,
    0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91,
    0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0,
    0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34,
    0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26,
    0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38,
    0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68,
    0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78,
    0x79, 0x7a, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5,
    0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2,
    0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9,
    0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8,
    0xf9, 0xfa,
};

// T.81 Annex K, each table byte followed by 64 entries in natural order.
constexpr uint8_t QuantBase[130] = {
    // Table K.1, luminance
    0x00,
    16,  11,  10,  16,  24,  40,  51,  61,
    12,  12,  14,  19,  26,  58,  60,  55,
    14,  13,  16,  24,  40,  57,  69,  56,
    14,  17,  22,  29,  51,  87,  80,  62,
    18,  22,  37,  56,  68, 109, 103,  77,
    24,  35,  55,  64,  81, 104, 113,  92,
    49,  64,  78,  87, 103, 121, 120, 101,
    72,  92,  95,  98, 112, 100, 103,  99,
    // Table K.2, chrominance
    0x01,
    17,  18,  24,  47,  99,  99,  99,  99,
    18,  21,  26,  66,  99,  99,  99,  99,
    24,  26,  56,  99,  99,  99,  99,  99,
    47,  66,  99,  99,  99,  99,  99,  99,
    99,  99,  99,  99,  99,  99,  99,  99,
    99,  99,  99,  99,  99,  99,  99,  99,
    99,  99,  99,  99,  99,  99,  99,  99,
    99,  99,  99,  99,  99,  99,  99,  99,
};

// clang-format on

namespace {

// The four specifications must fill HuffmanSpec exactly: a count that does
// not match its symbols would shift every table after it.
constexpr bool HuffmanSpecIsWhole() {
    uint32_t at = 0;
    for (int table = 0; table < 4; ++table) {
        uint32_t symbols = 0;
        for (int length = 0; length < 16; ++length) symbols += HuffmanSpec[at + 1 + length];
        at += 1 + 16 + symbols;
    }
    return at == sizeof HuffmanSpec && HuffmanSpec[28] == 11 && HuffmanSpec[207] == 0xfa &&
           HuffmanSpec[236] == 11 && HuffmanSpec[415] == 0xfa;
}
static_assert(HuffmanSpecIsWhole(), "HuffmanSpec holds four whole tables");

constexpr uint32_t kHuffmanPairSize = 208;  // DC (1 + 16 + 12) and AC (1 + 16 + 162)
constexpr uint32_t kQuantTableSize = 65;    // table byte and 64 entries

int32_t StepFailed(EncoderSession *session, uint16_t code) {
    *session->status |= code;
    return 0;
}

}  // namespace

int32_t WriteJpegStream(EncoderSession *session) {
    // The scan codes with these until EOI, so they live in this frame.
    HuffmanCodeTable huffmanTables[4];
    QuantTable quantTables[2];

    ByteStream *out = session->output;
    if (!out->WriteWord(out, 0xFFD8)) return 0;  // SOI has no step code
    if (!WriteApp0(session)) return StepFailed(session, StatusApp0Failed);
    if (!WriteDht(session, huffmanTables)) return StepFailed(session, StatusDhtFailed);
    if (!WriteDqt(session, quantTables)) return StepFailed(session, StatusDqtFailed);
    if (!WriteSof0(session)) return StepFailed(session, StatusSof0Failed);
    if (!EncodeScan(session)) return StepFailed(session, StatusScanFailed);
    return out->WriteWord(out, 0xFFD9) ? 1 : 0;  // nor has EOI
}

int32_t WriteApp0(EncoderSession *session) {
    // JFIF 1.01, no density units (1:1 aspect ratio), no thumbnail.
    static constexpr uint8_t kApp0[18] = {
        0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00,
        0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
    };
    ByteStream *out = session->output;
    for (uint8_t byte : kApp0) {
        if (!out->WriteByte(out, byte)) return 0;
    }
    return 1;
}

uint16_t GenerateCodeSizes(uint8_t *sizes, const uint8_t counts[16]) {
    // T.81 Figure C.1. A table has at most 256 codes; a specification that
    // claims more is cut there rather than overrun sizes.
    uint16_t k = 0;
    for (uint8_t length = 1; length <= 16; ++length) {
        for (uint8_t i = 0; i < counts[length - 1] && k < 256; ++i) sizes[k++] = length;
    }
    sizes[k] = 0;
    return k;
}

void GenerateCodeWords(uint16_t *codes, const uint8_t *sizes) {
    // T.81 Figure C.2: consecutive codes within a length, doubled at each
    // step to the next length.
    uint32_t code = 0;
    uint32_t k = 0;
    uint32_t s = sizes[0];
    if (s == 0) return;
    for (;;) {
        while (sizes[k] == s) {
            codes[k++] = static_cast<uint16_t>(code);
            ++code;
        }
        if (sizes[k] == 0) return;
        // Sizes that go down again are no valid specification; stop
        // rather than search for them forever.
        if (sizes[k] < s) return;
        while (s < sizes[k]) {
            code <<= 1;
            ++s;
        }
    }
}

int32_t WriteDht(EncoderSession *session, HuffmanCodeTable tables[4]) {
    ByteStream *out = session->output;
    uint32_t tableCount = session->componentCount == 1 ? 2 : 4;
    if (!out->WriteWord(out, 0xFFC4)) return 0;
    if (!out->WriteWord(out, 2 + kHuffmanPairSize * tableCount / 2)) return 0;

    const uint8_t *spec = HuffmanSpec;
    for (uint32_t j = 0; j < tableCount; ++j) {
        uint8_t counts[16];
        uint8_t symbols[256];
        uint8_t sizes[257];
        uint16_t codes[256];

        // Every symbol HuffmanSpec does not list for this table keeps length 0, so
        // the coders never read an undefined entry.
        memset(tables[j].codeLength, 0, sizeof tables[j].codeLength);
        memset(tables[j].code, 0, sizeof tables[j].code);
        tables[j].tableId = *spec & 0x0F;
        if (!out->WriteByte(out, *spec++)) return 0;
        for (uint8_t &count : counts) {
            count = *spec++;
            if (!out->WriteByte(out, count)) return 0;
        }
        uint16_t codeCount = GenerateCodeSizes(sizes, counts);
        for (uint16_t k = 0; k < codeCount; ++k) {
            symbols[k] = *spec++;
            if (!out->WriteByte(out, symbols[k])) return 0;
        }
        GenerateCodeWords(codes, sizes);
        for (uint16_t k = 0; k < codeCount; ++k) {
            tables[j].codeLength[symbols[k]] = sizes[k];
            tables[j].code[symbols[k]] = codes[k];
        }
    }

    ComponentSpec *c = session->components;
    c[0].dcTable = &tables[0];
    c[0].acTable = &tables[1];
    bool colour = session->componentCount != 1;
    c[1].dcTable = c[2].dcTable = colour ? &tables[2] : nullptr;
    c[1].acTable = c[2].acTable = colour ? &tables[3] : nullptr;
    return 1;
}

int32_t WriteDqt(EncoderSession *session, QuantTable tables[2]) {
    ByteStream *out = session->output;
    uint32_t tableCount = session->componentCount == 1 ? 1 : 2;
    if (!out->WriteWord(out, 0xFFDB)) return 0;
    if (!out->WriteWord(out, 2 + kQuantTableSize * tableCount)) return 0;

    // Quality 50 keeps the base tables; lower qualities scale them up to 50x
    // (quality 1), higher ones down to all ones (quality 100).
    int32_t quality = session->quality;
    int32_t scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;

    const uint8_t *base = QuantBase;
    for (uint32_t t = 0; t < tableCount; ++t) {
        uint8_t entries[64];
        tables[t].precision = *base >> 4;
        tables[t].tableId = *base & 0x0F;
        if (!out->WriteByte(out, *base++)) return 0;
        for (int i = 0; i < 64; ++i) {
            int32_t v = (base[i] * scale + 50) / 100;
            if (v > 255) v = 255;
            if (v == 0) v = 1;
            entries[i] = static_cast<uint8_t>(v);
            tables[t].divisors[i] = static_cast<uint16_t>(v * 8);
        }
        PrepareQuantTable(&tables[t]);
        base += 64;
        for (int i = 0; i < 64; ++i) {
            if (!out->WriteByte(out, entries[ZigZagOrder[i]])) return 0;
        }
    }

    ComponentSpec *c = session->components;
    c[0].quantTable = &tables[0];
    bool colour = session->componentCount != 1;
    c[1].quantTable = c[2].quantTable = colour ? &tables[1] : nullptr;
    return 1;
}

int32_t WriteSof0(EncoderSession *session) {
    ByteStream *out = session->output;
    uint32_t count = session->componentCount;
    if (!out->WriteWord(out, 0xFFC0) || !out->WriteWord(out, 8 + 3 * count) ||
        !out->WriteByte(out, 8) || !out->WriteWord(out, session->frameHeight) ||
        !out->WriteWord(out, session->frameWidth) || !out->WriteByte(out, count)) {
        return 0;
    }
    for (uint32_t i = 0; i < count; ++i) {
        ComponentSpec *c = &session->components[i];
        c->id = static_cast<uint8_t>(i + 1);
        if (!out->WriteByte(out, c->id) ||
            !out->WriteByte(out, c->hSampling * 16 + (c->vSampling & 0x0F)) ||
            !out->WriteByte(out, c->quantTable->tableId)) {
            return 0;
        }
    }
    return 1;
}

int32_t WriteSos(EncoderSession *session) {
    ByteStream *out = session->output;
    uint32_t count = session->componentCount;
    if (!out->WriteWord(out, 0xFFDA) || !out->WriteWord(out, 2 * (count + 3)) ||
        !out->WriteByte(out, count)) {
        return 0;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const ComponentSpec *c = &session->components[i];
        if (!out->WriteByte(out, c->id) ||
            !out->WriteByte(out, c->dcTable->tableId * 16 + (c->acTable->tableId & 0x0F))) {
            return 0;
        }
    }
    // One sequential scan: spectral selection 0 to 63, no approximation.
    return out->WriteByte(out, 0x00) && out->WriteByte(out, 0x3F) && out->WriteByte(out, 0x00);
}
