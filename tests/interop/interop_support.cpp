#include "interop_support.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include "encoder_entry.h"
#include "session_setup.h"
#include "stream_headers.h"

namespace interop {

uint32_t Stride(uint32_t width, uint32_t bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

Image Synthetic(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint8_t pixelOrder,
                uint32_t seed) {
    Image image;
    image.width = width;
    image.height = height;
    image.bitsPerPixel = bitsPerPixel;
    image.pixelOrder = pixelOrder;
    uint32_t stride = Stride(width, bitsPerPixel);
    image.bytes.resize(size_t{stride} * height);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t i = 0; i < stride; ++i) {
            state = state * 1664525u + 1013904223u;
            // Gradients plus noise: smooth areas and detail in one picture.
            uint32_t smooth = (i * 5 + y * 3 + (i * y) / 7) & 0xFF;
            image.bytes[size_t{y} * stride + i] = static_cast<uint8_t>(smooth + ((state >> 24) & 0x3F) - 32);
        }
    }
    return image;
}

void PixelRgb(const Image &image, uint32_t x, uint32_t y, int *r, int *g, int *b) {
    const uint8_t *row = image.bytes.data() + size_t{image.height - 1 - y} * Stride(image.width, image.bitsPerPixel);
    bool blueFirst = image.pixelOrder == 1;
    switch (image.bitsPerPixel) {
        case 8: *r = *g = *b = row[x]; return;
        case 16: {
            uint32_t v = row[2 * x] | row[2 * x + 1] << 8;
            int lo = (v & 31) << 3, mid = ((v >> 5) & 31) << 3, hi = ((v >> 10) & 31) << 3;
            *r = blueFirst ? hi : lo;
            *g = mid;
            *b = blueFirst ? lo : hi;
            return;
        }
        default: {
            const uint8_t *p = row + x * (image.bitsPerPixel / 8);
            *r = blueFirst ? p[2] : p[0];
            *g = p[1];
            *b = blueFirst ? p[0] : p[2];
        }
    }
}

JpegEncodeJob MakeJob(const Image &image, uint8_t quality, uint8_t subsampling) {
    JpegEncodeJob job{};
    job.sourceData = image.bytes.data();
    job.sourceSize = static_cast<uint32_t>(image.bytes.size());
    job.width = image.width;
    job.height = image.height;
    job.bitsPerPixel = image.bitsPerPixel;
    job.quality = quality;
    job.subsampling = subsampling;
    job.pixelOrder = image.pixelOrder;
    return job;
}

std::vector<uint8_t> Encode(const Image &image, uint8_t quality, uint8_t subsampling) {
    JpegEncodeJob job = MakeJob(image, quality, subsampling);
    uint16_t status = Jpeg_EncodeStart(&job, ModeSizeOnly);
    EXPECT_EQ(status, 0) << "size-only";
    if (status != 0) return {};
    std::vector<uint8_t> out(job.destSize);
    job.destData = out.data();
    status = Jpeg_EncodeStart(&job, ModeEncode);
    EXPECT_EQ(status, 0) << "encode";
    EXPECT_EQ(job.destSize, out.size()) << "size-only mode must predict encode mode exactly";
    if (status != 0 || job.destSize != out.size()) return {};
    return out;
}

bool Decode(const std::vector<uint8_t> &jpeg, int components, std::vector<uint8_t> *pixels,
            int *width, int *height, std::string *error) {
    tjhandle tj = tjInitDecompress();
    int subsamp, colorspace;
    bool ok = tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), width, height, &subsamp,
                                  &colorspace) == 0;
    if (ok) {
        pixels->resize(size_t(*width) * *height * components);
        // Any warning (a corrupt byte, a premature end) makes this fail too.
        ok = tjDecompress2(tj, jpeg.data(), jpeg.size(), pixels->data(), *width, 0, *height,
                           components == 1 ? TJPF_GRAY : TJPF_RGB, TJFLAG_STOPONWARNING) == 0;
    }
    if (!ok) *error = tjGetErrorStr2(tj);
    tjDestroy(tj);
    return ok;
}

