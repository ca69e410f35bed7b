// Bounded 8-bit text: every copy into a fixed buffer is cut to size - 1 and terminated.
// The copying functions return the length of the source text, as the host exports do, so a
// caller can tell that its buffer was too small.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define NYRA_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NYRA_PRINTF(fmt, args)
#endif

// Copies src into dst[size]; a null src copies "", a null dst or size 0 copies nothing.
size_t CopyText(char* dst, size_t size, const char* src);

// The exports' form: the host passes a signed size and may pass a null buffer or a size of 0,
// which skip the copy; the result is the source length either way.
size_t CopyTextToHost(char* buffer, int32_t size, const char* src);

// snprintf into dst[size], always terminated; returns the number of characters written.
size_t FormatText(char* dst, size_t size, const char* format, ...) NYRA_PRINTF(3, 4);
size_t FormatTextV(char* dst, size_t size, const char* format, va_list args);

// Case-insensitive ASCII comparison, equal when 0 (the system's paths and modality texts).
int CompareNoCase(const char* a, const char* b);
