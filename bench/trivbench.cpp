// trivbench: single-thread encode throughput of TRIVJPEG beside
// libjpeg-turbo (TurboJPEG, accurate DCT, bottom-up BGR/BGRX/grey input, the
// same quality and subsampling), on the same images, interleaved, several
// repetitions; the median of each and their ratio. Also times TRIVJPEG's
// size-only mode.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <turbojpeg.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "encode_job.h"
#include "file_io.h"
#include "image_file.h"
#include "simd_support.h"
#include "trivjpeg.h"
#if TRIVBENCH_PE_DLL
#include "pe_call.h"
#include "win32.h"
#endif

namespace {

// The encoder timed or counted: this build's library, or (i386) TRIVJPEG.DLL
// itself, loaded by the Win32 stand-in and called as a 32-bit Windows caller
// calls it.
struct Encoder {
    const void *dllEncodeStart = nullptr;

    uint32_t EncodeStart(JpegEncodeJob *job, uint32_t mode) const {
#if TRIVBENCH_PE_DLL
        if (dllEncodeStart != nullptr) {
            const uint32_t arguments[2] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(job)),
                                           mode};
            PeCallResult result = {};
            Pe_Call(dllEncodeStart, arguments, 2, 4, &result);
            return result.eax;
        }
#endif
        return Jpeg_EncodeStart(job, mode);
    }
};

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Setting {
    const char *name;
    int subsampling;  // Sub2x2, Sub2x1, SubNone; grey uses 8 bpp
    int tjSubsampling;
};

constexpr Setting kSettings[] = {
    {"420", Sub2x2, TJSAMP_420},
    {"422", Sub2x1, TJSAMP_422},
    {"444", SubNone, TJSAMP_444},
};

struct Image {
    std::string name;
    SourceImage pixels;  // bottom-up, pixel order 1 (BGR) for colour
};

// One row of the table.
struct Result {
    std::string image, setting;
    int bits, quality;
    double megapixels;
    double ours, theirs, sizeOnly;  // median megapixels per second
    double oursPerSecond, theirsPerSecond;  // encodes (pages) per second, from the same medians
    uint32_t ourBytes;
    unsigned long theirBytes;
};

// TurboJPEG set up for one picture and subsampling: accurate DCT,
// bottom-up, into a buffer of its own that never grows.
class Turbo {
public:
    Turbo(const SourceImage &pixels, int tjSubsampling)
        : pixels_(pixels),
          format_(pixels.bitsPerPixel == 8 ? TJPF_GRAY : pixels.bitsPerPixel == 24 ? TJPF_BGR : TJPF_BGRX),
          subsampling_(pixels.bitsPerPixel == 8 ? TJSAMP_GRAY : tjSubsampling),
          capacity_(tjBufSize(pixels.width, pixels.height, subsampling_)),
          buffer_(tjAlloc(capacity_)) {}
    ~Turbo() {
        tjFree(buffer_);
        tjDestroy(tj_);
    }
    Turbo(const Turbo &) = delete;
    Turbo &operator=(const Turbo &) = delete;

    // The length of the stream; exits on failure.
    unsigned long Encode(int quality) {
        unsigned long size = capacity_;
        if (tjCompress2(tj_, pixels_.pixels(), pixels_.width,
                        static_cast<int>(RowStride(pixels_.width, pixels_.bitsPerPixel)),
                        pixels_.height, format_, &buffer_, &size, subsampling_, quality,
                        TJFLAG_ACCURATEDCT | TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC) != 0) {
            fprintf(stderr, "trivbench: TurboJPEG: %s\n", tjGetErrorStr2(tj_));
            exit(1);
        }
        return size;
    }

private:
    const SourceImage &pixels_;
    tjhandle tj_ = tjInitCompress();
    int format_, subsampling_;
    unsigned long capacity_;
    unsigned char *buffer_;
};

