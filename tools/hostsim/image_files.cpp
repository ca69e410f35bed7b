// Image files of the host simulator: the delivered DIB as a 16-bit PGM (exact values, top row
// first) and an 8-bit PNG preview for a person to look at (the pipeline tool's preview).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_api.h"
#include "png_preview.h"

bool SaveDibImages(HGLOBAL dib, const char* basePath, int32_t* width, int32_t* height)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
    if (!bytes)
        return false;
    BITMAPINFOHEADER header;
    memcpy(&header, bytes, sizeof header);
    if (header.biSize != 40 || header.biBitCount != 16 || header.biWidth <= 0 || header.biHeight <= 0) {
        GlobalUnlock(dib);
        return false;
    }
    const int w = header.biWidth, h = header.biHeight;
    const size_t stride = ((size_t)(w + 1) & ~(size_t)1) * 2;
    std::vector<uint16_t> top(static_cast<size_t>(w) * h);
    for (int r = 0; r < h; r++) {  // bottom-up rows: the last stored row is the top of the picture
        const uint8_t* row = bytes + 40 + (size_t)(h - 1 - r) * stride;
        for (int c = 0; c < w; c++)
            top[(size_t)r * w + c] = (uint16_t)(row[2 * c] | row[2 * c + 1] << 8);
    }
    GlobalUnlock(dib);

    std::string pgm = std::string(basePath) + ".pgm";
    FILE* f = fopen(pgm.c_str(), "wb");
    if (!f)
        return false;
    fprintf(f, "P5\n%d %d\n65535\n", w, h);
    for (uint16_t v : top) {
        unsigned char be[2] = {(unsigned char)(v >> 8), (unsigned char)v};
        fwrite(be, 1, 2, f);
    }
    fclose(f);

    std::string png = std::string(basePath) + ".png";
    if (!WritePngPreview(png.c_str(), top.data(), w, h))
        return false;
    *width = w;
    *height = h;
    return true;
}
