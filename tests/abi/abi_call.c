/* Calls Jpeg_EncodeStart from C through the public header, linked against the
 * shared library as an outside caller links it. This pins what the header
 * promises a C caller: it compiles as strict C11, the symbol and calling
 * convention match the library, and the job record is read at the offsets the
 * header gives.
 *
 * Only jobs that fail validation are used: they need no pixels, and each must
 * return its status and leave destSize as it was. */
#include <stdio.h>
#include <string.h>

#include "trivjpeg.h"

#define UNTOUCHED 0xA5A5A5A5u

static int failures;

static void expect(const char *what, JpegEncodeJob job, uint32_t mode, unsigned want) {
    unsigned got;

    job.destSize = UNTOUCHED;
    got = Jpeg_EncodeStart(&job, mode);
    if (got != want || job.destSize != UNTOUCHED) {
        printf("FAIL %-34s returned 0x%04X (want 0x%04X), destSize 0x%08lX\n", what, got, want,
               (unsigned long)job.destSize);
        failures++;
    } else {
        printf("ok   %-34s returned 0x%04X\n", what, got);
    }
}

int main(void) {
    static const uint8_t pixels[4] = {0x80, 0x80, 0x80, 0x80};
    static uint8_t out[16];
    JpegEncodeJob valid, job;

    memset(&valid, 0, sizeof valid);
    valid.sourceData = pixels;
    valid.sourceSize = sizeof pixels;
    valid.destData = out;
    valid.width = 1;
    valid.height = 1;
    valid.bitsPerPixel = 8;
    valid.quality = 75;
    valid.subsampling = Sub2x2;

    job = valid;
    job.width = 0;
    expect("width 0", job, ModeEncode, StatusBase | StatusBadSize);

    /* The size check comes first: this job is wrong in every field. */
    job.height = 0;
    job.quality = 0;
    job.bitsPerPixel = 15;
    expect("width, height, quality, depth bad", job, ModeSizeOnly,
           StatusBase | StatusBadSize);

    job = valid;
    job.quality = 101;
    expect("quality 101", job, ModeEncode, StatusBase | StatusBadParam);

    job = valid;
    job.subsampling = 3;
    expect("subsampling 3", job, ModeEncode, StatusBase | StatusBadParam);

    job = valid;
    job.bitsPerPixel = 15;
    expect("15 bits per pixel", job, ModeEncode, StatusBase | StatusBadDepth);

    /* Only the low byte of the mode counts: 0x102 is mode 2. */
    expect("mode 2", valid, 2, StatusBase | StatusBadParam);
    expect("mode 0x102", valid, 0x102, StatusBase | StatusBadParam);

    if (failures) {
        printf("%d of the calls above failed\n", failures);
        return 1;
    }
    return 0;
}