Planes EncoderPlanes(const Image &image, uint8_t quality, uint8_t subsampling) {
    JpegEncodeJob job = MakeJob(image, quality, subsampling);
    uint16_t status = StatusBase;
    EncodeSetup setup;
    Planes planes;
    if (!ValidateJob(&job, &setup, &status)) {
        ADD_FAILURE() << "job rejected";
        return planes;
    }
    setup.outputKind = OutputCount;
    ByteStream source, counter;
    InitMemoryStream(&source, job.sourceSize, const_cast<uint8_t *>(job.sourceData), &status);
    InitSizeCounter(&counter, &status);
    EncoderSession session;
    session.source = &source;
    session.output = &counter;
    session.status = &status;
    // Runs the whole encoding once, which leaves the geometry in the session.
    if (!SetUpSession(&job, &setup, &session)) {
        ADD_FAILURE() << "encoding failed";
        return planes;
    }
    SetMcuGeometry(&session);

    const int mcuW = session.mcuWidth, mcuH = session.mcuHeight;
    const int perRow = session.mcusPerRow;
    const int rows = static_cast<int>(session.mcuCount) / perRow;
    const bool grey = session.componentCount == 1;
    planes.width = perRow * mcuW;
    planes.height = rows * mcuH;
    planes.plane[0].assign(size_t(planes.width) * planes.height, 0);
    if (!grey) {
        planes.chromaWidth = perRow * 8;
        planes.chromaHeight = rows * 8;
        planes.plane[1].assign(size_t(planes.chromaWidth) * planes.chromaHeight, 0);
        planes.plane[2].assign(size_t(planes.chromaWidth) * planes.chromaHeight, 0);
    }
    uint8_t samples[kMcuSampleBufferSize];
    for (uint32_t m = 0; m < session.mcuCount; ++m) {
        session.mcuIndex = m;
        if (!session.fetcher(&session, samples)) {
            ADD_FAILURE() << "fetch of MCU " << m << " failed";
            return planes;
        }
        const int mx = m % perRow, my = m / perRow;
        int k = 0;
        for (int v = 0; v < mcuH / 8; ++v) {
            for (int h = 0; h < mcuW / 8; ++h, ++k) {
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x) {
                        planes.plane[0][size_t(my * mcuH + v * 8 + y) * planes.width + mx * mcuW +
                                        h * 8 + x] = samples[64 * k + 8 * y + x];
                    }
                }
            }
        }
        for (int c = 1; !grey && c < 3; ++c, ++k) {
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    planes.plane[c][size_t(my * 8 + y) * planes.chromaWidth + mx * 8 + x] =
                        samples[64 * k + 8 * y + x];
                }
            }
        }
    }
    return planes;
}

std::vector<uint8_t> OracleStream(const Planes &planes, bool grey, uint8_t subsampling,
                                  uint8_t quality) {
    static constexpr int kSamp[3] = {TJSAMP_420, TJSAMP_422, TJSAMP_444};
    tjhandle tj = tjInitCompress();
    const unsigned char *sources[3] = {planes.plane[0].data(), planes.plane[1].data(),
                                       planes.plane[2].data()};
    int strides[3] = {planes.width, planes.chromaWidth, planes.chromaWidth};
    unsigned char *out = nullptr;
    unsigned long size = 0;
    int samp = grey ? TJSAMP_GRAY : kSamp[subsampling];
    std::vector<uint8_t> stream;
    if (tjCompressFromYUVPlanes(tj, sources, planes.width, strides, planes.height, samp, &out,
                                &size, quality, TJFLAG_ACCURATEDCT) == 0) {
        stream.assign(out, out + size);
    } else {
        ADD_FAILURE() << "TurboJPEG: " << tjGetErrorStr2(tj);
    }
    tjFree(out);
    tjDestroy(tj);
    return stream;
}

Segments Split(const std::vector<uint8_t> &jpeg) {
    Segments s;
    size_t n = jpeg.size();
    if (n < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8 || jpeg[n - 2] != 0xFF || jpeg[n - 1] != 0xD9) {
        return s;
    }
    size_t at = 2;
    while (at + 4 <= n) {
        if (jpeg[at] != 0xFF) return s;
        int marker = jpeg[at + 1];
        size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > n) return s;
        const uint8_t *body = jpeg.data() + at + 4;
        size_t bodySize = length - 2;
        if (marker == 0xC4) {
            // One or more tables: class/id byte, 16 counts, the symbols.
            size_t i = 0;
            while (i + 17 <= bodySize) {
                size_t symbols = 0;
                for (int l = 1; l <= 16; ++l) symbols += body[i + l];
                if (i + 17 + symbols > bodySize) return s;
                s.huffman[body[i]].assign(body + i, body + i + 17 + symbols);
                i += 17 + symbols;
            }
        } else if (marker == 0xDB) {
            for (size_t i = 0; i + 65 <= bodySize; i += 65) s.quant[body[i]].assign(body + i, body + i + 65);
        } else if (marker == 0xDA) {
            s.scan.assign(jpeg.begin() + at + 2 + length, jpeg.end() - 2);
            s.ok = true;
            return s;
        }
        at += 2 + length;
    }
    return s;
}

}  // namespace interop
