// Huffman coding of quantised blocks straight onto the output stream.
#pragma once

#include "encoder_session.h"

int32_t CodeBlock(EncoderSession *session, ComponentSpec *component, const int16_t *block);
