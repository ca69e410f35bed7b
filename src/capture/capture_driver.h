// The capture driver behind the six capture exports: runs one capture on the host's thread
// and returns a DIB (HGLOBAL) that the host then owns, or null.
#pragma once
#include <cstdint>

void* RunCapture(const char* exportName, uint32_t ctx1, uint32_t ctx2);

// Sends a status code to the host's callback when one is set (5 starting, 6 armed, 0 image,
// 2 no image); text may be null.
void NotifyHost(uint32_t status, const char* text);
