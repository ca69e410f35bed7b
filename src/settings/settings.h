// The settings operations: defaults, repair, the settings.dat file and the load order with
// its one-time migrations. Every copy of NyraSettings that enters the system (blob, file,
// defaults, dialog) passes through ValidateSettings.
#pragma once
#include <cstdint>

#include "settings/host_blob.h"
#include "settings/settings_record.h"

// Writes the default of every field, then the default filter list (7 entries). Bytes without a
// default (text after a terminator, filter slots 8..32) are left as they were.
void SettingsDefaults(NyraSettings* settings);

// Repairs out-of-range values in place; never fails. A null record is ignored.
void ValidateSettings(NyraSettings* settings);

// The sensor's idle suspend time in ms for a suspend delay in minutes, clamped to the largest
// whole number of minutes that fits 32 bits (71,582) instead of wrapping; negative gives 0.
uint32_t SuspendDelayMs(int32_t minutes);

// Correction folders that are empty or the default folder become dataDir (when not empty).
void ApplyDataDirToModels(NyraSettings* settings, const char* dataDir);

// "<PluginDataDir>\settings.dat" into out[kPathChars]; PluginDataDir gets the default folder
// when it is empty, and the folder is created. False when no whole path could be built.
bool SettingsFilePath(char* out);

// Reads, checks and validates settings.dat into *destination. False (destination untouched)
// when the file is missing, short, foreign or of an unknown version.
bool ReadSettingsFile(NyraSettings* destination);

// The format version stored in settings.dat when its header is valid (1, 2 or 3).
bool ReadSettingsFileVersion(uint32_t* version);

// Saves a validated copy of *settings as settings.dat, crash-safely: a temporary file named
// after the process id, flushed, then moved over the old file. Failures are logged, and the
// result tells the options dialog whether to warn the user (the old file is then unchanged).
bool NyraPersistSave(const NyraSettings* settings);

// Fills *destination from the blob when it carries settings ("NYRS"), else from settings.dat,
// else from the defaults; then points default correction folders at PluginDataDir and runs the
// one-time migrations of a version 1 or 2 file (rewriting it as version 3).
void NyraLoadSettings(const HostConfigBlob* blob, NyraSettings* destination);
