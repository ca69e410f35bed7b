// The filter list editor's small dialogs, each modal over one entry: the parameter dialog of
// the entry's kind, and the modality dialog. Both return true on OK, when the entry has been
// written; Cancel changes nothing.
#pragma once
#include <windows.h>

#include "imaging/filter_entry.h"

// False without showing anything for a type that has no parameters.
bool EditFilterParams(HWND owner, FilterEntry* entry);
bool EditFilterModality(HWND owner, FilterEntry* entry);
