// trivjpeg: encodes a PNG, BMP, PPM or PGM file (or a built-in test card) to
// a baseline JFIF file with the TRIVJPEG library.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "encode_job.h"
#include "file_io.h"
#include "image_file.h"
#include "test_card.h"
#include "trivjpeg.h"

namespace {

constexpr const char *kVersion = "trivjpeg " TRIVJPEG_VERSION;

void Usage(FILE *to) {
    fputs(
        "Usage: trivjpeg [options] [INPUT] -o OUTPUT.jpg\n"
        "       trivjpeg [options] [INPUT] --size-only\n"
        "\n"
        "Encodes INPUT as a baseline JPEG (JFIF 1.01) file. INPUT is a PNG, a BMP\n"
        "(8-bit with a grey palette, 16-bit 5-5-5, 24-bit or 32-bit, uncompressed) or a\n"
        "binary PGM (P5) or PPM (P6) file with a maximum value up to 255; '-' reads it\n"
        "from standard input. Without INPUT a built-in test card (1003x601) is encoded.\n"
        "PNG: every colour type and bit depth, interlaced or not; 16-bit samples are\n"
        "rounded to 8 bits and alpha is dropped (not blended); grey PNGs encode as grey.\n"
        "\n"
        "Options:\n"
        "  -o, --output FILE        write the JPEG stream to FILE ('-': standard output)\n"
        "  -q, --quality N          quality 1 to 100 (default 75)\n"
        "  -s, --subsampling MODE   chroma subsampling 420, 422 or 444 (default 420)\n"
        "  -g, --grayscale          encode a one-component greyscale stream\n"
        "      --size-only          print the exact length of the stream, write nothing\n"
        "  -h, --help               show this help\n"
        "      --version            show the version\n"
        "\n"
        "The output is written whole or not at all: a regular file is replaced only\n"
        "once the stream is complete (a symbolic link is followed; a replaced file\n"
        "keeps its permissions); a device, a FIFO or standard output is written only\n"
        "after the encode succeeded. JPEG data is never written to a terminal.\n"
        "Exit status: 0 success, 1 unreadable or unsupported input or a failed encode\n"
        "or write, 2 bad usage.\n",
        to);
}

int UsageError(const std::string &message) {
    fprintf(stderr, "trivjpeg: %s\nTry 'trivjpeg --help'.\n", message.c_str());
    return 2;
}

bool ParseNumber(const char *text, long low, long high, long *value) {
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

const char *Describe(uint16_t status) {
    switch (status & ~(StatusBase | StatusStreamBound)) {
        case StatusBadSize: return "width or height out of range";
        case StatusBadParam: return "quality, subsampling or mode out of range";
        case StatusBadDepth: return "unsupported bits per pixel";
        case StatusApp0Failed:
        case StatusDhtFailed:
        case StatusDqtFailed:
        case StatusSof0Failed: return "output buffer too small for the headers";
        case StatusScanFailed:
            return status & StatusStreamBound ? "source image data ends early"
                                              : "output buffer too small for the scan";
        default: return "output buffer too small";
    }
}

}  // namespace

int main(int argc, char **argv) {
    std::string input, output;
    long quality = 75;
    int subsampling = Sub2x2;
    bool grey = false, sizeOnly = false;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) return nullptr;
            (void)name;
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        } else if (arg == "--version") {
            puts(kVersion);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            const char *v = value("output");
            if (!v) return UsageError(arg + " needs a file name");
            output = v;
        } else if (arg == "-q" || arg == "--quality") {
            const char *v = value("quality");
            if (!v || !ParseNumber(v, 1, 100, &quality)) {
                return UsageError("quality must be a whole number from 1 to 100");
            }
        } else if (arg == "-s" || arg == "--subsampling") {
            const char *v = value("subsampling");
            std::string mode = v ? v : "";
            if (mode == "420") subsampling = Sub2x2;
            else if (mode == "422") subsampling = Sub2x1;
            else if (mode == "444") subsampling = SubNone;
            else return UsageError("subsampling must be 420, 422 or 444");
        } else if (arg == "-g" || arg == "--grayscale" || arg == "--greyscale") {
            grey = true;
        } else if (arg == "--size-only") {
            sizeOnly = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else if (input.empty()) {
            input = arg;
        } else {
            return UsageError("more than one input file given");
        }
    }
    if (output.empty() && !sizeOnly) return UsageError("no output file given (use -o FILE)");
    if (!sizeOnly && IsTerminalStdout(output)) {
        return UsageError("standard output is a terminal; JPEG data is not written to one");
    }

    SourceImage image;
    std::string name = input.empty() ? "test card" : input == "-" ? "standard input" : input;
    if (input.empty()) {
        image = MakeTestCard();
    } else {
        std::vector<uint8_t> file;
        std::string error;
        if (!ReadWhole(input, &file, &error) || !ReadImage(std::move(file), &image, &error)) {
            fprintf(stderr, "trivjpeg: %s: %s\n", name.c_str(), error.c_str());
            return 1;
        }
    }
    if (grey) ConvertToGrey(&image);

    JpegEncodeJob job = EncodeJobFor(image, static_cast<int>(quality), subsampling);

    // One size-only pass tells the exact length; the encode then fills a
    // buffer of exactly that size.
    uint16_t status = Jpeg_EncodeStart(&job, ModeSizeOnly);
    if (status != 0) {
        fprintf(stderr, "trivjpeg: %s: cannot encode: %s (status 0x%04X)\n", name.c_str(),
                Describe(status), status);
        return 1;
    }
    if (sizeOnly) {
        printf("%u\n", job.destSize);
        return 0;
    }
    std::vector<uint8_t> jpeg(job.destSize);
    job.destData = jpeg.data();
    status = Jpeg_EncodeStart(&job, ModeEncode);
    if (status != 0 || job.destSize != jpeg.size()) {
        fprintf(stderr, "trivjpeg: %s: encoding failed: %s (status 0x%04X)\n", name.c_str(),
                Describe(status), status);
        return 1;
    }
    std::string error;
    if (!WriteWhole(output, jpeg.data(), jpeg.size(), &error)) {
        fprintf(stderr, "trivjpeg: %s: cannot write: %s\n",
                output == "-" ? "standard output" : output.c_str(), error.c_str());
        return 1;
    }
    return 0;
}
