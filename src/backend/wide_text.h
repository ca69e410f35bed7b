// Small helpers for the wide paths of the Windows loader: bounded joins and a narrow copy for
// the 8-bit log. Header-only, no platform headers.
#pragma once
#include <cstddef>

// out = dir + '\' + name, cut to size - 1 and terminated. True when nothing was cut.
inline bool JoinWide(wchar_t* out, size_t size, const wchar_t* dir, const char* name)
{
    if (!out || size == 0)
        return false;
    size_t n = 0;
    bool whole = true;
    auto put = [&](wchar_t c) {
        if (n + 1 < size)
            out[n++] = c;
        else
            whole = false;
    };
    for (const wchar_t* p = dir ? dir : L""; *p; ++p)
        put(*p);
    put(L'\\');
    for (const char* p = name ? name : ""; *p; ++p)
        put((wchar_t)(unsigned char)*p);
    out[n] = L'\0';
    return whole;
}

// Copies wide text into an 8-bit buffer for the log; characters above 0xFF become '?'.
inline void NarrowForLog(char* out, size_t size, const wchar_t* text)
{
    if (!out || size == 0)
        return;
    size_t n = 0;
    for (const wchar_t* p = text ? text : L""; *p && n + 1 < size; ++p)
        out[n++] = (unsigned)*p <= 0xFF ? (char)*p : '?';
    out[n] = '\0';
}
