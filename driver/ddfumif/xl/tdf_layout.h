// The layout of the driver data file TRIVDATA.TDF: record sizes, field
// offsets and string limits. The library's reader and tdftool, which writes
// and dumps the file, both take them from here; docs/tdf-format.md draws the
// layout. Numbers in the file are unsigned 32-bit little-endian, offsets
// count from the start of the file.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace tdf {

// Record sizes. A section is a 52-byte section record followed by its
// 12-byte section info, so the section records lie 64 bytes apart.
constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kSectionRecordSize = 52;
constexpr uint32_t kSectionInfoSize = 12;
constexpr uint32_t kSectionSize = kSectionRecordSize + kSectionInfoSize;
constexpr uint32_t kEntrySize = 16;

// Field offsets within the records. The header: magic, then the limit below
// which section records lie.
constexpr uint32_t kHeaderLimit = 4;
constexpr uint32_t kRecordName = 0;  // 32 bytes
constexpr uint32_t kRecordFirstEntry = 32;
constexpr uint32_t kRecordBytes = 36;
constexpr uint32_t kRecordNext = 48;
constexpr uint32_t kInfoCount = 0;
constexpr uint32_t kInfoVersion = 4;
constexpr uint32_t kEntryKey = 0;
constexpr uint32_t kEntryText = 4;
constexpr uint32_t kEntryLength = 8;
constexpr uint32_t kEntryNext = 12;

// Lengths in bytes without the NUL. The reader copies names from the 32-byte
// field, keys into a 128-byte buffer and texts into a 290-byte block.
constexpr uint32_t kNameField = 32;
constexpr size_t kMaxNameLength = kNameField - 1;
constexpr size_t kMaxKeyLength = 127;
constexpr size_t kMaxTextLength = 289;
constexpr uint32_t kKeyCapacity = kMaxKeyLength + 1;
constexpr uint32_t kTextCapacity = kMaxTextLength + 1;

constexpr uint8_t kMagic[4] = {'T', 'D', 'F', 0x01};
constexpr uint32_t kFormatVersion = 1;

}  // namespace tdf
