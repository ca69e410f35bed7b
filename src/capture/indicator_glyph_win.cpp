// BuildIndicatorGlyph with GDI: the symbol is drawn once at 200 x 200 on black (eight white
// rays, a white disc, the level's letter in bold "Segoe UI" or the system's substitute, drawn
// in black so it shows the picture through the disc), then reduced to side x side by averaging
// the blue channel of each cell's source pixels. Every GDI object is released on every path; a
// failed step gives no mask.
#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "capture/exposure.h"

namespace {

constexpr int kCanvas = 200;

// Owns the GDI objects of one drawing.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    const uint8_t* bits = nullptr;  // 32 bpp, top-down, kCanvas x kCanvas

    ~Canvas()
    {
        if (dc && oldBitmap)
            SelectObject(dc, oldBitmap);
        if (bitmap)
            DeleteObject(bitmap);
        if (dc)
            DeleteDC(dc);
    }

    bool Create()
    {
        dc = CreateCompatibleDC(nullptr);
        if (!dc)
            return false;
        BITMAPINFO info;
        memset(&info, 0, sizeof info);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kCanvas;
        info.bmiHeader.biHeight = -kCanvas;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* memory = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
        if (!bitmap || !memory)
            return false;
        bits = static_cast<const uint8_t*>(memory);
        oldBitmap = SelectObject(dc, bitmap);
        return oldBitmap != nullptr;
    }
};

void DrawRays(HDC dc)
{
    LOGBRUSH brush = {BS_SOLID, RGB(255, 255, 255), 0};
    HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND, 14, &brush, 0, nullptr);
    if (!pen)
        return;
    HGDIOBJ old = SelectObject(dc, pen);
    for (int i = 0; i < 8; i++) {
        double a = i * 3.14159265358979 * 0.25;
        MoveToEx(dc, (int)(100 + 68 * cos(a)), (int)(100 + 68 * sin(a)), nullptr);
        LineTo(dc, (int)(100 + 92 * cos(a)), (int)(100 + 92 * sin(a)));
    }
    SelectObject(dc, old);
    DeleteObject(pen);
}

void DrawDisc(HDC dc)
{
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
    HGDIOBJ oldPen = pen ? SelectObject(dc, pen) : nullptr;
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Ellipse(dc, 48, 48, 152, 152);
    SelectObject(dc, oldBrush);
    if (pen) {
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }
}

void DrawLetter(HDC dc, const char* letter)
{
    HFONT font = CreateFontA(-68, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, FF_SWISS | DEFAULT_PITCH, "Segoe UI");
    if (!font)
        return;
    HGDIOBJ old = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    SIZE extent = {0, 0};
    int length = (int)strlen(letter);
    GetTextExtentPoint32A(dc, letter, length, &extent);
    TextOutA(dc, (int)(100 - 0.5 * extent.cx), (int)(100 - 0.5 * extent.cy), letter, length);
    SelectObject(dc, old);
    DeleteObject(font);
}

}  // namespace

uint8_t* BuildIndicatorGlyph(ExposureLevel level, int32_t side)
{
    if (side < 8)
        return nullptr;
    Canvas canvas;
    if (!canvas.Create())
        return nullptr;
    RECT all = {0, 0, kCanvas, kCanvas};
    FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DrawRays(canvas.dc);
    DrawDisc(canvas.dc);
    DrawLetter(canvas.dc, ExposureLetter(level));
    GdiFlush();

    uint8_t* mask = static_cast<uint8_t*>(malloc((size_t)side * (size_t)side));
    if (!mask)
        return nullptr;
    const int s = kCanvas;
    for (int y = 0; y < side; y++) {
        const int y0 = y * s / side;
        const int y1 = (y * s + s) / side > y0 + 1 ? (y * s + s) / side : y0 + 1;
        for (int x = 0; x < side; x++) {
            const int x0 = x * s / side;
            const int x1 = (x * s + s) / side > x0 + 1 ? (x * s + s) / side : x0 + 1;
            uint32_t sum = 0, count = 0;
            for (int sy = y0; sy < y1 && sy < s; sy++)
                for (int sx = x0; sx < x1 && sx < s; sx++, count++)
                    sum += canvas.bits[((size_t)sy * s + sx) * 4];  // blue
            mask[(size_t)y * side + x] = count > 0 && sum / count >= 128 ? 1 : 0;
        }
    }
    return mask;
}