Result Measure(const Encoder &encoder, const Image &image, const SourceImage &pixels,
               const char *setting, int subsampling, int tjSubsampling, int quality,
               int repetitions) {
    Result r{image.name, setting, pixels.bitsPerPixel, quality, 0, 0, 0, 0, 0, 0, 0, 0};
    r.megapixels = double(pixels.width) * pixels.height / 1e6;
    JpegEncodeJob job = EncodeJobFor(pixels, quality, subsampling);
    if (encoder.EncodeStart(&job, ModeSizeOnly) != 0) {
        fprintf(stderr, "trivbench: %s: size-only encode failed\n", image.name.c_str());
        exit(1);
    }
    std::vector<uint8_t> ours(job.destSize);
    r.ourBytes = job.destSize;

    Turbo turbo(pixels, tjSubsampling);

    std::vector<double> ourTimes, theirTimes, sizeTimes;
    for (int i = 0; i < repetitions; ++i) {
        double t0 = Now();
        job.destData = ours.data();
        job.destSize = static_cast<uint32_t>(ours.size());
        if (encoder.EncodeStart(&job, ModeEncode) != 0) {
            fprintf(stderr, "trivbench: %s: encode failed\n", image.name.c_str());
            exit(1);
        }
        double t1 = Now();
        r.theirBytes = turbo.Encode(quality);
        double t2 = Now();
        encoder.EncodeStart(&job, ModeSizeOnly);
        double t3 = Now();
        ourTimes.push_back(t1 - t0);
        theirTimes.push_back(t2 - t1);
        sizeTimes.push_back(t3 - t2);
    }
    r.oursPerSecond = 1 / Median(ourTimes);
    r.theirsPerSecond = 1 / Median(theirTimes);
    r.ours = r.megapixels * r.oursPerSecond;
    r.theirs = r.megapixels * r.theirsPerSecond;
    r.sizeOnly = r.megapixels / Median(sizeTimes);
    return r;
}

// Encodes with one encoder only, `encodes` times, and prints the length: run
// under an instruction counter once with one encode and once with two, the
// difference is what one encode executes (bench/count_insns.sh).
void Count(const Encoder &encoder, const Image &image, const SourceImage &pixels,
           const char *setting, int subsampling, int tjSubsampling, int quality, bool ours,
           int encodes) {
    uint64_t bytes = 0;
    if (ours) {
        JpegEncodeJob job = EncodeJobFor(pixels, quality, subsampling);
        std::vector<uint8_t> out(size_t{pixels.width} * pixels.height * 4 + 65536);
        for (int i = 0; i < encodes; ++i) {
            job.destData = out.data();
            job.destSize = static_cast<uint32_t>(out.size());
            if (encoder.EncodeStart(&job, ModeEncode) != 0) {
                fprintf(stderr, "trivbench: %s: encode failed\n", image.name.c_str());
                exit(1);
            }
            bytes = job.destSize;
        }
    } else {
        Turbo turbo(pixels, tjSubsampling);
        for (int i = 0; i < encodes; ++i) bytes = turbo.Encode(quality);
    }
    printf("%s,%u,%u,%d,%s,%d,%s,%llu\n", image.name.c_str(), pixels.width, pixels.height,
           pixels.bitsPerPixel, setting, quality, ours ? "trivjpeg" : "turbojpeg",
           static_cast<unsigned long long>(bytes));
}

// Blue first, as DIBs and BMP files are, from red-first rows (PPM).
void ToBlueFirst(SourceImage *image) {
    if (image->pixelOrder == 1) return;
    uint64_t stride = RowStride(image->width, 24);
    for (uint32_t y = 0; y < image->height; ++y) {
        uint8_t *p = image->bytes.data() + image->offset + y * stride;
        for (uint32_t x = 0; x < image->width; ++x, p += 3) std::swap(p[0], p[2]);
    }
    image->pixelOrder = 1;
}

// Four bytes per pixel, the fourth ignored, from 24-bit BGR.
SourceImage ToBgrx(const SourceImage &bgr) {
    SourceImage out;
    out.width = bgr.width;
    out.height = bgr.height;
    out.bitsPerPixel = 32;
    out.pixelOrder = 1;
    uint64_t in = RowStride(bgr.width, 24), stride = RowStride(bgr.width, 32);
    out.bytes.assign(stride * bgr.height, 0xFF);
    for (uint32_t y = 0; y < bgr.height; ++y) {
        for (uint32_t x = 0; x < bgr.width; ++x) {
            memcpy(&out.bytes[y * stride + 4 * x], bgr.pixels() + y * in + 3 * x, 3);
        }
    }
    return out;
}

