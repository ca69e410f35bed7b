// Shared between the options dialog and its pages (Windows only).
#pragma once
#include <windows.h>

#include "ui/options_dialog.h"

// Moves the Hardware page's controls into the working copy and back. Storing covers the
// flags, the timeout, the three value combos and the per-model controls of the stored model;
// the model itself changes only when its combo does.
void LoadHardwarePage(HWND page, OptionsContext* context);
void StoreHardwarePage(HWND page, OptionsContext* context);

// The Hardware page's commands; true when the command was the page's.
bool HardwarePageCommand(HWND page, OptionsContext* context, int id, int code);

// Writes the working copy into the blob and saves settings.dat; tells the user when the file
// could not be written. True when saved.
bool SaveOptions(HWND owner, OptionsContext* context);
