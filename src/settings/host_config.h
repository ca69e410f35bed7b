// The host's configuration blob as the exports exchange it: acceptance of a blob handed in,
// and seeding an empty one from settings.dat.
#pragma once
#include <cstdint>

#include "settings/host_blob.h"

// Copies the host's buffer over *blob when it is not null, exactly 2052 bytes long and starts
// with version 0x10000. Returns true when it was taken.
bool AcceptHostBlob(HostConfigBlob* blob, const void* buffer, uint32_t size);

// When the blob carries no settings and settings.dat can be read, writes version, magic and
// the file's (validated) record into it; the reserved tail is kept. True when seeded.
bool SeedHostBlobFromFile(HostConfigBlob* blob);

// The blob handed out: a version of 0 becomes 0x10000, nothing else changes.
void PrepareHostBlobForHost(HostConfigBlob* blob);
