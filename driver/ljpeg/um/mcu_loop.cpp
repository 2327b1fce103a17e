// The scan. SOS and the MCU geometry are in place; the MCU loop that codes
// the blocks is not built yet, so the scan reports failure after SOS.

#include "mcu_loop.h"

#include "stream_headers.h"

int32_t EncodeScan(EncoderSession *session) {
    if (!WriteSos(session)) return 0;
    SetMcuGeometry(session);
    return 0;
}
