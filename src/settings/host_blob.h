// HostConfigBlob: the 2052-byte block the host stores for the plug-in and hands back at
// start-up. Only a blob whose magic is "NYRS" carries settings.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings/settings_record.h"

constexpr uint32_t kHostBlobVersion = 0x10000;
constexpr uint32_t kHostBlobSize = 2052;

struct HostConfigBlob {
    uint32_t version;  // 0x10000
    char magic[4];     // "NYRS" when the blob carries settings
    NyraSettings settings;
    uint8_t reserved[244];  // zero in a blob we built, otherwise kept as the host gave it
};
static_assert(sizeof(HostConfigBlob) == kHostBlobSize, "");
static_assert(offsetof(HostConfigBlob, magic) == 4, "");
static_assert(offsetof(HostConfigBlob, settings) == 8, "");
static_assert(offsetof(HostConfigBlob, reserved) == 1808, "");

inline bool BlobHasSettings(const HostConfigBlob& blob)
{
    return blob.magic[0] == 'N' && blob.magic[1] == 'Y' && blob.magic[2] == 'R' && blob.magic[3] == 'S';
}
