// Options dialog rules that need no window: combo contents and selection by value, the
// integration-mode control states, the calibration factor's parsing, and the blob written on
// OK. Inputs are stored values and typed texts; a value no item carries shows the first item,
// and an unusable calibration text becomes 1.0. Nothing here fails.
#include "ui/options_model.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "settings/settings.h"

namespace {

const ComboItem kSuspendItems[] = {
    {"Suspend in 5 minutes", 5},
    {"Suspend in 10 minutes", 10},
    {"Suspend in 20 minutes", 20},
    {"Suspend in 30 minutes", 30},
};
const ComboItem kModelItems[] = {
    {"Standard (S11684/5)", 0},
    {"SMS Variant (S15684/5-48)", 1},
    {"Size 3 (S15589)", 2},
};
const ComboItem kModeItems[] = {
    {"Auto Detection / Auto Integration", 0},
    {"Auto Detection / Manual Integration", 1},
    {"Manual Detection / Manual Integration", 2},
};
const ComboItem kReturnTypeItems[] = {
    {"Fully corrected image", 0},
    {"Dark corrected image only", 1},
    {"Raw image", 2},
};
const ComboItem kCorrectionImageItems[] = {
    {"5 images", 5},
    {"10 images", 10},
    {"20 images", 20},
};

template <size_t N>
constexpr ComboTable Table(const ComboItem (&items)[N])
{
    return ComboTable{items, (int32_t)N};
}

const char kManualText[] = "Manual trigger with a fixed integration time.";

}  // namespace

const ComboTable kSuspendCombo = Table(kSuspendItems);
const ComboTable kModelCombo = Table(kModelItems);
const ComboTable kIntegrationModeCombo = Table(kModeItems);
const ComboTable kReturnTypeCombo = Table(kReturnTypeItems);
const ComboTable kCorrectionImagesCombo = Table(kCorrectionImageItems);

const char kOptionsVersionText[] = "Nyra Pro  v0.11.2";

int32_t ComboIndexForValue(const ComboTable& table, int32_t value)
{
    for (int32_t i = 0; i < table.count; i++) {
        if (table.items[i].value == value)
            return i;
    }
    return 0;
}

ModeControls ModeControlsFor(int32_t mode)
{
    switch (mode) {
    case -1:
    case 0:
        return {true, true, false,
                "Fully automatic: the sensor detects the X-ray and ends integration on its own."};
    case 1: return {true, false, true, "This mode is suitable for both AC and DC type Xray source."};
    case 2: return {false, false, true, kManualText};
    default: return {false, false, false, kManualText};
    }
}

double ParseCalibrationFactor(const char* text)
{
    char bounded[32];
    CopyText(bounded, sizeof bounded, text);
    char* end = nullptr;
    double value = strtod(bounded, &end);
    // "inf" and "nan" parse too; neither is a usable factor.
    if (end == bounded || !std::isfinite(value) || value <= 0.0)
        return 1.0;
    return value;
}

size_t FormatCalibrationFactor(double factor, char* out, size_t size)
{
    return FormatText(out, size, "%.6f", factor);
}

void WriteSettingsIntoBlob(HostConfigBlob* blob, const NyraSettings& settings)
{
    if (!blob)
        return;
    NyraSettings copy = settings;
    ValidateSettings(&copy);
    blob->version = kHostBlobVersion;
    memcpy(blob->magic, "NYRS", 4);
    blob->settings = copy;
}

size_t FormatCorrectionFileCount(int32_t count, char* out, size_t size)
{
    return FormatText(out, size, "%d .CAL file(s) found.", (int)count);
}
