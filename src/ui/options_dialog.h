// The options dialog, "Digital Xray Options": three pages (Imaging, Hardware, Default
// Calibration) over a working copy of the settings. OK writes the validated copy into the
// host's blob and settings.dat; Cancel drops it.
#pragma once
#include <cstdint>

#include "settings/host_blob.h"
#include "settings/settings_record.h"

enum OptionsPage : int32_t { OptionsPageImaging = 0, OptionsPageHardware = 1, OptionsPageCalibration = 2 };

// Handed to the dialog and its pages; zeroed before use.
struct OptionsContext {
    HostConfigBlob* blob;    // written on OK and before the sensor tasks; null: no blob
    const char* sensorName;  // not used by the dialog
    NyraSettings settings;   // the working copy, loaded when the dialog opens
    void* pages[3];          // HWNDs of the pages, by OptionsPage
};

// Registers the common controls and runs the dialog modally, owned by owner (an HWND).
// Returns 1 for OK, 0 for Cancel, -1 when the dialog could not be opened (logged).
int32_t ShowOptionsDialog(OptionsContext* context, void* owner);