void Usage() {
    puts("Usage: trivbench [--csv] [--reps N] [--quality Q[,Q...]] [--modes M[,M...]]\n"
         "                 [--depths D[,D...]] [--level L] [--count trivjpeg|turbojpeg\n"
         "                 [--encodes N]] IMAGE...\n"
         "\n"
         "Encodes each 24-bit image (BMP, PPM or PNG) with TRIVJPEG and with TurboJPEG\n"
         "(accurate DCT, bottom-up BGR, BGRX and grey input), interleaved, N times\n"
         "(default 5), at 4:2:0, 4:2:2, 4:4:4 and greyscale, at 24 and 32 bits per\n"
         "pixel and each quality (default 50,75,90,100), and prints the median\n"
         "megapixels per second of each, their ratio, the speed of TRIVJPEG's size-only\n"
         "mode, and the same medians as encodes (pages) per second. Single thread.\n"
         "\n"
         "--modes 420,422,444,grey and --depths 24,32 take a part of the grid.\n"
         "--level none|sse2|ssse3|avx2|avx512 caps the vector level of this build's\n"
         "TRIVJPEG (default: the highest the processor and the system support).\n"
         "--count ENCODER encodes each setting N times (default 1) with that encoder\n"
         "only and prints the lengths, for an instruction counter to run it under.\n"
#if TRIVBENCH_PE_DLL
         "--dll TRIVJPEG.DLL times or counts that DLL itself, loaded by the Win32\n"
         "stand-in, instead of this build's library.\n"
#endif
         );
}

}  // namespace

int main(int argc, char **argv) {
    bool csv = false;
    int repetitions = 5;
    std::vector<int> qualities = {50, 75, 90, 100};
    std::string modes = "420,422,444,grey", depths = "24,32", count;
    int encodes = 1;
    std::string dll;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            Usage();
            return 0;
        } else if (arg == "--csv") {
            csv = true;
        } else if (arg == "--reps" && i + 1 < argc) {
            repetitions = std::max(1, atoi(argv[++i]));
        } else if (arg == "--quality" && i + 1 < argc) {
            qualities.clear();
            for (char *q = strtok(argv[++i], ","); q; q = strtok(nullptr, ",")) qualities.push_back(atoi(q));
        } else if (arg == "--modes" && i + 1 < argc) {
            modes = argv[++i];
        } else if (arg == "--depths" && i + 1 < argc) {
            depths = argv[++i];
        } else if (arg == "--count" && i + 1 < argc &&
                   (std::string(argv[i + 1]) == "trivjpeg" || std::string(argv[i + 1]) == "turbojpeg")) {
            count = argv[++i];
#if TRIVBENCH_PE_DLL
        } else if (arg == "--dll" && i + 1 < argc) {
            dll = argv[++i];
#endif
        } else if (arg == "--level" && i + 1 < argc) {
            const std::string level = argv[++i];
            const char *const names[] = {"none", "sse2", "ssse3", "avx2", "avx512"};
            auto at = std::find(std::begin(names), std::end(names), level);
            if (at == std::end(names)) {
                fprintf(stderr, "trivbench: --level takes none, sse2, ssse3, avx2 or avx512\n");
                return 2;
            }
            LimitSimdLevel(static_cast<uint32_t>(at - std::begin(names)));
        } else if (arg == "--encodes" && i + 1 < argc) {
            encodes = std::max(1, atoi(argv[++i]));
        } else if (!arg.empty() && arg[0] == '-') {
            fprintf(stderr, "trivbench: unknown option %s (try --help)\n", arg.c_str());
            return 2;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        Usage();
        return 2;
    }

    // Whether a comma-separated list holds an item.
    auto listed = [](const std::string &list, const std::string &item) {
        return ("," + list + ",").find("," + item + ",") != std::string::npos;
    };
    Encoder encoder;
