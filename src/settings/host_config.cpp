// Host blob rules: a blob of the wrong size or version is ignored (the current one is kept),
// and a blob without settings is seeded from the plug-in's own settings file.
#include "settings/host_config.h"

#include <cstring>

#include "settings/settings.h"

bool AcceptHostBlob(HostConfigBlob* blob, const void* buffer, uint32_t size)
{
    if (!buffer || size != kHostBlobSize)
        return false;
    uint8_t first[4];
    memcpy(first, buffer, 4);
    uint32_t version = first[0] | first[1] << 8 | first[2] << 16 | (uint32_t)first[3] << 24;
    if (version != kHostBlobVersion)
        return false;
    memcpy(blob, buffer, kHostBlobSize);
    return true;
}

bool SeedHostBlobFromFile(HostConfigBlob* blob)
{
    if (BlobHasSettings(*blob))
        return false;
    NyraSettings fromFile;
    if (!ReadSettingsFile(&fromFile))
        return false;
    ValidateSettings(&fromFile);
    blob->version = kHostBlobVersion;
    memcpy(blob->magic, "NYRS", 4);
    blob->settings = fromFile;
    return true;
}

void PrepareHostBlobForHost(HostConfigBlob* blob)
{
    if (blob->version == 0)
        blob->version = kHostBlobVersion;
}
