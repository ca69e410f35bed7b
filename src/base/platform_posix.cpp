#include <cerrno>

#include "base/platform.h"

uint32_t LastSystemError()
{
    return (uint32_t)errno;
}
