// A built-in test card, so the tool can show what the encoder does without
// an input file.
#pragma once

#include "image_file.h"

// Width and height deliberately not multiples of 16, so every subsampling
// has partial MCUs at the right and bottom edges.
constexpr uint32_t kTestCardWidth = 1003;
constexpr uint32_t kTestCardHeight = 601;

// A 24-bit, blue-first, bottom-up image: colour bars, smooth gradients,
// fine line patterns and blocky letter-like shapes with hard edges.
SourceImage MakeTestCard();
