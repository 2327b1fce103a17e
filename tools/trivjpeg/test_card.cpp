// The test card. Each band exercises a different part of the encoder: flat
// saturated bars (colour conversion and clamping), gradients (DC prediction
// and low frequencies), one-pixel lines (high frequencies and long codes),
// and glyphs with hard edges on a flat ground (ringing, chroma subsampling).

#include "test_card.h"

namespace {

struct Colour {
    uint8_t r, g, b;
};

// 5x7 dot glyphs for "TRIVJPEG 0123456789", one bit per dot, rows top down.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
};

bool GlyphDot(char c, uint32_t x, uint32_t y) {
    if (x >= 5 || y >= 7) return false;  // the gap between letters
    for (const Glyph &g : kGlyphs) {
        if (g.c == c) return (g.rows[y] >> (4 - x)) & 1;
    }
    return false;
}

Colour Pixel(uint32_t x, uint32_t y) {
    constexpr uint32_t w = kTestCardWidth;
    constexpr uint32_t h = kTestCardHeight;
    static constexpr Colour kBars[8] = {
        {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
        {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
    };
    if (y < h / 4) return kBars[x * 8 / w];
    if (y < h / 2) {
        // Hue ramp across, fading to grey downwards.
        uint32_t band = y - h / 4;
        uint8_t t = static_cast<uint8_t>(x * 255 / (w - 1));
        uint8_t fade = static_cast<uint8_t>(band * 255 / (h / 4));
        auto mix = [fade](uint32_t v) { return static_cast<uint8_t>((v * (255 - fade) + 128 * fade) / 255); };
        uint32_t wave = x * 3 % 510;  // a triangle wave, 0 to 255 and back
        return {mix(t), mix(255 - t), mix(wave < 255 ? wave : 509 - wave)};
    }
    if (y < 3 * h / 4) {
        // Line patterns of growing period, left to right, and a fine checker.
        uint32_t period = 1 + x * 6 / w;
        bool on = x < w - 120 ? (x / period) % 2 == 0 : ((x + y) & 1) == 0;
        uint8_t v = on ? 230 : 25;
        return {v, static_cast<uint8_t>(on ? 200 : 40), v};
    }
    // Text: letters 7 pixels per dot on a light ground.
    static constexpr char kText[] = "TRIVJPEG 0123456789";
    constexpr uint32_t dot = 7;
    uint32_t row = y - 3 * h / 4 - 20;
    uint32_t cell = x / (6 * dot);
    if (row < 7 * dot && cell < sizeof kText - 1 && GlyphDot(kText[cell], (x / dot) % 6, row / dot)) {
        return {20, 30, 120};
    }
    return {245, 240, 225};
}

}  // namespace

SourceImage MakeTestCard() {
    SourceImage card;
    card.width = kTestCardWidth;
    card.height = kTestCardHeight;
    card.bitsPerPixel = 24;
    card.pixelOrder = 1;
    uint64_t stride = RowStride(card.width, 24);
    card.bytes.assign(stride * card.height, 0);
    for (uint32_t y = 0; y < card.height; ++y) {
        // Bottom-up: picture row y is buffer row height - 1 - y.
        uint8_t *out = card.bytes.data() + (card.height - 1 - y) * stride;
        for (uint32_t x = 0; x < card.width; ++x) {
            Colour c = Pixel(x, y);
            out[3 * x] = c.b;
            out[3 * x + 1] = c.g;
            out[3 * x + 2] = c.r;
        }
    }
    return card;
}
