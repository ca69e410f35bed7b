// Bounded text helpers shared by every subsystem (see text.h for the contract).
#include "base/text.h"

#include <cstdio>
#include <cstring>

size_t CopyText(char* dst, size_t size, const char* src)
{
    if (!src)
        src = "";
    size_t length = strlen(src);
    if (dst && size > 0) {
        size_t n = length < size - 1 ? length : size - 1;
        memcpy(dst, src, n);
        dst[n] = '\0';
    }
    return length;
}

size_t CopyTextToHost(char* buffer, int32_t size, const char* src)
{
    return buffer && size > 0 ? CopyText(buffer, (size_t)size, src) : CopyText(nullptr, 0, src);
}

size_t FormatTextV(char* dst, size_t size, const char* format, va_list args)
{
    if (!dst || size == 0)
        return 0;
    int n = vsnprintf(dst, size, format, args);
    dst[size - 1] = '\0';
    if (n < 0) {
        dst[0] = '\0';
        return 0;
    }
    return (size_t)n < size ? (size_t)n : size - 1;
}

size_t FormatText(char* dst, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = FormatTextV(dst, size, format, args);
    va_end(args);
    return n;
}

int CompareNoCase(const char* a, const char* b)
{
    for (;; a++, b++) {
        int ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca >= 'A' && ca <= 'Z')
            ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z')
            cb += 'a' - 'A';
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}
