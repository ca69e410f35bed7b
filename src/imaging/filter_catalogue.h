// The catalogue of the 24 post-capture filter types: names, parameter kinds, new-entry
// defaults, the chain's substitutions for zero parameters, the repair applied to a stored
// list and the ranges the editor offers. One row per type; the chain, the settings repair and
// the filter list editor all read it.
#pragma once
#include <cstdint>

#include "imaging/filter_entry.h"

// Which parameter dialog a type uses in the editor.
enum class FilterParamKind : int32_t {
    None = 0,           // no dialog
    TwoPercentages,     // param1, param2: discard percentages
    OneValue,           // param1: a slider value
    ThreeLevels,        // param1..param3: minimum, pivot, maximum
    MaskSize,           // param1: odd mask size
    MaskSizeAndFactor,  // param1: odd mask size, param2: level 0..100
};

// What ValidateFilterList enforces on one parameter of a stored entry.
enum class FilterRepair : int32_t {
    None = 0,
    OddMask,  // below 3 -> 3, above the row's maximum mask -> maximum, even -> next odd
    Level0To100,
    AtLeast1,  // below 1 -> 1; larger values are kept (the filters cope with them)
};

struct FilterCatalogueRow {
    int32_t type;
    const char* displayName;  // editor list and modality prompt
    const char* menuName;     // "Add New Filter" menu
    const char* caption;      // parameter dialog title; null for types without a dialog
    FilterParamKind kind;
    bool separatorAfter;   // a menu separator follows this type's menu item
    int32_t newParams[3];  // what SetFilterDefaults puts into a fresh entry
    int32_t ifZero[3];     // what the chain uses for a stored 0; 0 = no substitution
    FilterRepair repair[3];
    int32_t maxMask;       // upper bound of the OddMask repair and of the editor's sizes
    int32_t editorMin[3];  // ranges the parameter dialog offers (min == max == 0: unused)
    int32_t editorMax[3];
    int32_t editorIfZero[3];  // value the parameter dialog starts from for a stored 0; 0 = none
};

constexpr int32_t kDefaultFilterCount = 7;
constexpr int32_t kMinMask = 3;
constexpr int32_t kMaxMask = 21;
constexpr int32_t kMaxGaussianMask = 15;

// The row of a type, or null for a code outside 0..23.
const FilterCatalogueRow* FindFilterRow(int32_t type);

// Names; a code outside 0..23 is "Filter" (display and caption) and "" (menu).
const char* FilterDisplayName(int32_t type);
const char* FilterMenuName(int32_t type);
// Dialog caption, or null when the type has no parameter dialog ("Filter" for unknown codes).
const char* FilterCaption(int32_t type);
FilterParamKind FilterKind(int32_t type);
bool FilterMenuSeparatorAfter(int32_t type);

// The parameters the chain runs an entry with: each stored 0 replaced by the type's "If 0"
// value where it has one. out receives param1..param3.
void EffectiveFilterParams(const FilterEntry& entry, int32_t out[3]);

// Mask size repair of a stored list: below 3 -> 3, above maxMask -> maxMask, even -> next odd.
int32_t RepairMaskSize(int32_t size, int32_t maxMask);

// Fresh entry of a type: enabled, parameters of column New, no modality restriction.
void SetFilterDefaults(FilterEntry* entry, int32_t type);

// The seven default filters into list[0..6] (the other slots are left alone); count = 7.
void DefaultFilterList(int32_t* count, FilterEntry* list);

// Repair of a stored list (kMaxFilters slots): a count outside 1..32 or an unknown type among
// the first count entries replaces the whole list by the default list; otherwise each entry's
// modality is terminated and limited to "" or "IO", and its parameters repaired per type.
void ValidateFilterList(int32_t* count, FilterEntry* list);
