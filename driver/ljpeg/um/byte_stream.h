// Byte streams: the one interface through which the encoder reads the source
// image and writes (or only counts) the compressed stream.
#pragma once

#include <stdint.h>

// A record of operation slots followed by state. Every operation takes the
// stream first; those that return int32_t give 1 for success and 0 for
// failure. The state members are part of the interface: the pixel fetchers
// and the entropy coders read and write them directly.
struct ByteStream {
    void (*SetReadOrder)(ByteStream *s, uint32_t order);   // a ByteOrder... value
    void (*SetWriteOrder)(ByteStream *s, uint32_t order);  // a ByteOrder... value
    uint32_t (*Tell)(ByteStream *s);
    int32_t (*Seek)(ByteStream *s, int32_t offset, uint32_t whence);
    int32_t (*ReadBit)(ByteStream *s, uint16_t *bit);
    int32_t (*ReadByte)(ByteStream *s, uint8_t *byte);
    int32_t (*ReadWord)(ByteStream *s, uint16_t *word);
    int32_t (*ReadDword)(ByteStream *s, uint32_t *dword);
    int32_t (*WriteBit)(ByteStream *s, uint32_t bit);
    int32_t (*WriteByte)(ByteStream *s, uint32_t byte);
    int32_t (*WriteWord)(ByteStream *s, uint32_t word);
    int32_t (*WriteDword)(ByteStream *s, uint32_t dword);
    int32_t (*FlushBits)(ByteStream *s);
    int32_t (*WriteBits)(ByteStream *s, uint32_t count, uint32_t value);

    uint32_t bitBuffer;  // partial byte; the first bit of a byte is bit 7
    uint32_t bitCount;   // writing: bits pending (0-7 between calls)
    uint8_t *buffer;     // MemoryStream memory; null in a SizeCounter
    uint32_t size;       // capacity, or the highest position counted
    uint32_t position;   // index of the next byte to read or write

    // Where this stream reports StatusStreamBound: the status of the one
    // Jpeg_EncodeStart call that owns the stream, so overlapping calls on
    // other threads never see each other's codes.
    uint16_t *status;
};

// Byte orders of the multi-byte reads and writes (SetReadOrder,
// SetWriteOrder).
constexpr uint32_t ByteOrderMsbFirst = 0;  // big-endian, as JPEG segments are
constexpr uint32_t ByteOrderLsbFirst = 1;  // little-endian, as DIB pixels are

// A reader and writer over caller memory of fixed capacity, little-endian in
// both directions when new. Returns the stream.
ByteStream *InitMemoryStream(ByteStream *s, uint32_t capacity, uint8_t *buffer, uint16_t *status);

// A writer that stores nothing and counts what a MemoryStream would store,
// 0x00 stuffing and padding included. Returns the stream.
ByteStream *InitSizeCounter(ByteStream *s, uint16_t *status);
