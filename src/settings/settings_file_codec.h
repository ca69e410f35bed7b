// The settings.dat format over byte spans: magic "NYRP", unsigned 32-bit little-endian
// version, then the 1800-byte NyraSettings record byte for byte. Bytes after the record are
// ignored. No I/O here; settings_file.cpp reads and writes the bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings/settings_record.h"

constexpr uint32_t kSettingsFileVersion = 3;                                      // what the writer writes
constexpr size_t kSettingsHeaderSize = 8;                                         // magic + version
constexpr size_t kSettingsFileSize = kSettingsHeaderSize + sizeof(NyraSettings);  // 1808

// Header and record into out[kSettingsFileSize], always version 3.
void EncodeSettingsFile(const NyraSettings& settings, uint8_t* out);

// Checks the 8-byte header: magic "NYRP" and a version the reader knows (1, 2 or 3).
// *version receives the stored version on success.
bool DecodeSettingsHeader(const uint8_t* bytes, size_t size, uint32_t* version);

// Header check plus the record, copied unvalidated into *settings. On failure (short input,
// wrong magic, unknown version) *settings and *version are untouched. version may be null.
bool DecodeSettingsFile(const uint8_t* bytes, size_t size, NyraSettings* settings, uint32_t* version);
