// Includes the installed header from C++ and calls the installed library.
#include <trivjpeg.h>

#include <cstdio>

int main() {
    JpegEncodeJob job{};
    job.height = 1;
    job.bitsPerPixel = 8;
    job.quality = 75;
    job.destSize = 7;
    const uint16_t status = Jpeg_EncodeStart(&job, ModeSizeOnly);
    std::printf("Jpeg_EncodeStart on a job of width 0: 0x%04X, destSize %u\n",
                static_cast<unsigned>(status), static_cast<unsigned>(job.destSize));
    return status == (StatusBase | StatusBadSize) && job.destSize == 7 ? 0 : 1;
}
