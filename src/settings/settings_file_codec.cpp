// Encoder and decoder of settings.dat over byte spans. The decoder reads through a
// little-endian reader whose ok flag turns false at the first read past the end and stays
// false, so the checks are made once at the end. The record itself is copied byte for byte:
// its in-memory layout is the stored layout (little-endian, fixed-width, asserted offsets).
// Failure: false, outputs untouched.
#include "settings/settings_file_codec.h"

#include <cstring>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "NyraSettings is copied byte for byte and is stored little-endian"
#endif

namespace {

const char kMagic[4] = {'N', 'Y', 'R', 'P'};

struct ByteReader {
    const uint8_t* cursor;
    size_t left;
    bool ok;

    void Bytes(void* out, size_t n)
    {
        if (!ok || n > left) {
            ok = false;
            memset(out, 0, n);
            return;
        }
        memcpy(out, cursor, n);
        cursor += n;
        left -= n;
    }
    uint32_t U32()
    {
        uint8_t b[4];
        Bytes(b, sizeof b);
        return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
    }
};

void PutU32(uint8_t* out, uint32_t value)
{
    out[0] = (uint8_t)value;
    out[1] = (uint8_t)(value >> 8);
    out[2] = (uint8_t)(value >> 16);
    out[3] = (uint8_t)(value >> 24);
}

bool KnownVersion(uint32_t version)
{
    return version >= 1 && version <= kSettingsFileVersion;
}

}  // namespace

void EncodeSettingsFile(const NyraSettings& settings, uint8_t* out)
{
    memcpy(out, kMagic, sizeof kMagic);
    PutU32(out + 4, kSettingsFileVersion);
    memcpy(out + kSettingsHeaderSize, &settings, sizeof settings);
}

bool DecodeSettingsHeader(const uint8_t* bytes, size_t size, uint32_t* version)
{
    ByteReader in{bytes, bytes ? size : 0, true};
    char magic[4];
    in.Bytes(magic, sizeof magic);
    uint32_t stored = in.U32();
    if (!in.ok || memcmp(magic, kMagic, sizeof kMagic) != 0 || !KnownVersion(stored))
        return false;
    if (version)
        *version = stored;
    return true;
}

bool DecodeSettingsFile(const uint8_t* bytes, size_t size, NyraSettings* settings, uint32_t* version)
{
    if (!settings)
        return false;
    ByteReader in{bytes, bytes ? size : 0, true};
    char magic[4];
    in.Bytes(magic, sizeof magic);
    uint32_t stored = in.U32();
    NyraSettings record;
    in.Bytes(&record, sizeof record);
    if (!in.ok || memcmp(magic, kMagic, sizeof kMagic) != 0 || !KnownVersion(stored))
        return false;
    memcpy(settings, &record, sizeof record);
    if (version)
        *version = stored;
    return true;
}
