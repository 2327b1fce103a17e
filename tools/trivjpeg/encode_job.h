// The encoder's job for an image read by image_file: the source rows where
// they lie, the image's geometry and pixel order, and the coding choices.
#pragma once

#include "image_file.h"
#include "trivjpeg.h"

inline JpegEncodeJob EncodeJobFor(const SourceImage &image, int quality, int subsampling) {
    JpegEncodeJob job = {};
    job.sourceData = image.pixels();
    job.sourceSize = image.pixelBytes();
    job.width = image.width;
    job.height = image.height;
    job.bitsPerPixel = image.bitsPerPixel;
    job.quality = static_cast<uint8_t>(quality);
    job.subsampling = static_cast<uint8_t>(subsampling);
    job.pixelOrder = image.pixelOrder;
    return job;
}
