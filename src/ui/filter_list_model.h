// The filter list editor's working list and everything it does that needs no window: the
// commands of its popup menu, which of them are available, the texts of the list's columns,
// the modality rule, and the start values and read-back rules of the parameter dialogs.
#pragma once
#include <cstddef>
#include <cstdint>

#include "imaging/filter_catalogue.h"
#include "settings/settings_record.h"

// The copy the editor works on; the settings record is written only on OK.
struct FilterListModel {
    FilterEntry entries[kMaxFilters];
    int32_t count;  // 0..32
};

// The settings' list with its count limited to 0..32.
void FilterListFromSettings(FilterListModel* list, const NyraSettings& settings);
// The used entries and the count back into the settings record.
void FilterListToSettings(const FilterListModel& list, NyraSettings* settings);

// Each command returns the item to select afterwards, -1 for none.
int32_t FilterListAdd(FilterListModel* list, int32_t type);  // -1 and no change when full
int32_t FilterListDelete(FilterListModel* list, int32_t index);
void FilterListDeleteAll(FilterListModel* list);
void FilterListReset(FilterListModel* list);
// Swaps the entry with its neighbour (delta -1 up, +1 down); -1 when it cannot move.
int32_t FilterListMove(FilterListModel* list, int32_t index, int32_t delta);

// Popup menu items that depend on the selection (-1 = none); the others are always enabled.
struct FilterMenuState {
    bool edit;
    bool modality;
    bool remove;
    bool moveUp;
    bool moveDown;
};
FilterMenuState FilterMenuStateFor(int32_t count, int32_t selected);

constexpr size_t kParamTextSize = 160;
// The "Parameters" column; empty for types without parameters. Returns the length written.
size_t FormatFilterParams(const FilterEntry& entry, char* out, size_t size);
// The "Modality Restriction" column: the restriction, or "None".
const char* FilterModalityColumn(const FilterEntry& entry);
// What the modality dialog stores for a typed text: "IO" in any case becomes "IO", anything
// else no restriction (""). out holds 8 characters.
void ModalityFromTyped(const char* typed, char out[8]);

// Parameter dialogs.
// Mask sizes offered: odd 3..15 for Gaussian Blur, 3..21 for every other mask type.
int32_t MaskSizeMaximum(int32_t type);
// The size to select for a stored value (0 gives the type's start size); a size the list does
// not offer selects the first item (3).
int32_t MaskSizeToSelect(int32_t type, int32_t stored);
// The size stored on OK for the selected item's size (0 when nothing is selected).
int32_t MaskSizeReadBack(int32_t selectedSize);
// The one-value dialog's label and range text for a type ("Gamma", "1 to 1000 ...").
const char* OneValueLabel(int32_t type);
const char* OneValueRangeText(int32_t type);
// Slider and number box rules.
int32_t SliderStart(int32_t stored, int32_t ifZero, int32_t minimum, int32_t maximum);
int32_t SliderPageSize(int32_t minimum, int32_t maximum);
// A discard percentage typed by the user, forced into 1..50.
int32_t PercentageReadBack(int32_t typed);
