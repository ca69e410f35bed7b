// The filter list editor, "Enhancement Options": edits a copy of the settings' filter list;
// OK writes the entries and the count back into *settings.
#pragma once
#include <cstdint>

#include "settings/settings_record.h"

// Runs the editor modally, owned by owner (an HWND). 1 for OK (list written back), 0 for
// Cancel or when the dialog could not be opened.
int32_t ShowFilterEditor(void* owner, NyraSettings* settings);
