// What the options dialog knows without a window: the combo box contents, which integration
// controls each mode enables, reading the calibration factor, and the blob the dialog writes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "settings/host_blob.h"
#include "settings/settings_record.h"

struct ComboItem {
    const char* text;
    int32_t value;
};

struct ComboTable {
    const ComboItem* items;
    int32_t count;
};

extern const ComboTable kSuspendCombo;           // 5, 10, 20, 30 minutes
extern const ComboTable kModelCombo;             // ModelIndex 0..2
extern const ComboTable kIntegrationModeCombo;   // modes 0..2
extern const ComboTable kReturnTypeCombo;        // CorrectionMode 0..2
extern const ComboTable kCorrectionImagesCombo;  // 5, 10, 20

extern const char kOptionsVersionText[];  // shown under the tabs

// The item shown for a stored value: the first item with that value, else the first item.
int32_t ComboIndexForValue(const ComboTable& table, int32_t value);

// Enabled state of the threshold and time controls, and the mode description. A mode of -1
// stands for "nothing selected".
struct ModeControls {
    bool startEnabled;
    bool stopEnabled;
    bool timeEnabled;
    const char* description;
};
ModeControls ModeControlsFor(int32_t mode);

// The calibration factor typed by the user (at most 31 characters are read). Anything that is
// not a finite number above 0 gives 1.0, the factor that leaves an image as it is.
double ParseCalibrationFactor(const char* text);

// "%.6f" into out[size].
size_t FormatCalibrationFactor(double factor, char* out, size_t size);

// The host's blob after the dialog saved: version, "NYRS" and a validated copy of settings;
// the reserved tail is kept.
void WriteSettingsIntoBlob(HostConfigBlob* blob, const NyraSettings& settings);

// "%d .CAL file(s) found." into out[size].
size_t FormatCorrectionFileCount(int32_t count, char* out, size_t size);
