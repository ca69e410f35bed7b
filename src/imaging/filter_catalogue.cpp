// The filter catalogue: one row per filter type 0..23 and the three list operations built on
// it (fresh entry, default list, repair of a stored list).
// Inputs: type codes and FilterEntry records as stored in the settings file or host blob.
// Edge policy: codes outside 0..23 have no row; their names fall back to "Filter". A damaged
// list is repaired, never rejected: a bad count or an unknown type brings back the default
// list, out-of-range parameters are clamped per the row's repair rule.
#include "imaging/filter_catalogue.h"

#include <cstring>

#include "base/text.h"

namespace {

using K = FilterParamKind;
using R = FilterRepair;
constexpr R kNo = R::None;

// Columns: type, display name, menu name, caption, kind, separator after,
// new {p1,p2,p3}, if 0 {p1,p2,p3}, repair {p1,p2,p3}, max mask,
// editor min, editor max, editor start for a stored 0.
// clang-format off
const FilterCatalogueRow kRows[kFilterTypeCount] = {
    {FilterInvert, "Invert Image", "Invert Filter", nullptr, K::None, false,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterAdaptiveNormalization, "Adaptive Normalization", "Adaptive Normalization Filter",
     "Adaptive Normalization", K::TwoPercentages, false,
     {2, 2, 0}, {2, 2, 0}, {kNo, kNo, kNo}, 0, {1, 1, 0}, {50, 50, 0}, {2, 2, 0}},
    {FilterBrightness, "Brightness Adjustment", "Brightness Filter", "Brightness Adjustment",
     K::OneValue, false,
     {-10, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {-100, 0, 0}, {100, 0, 0}, {0, 0, 0}},
    {FilterContrast, "Contrast Adjustment", "Contrast Filter", "Contrast Adjustment",
     K::OneValue, false,
     {10, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {-100, 0, 0}, {100, 0, 0}, {0, 0, 0}},
    {FilterDynamicDarken, "Darken Dynamic Range Compression",
     "Darken Dynamic Range Compression Filter", "Dynamic Darken", K::OneValue, false,
     {5, 0, 0}, {5, 0, 0}, {R::AtLeast1, kNo, kNo}, 0, {1, 0, 0}, {100, 0, 0}, {5, 0, 0}},
    {FilterDynamicLighten, "Lighten Dynamic Range Compression",
     "Lighten Dynamic Range Compression Filter", "Dynamic Lighten", K::OneValue, false,
     {5, 0, 0}, {0, 0, 0}, {R::AtLeast1, kNo, kNo}, 0, {1, 0, 0}, {100, 0, 0}, {5, 0, 0}},
    {FilterEqualize, "Equalize", "Equalize Filter", nullptr, K::None, false,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterGamma, "Gamma Correction", "Gamma Filter", "Gamma Correction", K::OneValue, false,
     {75, 0, 0}, {100, 0, 0}, {kNo, kNo, kNo}, 0, {1, 0, 0}, {1000, 0, 0}, {100, 0, 0}},
    {FilterLevel, "Level Adjustment", "Level Adjustment Filter", "Level Adjustment",
     K::ThreeLevels, false,
     {128, 138, 148}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {255, 255, 255}, {0, 0, 0}},
    {FilterLevelPercent, "Level Adjustment By Percentage",
     "Level Adjustment By Percentage Filter", "Level Adjustment By Percentage",
     K::ThreeLevels, false,
     {0, 50, 100}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {100, 100, 100}, {0, 0, 0}},
    {FilterNormalize, "Normalize", "Normalize Filter", nullptr, K::None, true,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    // The mask size of Fast Noise Removal is stored and repaired but the filter ignores it.
    {FilterFastNoiseRemoval, "Fast Noise Removal", "Fast Noise Removal Filter", nullptr,
     K::None, false,
     {3, 0, 0}, {0, 0, 0}, {R::OddMask, kNo, kNo}, kMaxMask, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterNoiseRemoval, "Noise Removal", "Noise Removal Filter", "Noise Removal",
     K::MaskSize, false,
     {5, 0, 0}, {3, 0, 0}, {R::OddMask, kNo, kNo}, kMaxMask, {3, 0, 0}, {21, 0, 0}, {5, 0, 0}},
    {FilterDespeckle, "Despeckle Noise Removal", "Despeckle Noise Removal Filter",
     "Despeckle Noise Removal", K::MaskSize, true,
     {5, 0, 0}, {5, 0, 0}, {R::OddMask, kNo, kNo}, kMaxMask, {3, 0, 0}, {21, 0, 0}, {5, 0, 0}},
    {FilterFlipHorizontal, "Flip Horizontally", "Flip Horizontally Filter", nullptr, K::None,
     false, {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterFlipVertical, "Flip Vertically", "Flip Vertically Filter", nullptr, K::None, true,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterRotate90, "Rotate 90 Degrees", "Rotate 90 Degrees Filter", nullptr, K::None, false,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterRotate90Ccw, "Rotate 90 Degrees Counter-Clockwise",
     "Rotate 90 Degrees Counter-Clockwise Filter", nullptr, K::None, false,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterRotate180, "Rotate 180 Degrees", "Rotate 180 Degrees Filter", nullptr, K::None, true,
     {0, 0, 0}, {0, 0, 0}, {kNo, kNo, kNo}, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
    {FilterGaussianBlur, "Gaussian Blur", "Gaussian Blur Filter", "GaussianBlur", K::MaskSize,
     false, {3, 0, 0}, {5, 0, 0}, {R::OddMask, kNo, kNo}, kMaxGaussianMask,
     {3, 0, 0}, {15, 0, 0}, {3, 0, 0}},
    {FilterUnsharpMask, "Gaussian Edge Enhancement", "Sharpen Filter (Gaussian)", "Unsharp Mask",
     K::MaskSizeAndFactor, false, {3, 100, 0}, {3, 100, 0},
     {R::OddMask, R::Level0To100, kNo}, kMaxMask, {3, 0, 0}, {21, 100, 0}, {21, 20, 0}},
    {FilterLaplace, "Laplace Edge Enhancement", "Sharpen Filter (Laplace)", "Laplace",
     K::MaskSizeAndFactor, false, {3, 3, 0}, {3, 3, 0},
     {R::OddMask, R::Level0To100, kNo}, kMaxMask, {3, 0, 0}, {21, 100, 0}, {21, 20, 0}},
    {FilterSharpen, "Sharpen", "Sharpen Filter (Spacial)", "Sharpen", K::MaskSizeAndFactor,
     false, {21, 20, 0}, {21, 20, 0}, {R::OddMask, R::Level0To100, kNo}, kMaxMask,
     {3, 0, 0}, {21, 100, 0}, {21, 20, 0}},
    {FilterSmooth, "Smooth", "Smooth Filter", "Smooth", K::MaskSize, false,
     {5, 0, 0}, {3, 0, 0}, {R::OddMask, kNo, kNo}, kMaxMask, {3, 0, 0}, {21, 0, 0}, {5, 0, 0}},
};
// clang-format on

// Order of the default list; each entry gets its type's new-entry parameters.
const int32_t kDefaultTypes[kDefaultFilterCount] = {
    FilterDespeckle, FilterLevel,   FilterBrightness,   FilterContrast,
    FilterGamma,     FilterSharpen, FilterNoiseRemoval,
};

int32_t Clamp(int32_t v, int32_t lo, int32_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

int32_t RepairParam(FilterRepair rule, int32_t value, int32_t maxMask)
{
    switch (rule) {
    case FilterRepair::OddMask: return RepairMaskSize(value, maxMask);
    case FilterRepair::Level0To100: return Clamp(value, 0, 100);
    case FilterRepair::AtLeast1: return value < 1 ? 1 : value;
    case FilterRepair::None: break;
    }
    return value;
}

}  // namespace

const FilterCatalogueRow* FindFilterRow(int32_t type)
{
    if (type < 0 || type >= kFilterTypeCount)
        return nullptr;
    return &kRows[type];
}

const char* FilterDisplayName(int32_t type)
{
    const FilterCatalogueRow* row = FindFilterRow(type);
    return row ? row->displayName : "Filter";
}

const char* FilterMenuName(int32_t type)
{
    const FilterCatalogueRow* row = FindFilterRow(type);
    return row ? row->menuName : "";
}

const char* FilterCaption(int32_t type)
{
    const FilterCatalogueRow* row = FindFilterRow(type);
    return row ? row->caption : "Filter";
}

FilterParamKind FilterKind(int32_t type)
{
    const FilterCatalogueRow* row = FindFilterRow(type);
    return row ? row->kind : FilterParamKind::None;
}

bool FilterMenuSeparatorAfter(int32_t type)
{
    const FilterCatalogueRow* row = FindFilterRow(type);
    return row && row->separatorAfter;
}

void EffectiveFilterParams(const FilterEntry& entry, int32_t out[3])
{
    out[0] = entry.param1;
    out[1] = entry.param2;
    out[2] = entry.param3;
    const FilterCatalogueRow* row = FindFilterRow(entry.type);
    if (!row)
        return;
    for (int i = 0; i < 3; i++) {
        if (out[i] == 0 && row->ifZero[i] != 0)
            out[i] = row->ifZero[i];
    }
}

int32_t RepairMaskSize(int32_t size, int32_t maxMask)
{
    if (size < kMinMask)
        return kMinMask;
    if (size > maxMask)
        return maxMask;
    return (size % 2 == 0) ? size + 1 : size;
}

void SetFilterDefaults(FilterEntry* entry, int32_t type)
{
    if (!entry)
        return;
    entry->type = type;
    entry->enabled = 1;
    entry->param1 = 0;
    entry->param2 = 0;
    entry->param3 = 0;
    entry->modality[0] = '\0';
    const FilterCatalogueRow* row = FindFilterRow(type);
    if (!row)
        return;
    entry->param1 = row->newParams[0];
    entry->param2 = row->newParams[1];
    entry->param3 = row->newParams[2];
}

void DefaultFilterList(int32_t* count, FilterEntry* list)
{
    if (list) {
        for (int32_t i = 0; i < kDefaultFilterCount; i++)
            SetFilterDefaults(&list[i], kDefaultTypes[i]);
    }
    if (count)
        *count = kDefaultFilterCount;
}

void ValidateFilterList(int32_t* count, FilterEntry* list)
{
    if (!count || !list)
        return;
    bool damaged = *count < 1 || *count > kMaxFilters;
    for (int32_t i = 0; !damaged && i < *count; i++)
        damaged = FindFilterRow(list[i].type) == nullptr;
    if (damaged) {
        DefaultFilterList(count, list);
        return;
    }
    for (int32_t i = 0; i < *count; i++) {
        FilterEntry& e = list[i];
        e.modality[sizeof(e.modality) - 1] = '\0';
        if (e.modality[0] != '\0' && CompareNoCase(e.modality, "IO") != 0)
            memset(e.modality, 0, sizeof(e.modality));
        const FilterCatalogueRow& row = *FindFilterRow(e.type);
        e.param1 = RepairParam(row.repair[0], e.param1, row.maxMask);
        e.param2 = RepairParam(row.repair[1], e.param2, row.maxMask);
        e.param3 = RepairParam(row.repair[2], e.param3, row.maxMask);
    }
}