#if TRIVBENCH_PE_DLL
    if (!dll.empty()) {
        HMODULE module = LoadLibraryA(dll.c_str());
        encoder.dllEncodeStart =
            module ? reinterpret_cast<const void *>(GetProcAddress(module, "Jpeg_EncodeStart"))
                   : nullptr;
        if (encoder.dllEncodeStart == nullptr) {
            fprintf(stderr, "trivbench: %s: cannot load it, or it has no Jpeg_EncodeStart\n",
                    dll.c_str());
            return 1;
        }
    }
#endif
    if (!count.empty()) {
        puts("image,width,height,bpp,subsampling,quality,encoder,bytes");
    } else if (csv) puts("image,width,height,bpp,subsampling,quality,trivjpeg_mps,turbojpeg_mps,ratio,sizeonly_mps,trivjpeg_bytes,turbojpeg_bytes,trivjpeg_per_s,turbojpeg_per_s");
    else printf("%-28s %11s %4s %5s %3s %10s %10s %6s %10s %11s %11s\n", "image", "size", "bpp", "mode", "q",
                "trivjpeg", "turbojpeg", "ratio", "size-only", "trivjpeg/s", "turbojpeg/s");
    for (const std::string &path : paths) {
        std::vector<uint8_t> file;
        std::string error;
        Image image;
        image.name = path.substr(path.find_last_of('/') + 1);
        if (!ReadWhole(path, &file, &error) || !ReadImage(std::move(file), &image.pixels, &error) ||
            image.pixels.bitsPerPixel != 24) {
            fprintf(stderr, "trivbench: %s: %s\n", path.c_str(), error.empty() ? "not a 24-bit image" : error.c_str());
            return 1;
        }
        ToBlueFirst(&image.pixels);
        SourceImage bgrx = ToBgrx(image.pixels);
        SourceImage grey = image.pixels;
        ConvertToGrey(&grey);
        std::vector<Result> rows;
        auto run = [&](const SourceImage &pixels, const char *name, int subsampling, int tjSubsampling,
                       int quality) {
            if (!listed(modes, name)) return;
            if (pixels.bitsPerPixel != 8 && !listed(depths, std::to_string(pixels.bitsPerPixel))) return;
            if (!count.empty()) {
                Count(encoder, image, pixels, name, subsampling, tjSubsampling, quality,
                      count == "trivjpeg", encodes);
            } else {
                rows.push_back(Measure(encoder, image, pixels, name, subsampling, tjSubsampling,
                                       quality, repetitions));
            }
        };
        for (int quality : qualities) {
            for (const Setting &s : kSettings) {
                run(image.pixels, s.name, s.subsampling, s.tjSubsampling, quality);
                run(bgrx, s.name, s.subsampling, s.tjSubsampling, quality);
            }
            run(grey, "grey", Sub2x2, TJSAMP_GRAY, quality);
        }
        for (const Result &r : rows) {
            if (csv) {
                printf("%s,%u,%u,%d,%s,%d,%.1f,%.1f,%.3f,%.1f,%u,%lu,%.2f,%.2f\n", r.image.c_str(),
                       image.pixels.width, image.pixels.height, r.bits, r.setting.c_str(), r.quality,
                       r.ours, r.theirs, r.ours / r.theirs, r.sizeOnly, r.ourBytes, r.theirBytes,
                       r.oursPerSecond, r.theirsPerSecond);
            } else {
                char size[32];
                snprintf(size, sizeof size, "%ux%u", image.pixels.width, image.pixels.height);
                printf("%-28s %11s %4d %5s %3d %10.1f %10.1f %5.2fx %10.1f %11.2f %11.2f\n",
                       r.image.c_str(), size, r.bits, r.setting.c_str(), r.quality, r.ours, r.theirs,
                       r.ours / r.theirs, r.sizeOnly, r.oursPerSecond, r.theirsPerSecond);
            }
            fflush(stdout);
        }
    }
    return 0;
}
