/* TRIVJPEG: allocation-free baseline JPEG (JFIF 1.01) encoder.
 *
 * One export, Jpeg_EncodeStart. The caller describes one bottom-up raster
 * image in a JpegEncodeJob and either asks for the exact length of the JFIF
 * stream (ModeSizeOnly) or has the stream written into its own buffer
 * (ModeEncode). The result is 0 on success, otherwise a status value that
 * always contains StatusBase (0x2000).
 *
 * The header compiles as C and as C++. */
#ifndef TRIVJPEG_H
#define TRIVJPEG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Jpeg_EncodeStart follows the standard 32-bit Windows convention in which
 * the callee pops its arguments (ret 8); elsewhere the platform default. */
#if defined(_MSC_VER) && defined(_M_IX86)
#define TRIVJPEG_CALL __stdcall
#elif defined(__GNUC__) && defined(__i386__)
#define TRIVJPEG_CALL __attribute__((__stdcall__))
#else
#define TRIVJPEG_CALL
#endif

#if defined(_WIN32)
#define TRIVJPEG_API /* exported through TRIVJPEG.def */
#elif defined(__GNUC__)
#define TRIVJPEG_API __attribute__((__visibility__("default")))
#else
#define TRIVJPEG_API
#endif

/* The caller's record. Its layout is fixed for 32-bit callers: offsets 0, 4,
 * ... 32 and 36 bytes in all. The library reads nothing beyond offset 32 and
 * writes only destSize. */
typedef struct JpegEncodeJob {
    const uint8_t *sourceData; /* bottom-up rows, each padded to 4 bytes  */
    uint32_t sourceSize;       /* bytes at sourceData that may be read     */
    uint8_t *destData;         /* output buffer (ModeEncode only)          */
    uint32_t destSize;         /* in: capacity (ModeEncode); out: length   */
    uint32_t width;            /* 1 to 65535                               */
    uint32_t height;           /* 1 to 65535                               */
    uint32_t reserved;         /* never read or written                    */
    uint16_t bitsPerPixel;     /* 8 (grey), 16, 24 or 32                   */
    uint8_t quality;           /* 1 to 100                                 */
    uint8_t subsampling;       /* Sub2x2, Sub2x1 or SubNone                */
    uint8_t pixelOrder;        /* 1: blue first; any other value: red first */
} JpegEncodeJob;

#if UINTPTR_MAX == 0xFFFFFFFFu
#ifdef __cplusplus
#define TRIVJPEG_LAYOUT(cond, what) static_assert(cond, what)
#else
#define TRIVJPEG_LAYOUT(cond, what) _Static_assert(cond, what)
#endif
#include <stddef.h>
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, sourceData) == 0, "sourceData at 0");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, sourceSize) == 4, "sourceSize at 4");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, destData) == 8, "destData at 8");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, destSize) == 12, "destSize at 12");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, width) == 16, "width at 16");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, height) == 20, "height at 20");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, reserved) == 24, "reserved at 24");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, bitsPerPixel) == 28, "bitsPerPixel at 28");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, quality) == 30, "quality at 30");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, subsampling) == 31, "subsampling at 31");
TRIVJPEG_LAYOUT(offsetof(JpegEncodeJob, pixelOrder) == 32, "pixelOrder at 32");
TRIVJPEG_LAYOUT(sizeof(JpegEncodeJob) == 36, "JpegEncodeJob is 36 bytes");
#undef TRIVJPEG_LAYOUT
#endif

/* The mode argument; only its lowest byte counts. */
enum JpegEncodeMode {
    ModeSizeOnly = 0, /* count the stream's bytes, store nothing */
    ModeEncode = 1    /* write the stream into destData          */
};

/* Chroma subsampling of colour images. */
enum JpegSubsampling {
    Sub2x2 = 0, /* 4:2:0 */
    Sub2x1 = 1, /* 4:2:2, horizontal only */
    SubNone = 2 /* 4:4:4 */
};

/* Status codes. A failing call returns StatusBase ORed with one step code
 * and perhaps StatusStreamBound. The step codes share bits, so remove 0x2000
 * and 0x5 and compare what is left; they are not independent flags. */
enum JpegStatus {
    StatusBase = 0x2000,        /* in every failing result                    */
    StatusBadSize = 0x30,       /* width or height 0, or above 65535          */
    StatusBadParam = 0xF00,     /* quality, subsampling or mode out of range  */
    StatusBadDepth = 0x1A0,     /* bitsPerPixel not 8, 16, 24 or 32           */
    StatusApp0Failed = 0x90,    /* APP0 segment did not fit                   */
    StatusDhtFailed = 0x40,     /* DHT segment did not fit                    */
    StatusDqtFailed = 0x50,     /* DQT segment did not fit                    */
    StatusSof0Failed = 0x70,    /* SOF0 segment did not fit                   */
    StatusScanFailed = 0x80,    /* SOS, pixel intake, coding or final flush   */
    StatusStreamBound = 0x5     /* a stream or a source row ran out of room   */
};

/* Encodes job in the given mode. Returns 0 on success with the stream length
 * in job->destSize, or the status of this call (always with StatusBase). A
 * job that fails validation, or a mode other than 0 and 1, leaves destSize
 * untouched; a failed encoding sets it to 0. Thread-safe: every call keeps
 * its state, its status included, on its own stack. */
TRIVJPEG_API uint16_t TRIVJPEG_CALL Jpeg_EncodeStart(JpegEncodeJob *job, uint32_t mode);

#ifdef __cplusplus
}
#endif

#endif /* TRIVJPEG_H */
