// The two interactive sensor tasks that the options dialog's Hardware page starts on the host's
// thread: building a correction file from blank exposures, and the X-ray saturation report.
// Both show their own message boxes owned by `owner` (an HWND) and return when they are done.
#pragma once

void BuildCorrectionFile(void* owner);
void NyraShowSaturation(void* owner);
