// The filter list editor's model: list commands, menu availability, column texts, the
// modality rule and the parameter dialogs' start values and read-back rules.
// Inputs are the editor's working copy (at most 32 entries) and typed or selected values;
// the names, kinds, defaults and ranges come from the filter catalogue. Commands that cannot
// apply (adding to a full list, moving the first item up) change nothing.
#include "ui/filter_list_model.h"

#include <cstring>

#include "base/text.h"

void FilterListFromSettings(FilterListModel* list, const NyraSettings& settings)
{
    memcpy(list->entries, settings.filters, sizeof list->entries);
    int32_t count = settings.filterCount;
    list->count = count < 0 ? 0 : (count > kMaxFilters ? kMaxFilters : count);
}

void FilterListToSettings(const FilterListModel& list, NyraSettings* settings)
{
    memcpy(settings->filters, list.entries, sizeof(FilterEntry) * (size_t)list.count);
    settings->filterCount = list.count;
}

int32_t FilterListAdd(FilterListModel* list, int32_t type)
{
    if (list->count >= kMaxFilters)
        return -1;
    SetFilterDefaults(&list->entries[list->count], type);
    return list->count++;
}

int32_t FilterListDelete(FilterListModel* list, int32_t index)
{
    if (index < 0 || index >= list->count)
        return -1;
    memmove(&list->entries[index], &list->entries[index + 1],
            sizeof(FilterEntry) * (size_t)(list->count - index - 1));
    list->count--;
    if (list->count == 0)
        return -1;
    return index < list->count ? index : list->count - 1;
}

void FilterListDeleteAll(FilterListModel* list)
{
    list->count = 0;
}

void FilterListReset(FilterListModel* list)
{
    DefaultFilterList(&list->count, list->entries);
}

int32_t FilterListMove(FilterListModel* list, int32_t index, int32_t delta)
{
    int32_t other = index + delta;
    if (index < 0 || index >= list->count || other < 0 || other >= list->count)
        return -1;
    FilterEntry moved = list->entries[index];
    list->entries[index] = list->entries[other];
    list->entries[other] = moved;
    return other;
}

FilterMenuState FilterMenuStateFor(int32_t count, int32_t selected)
{
    bool any = selected >= 0 && selected < count;
    return {any, any, any, any && selected > 0, any && selected < count - 1};
}

size_t FormatFilterParams(const FilterEntry& e, char* out, size_t size)
{
    // The column holds at most 159 characters whatever the buffer.
    size_t n = size < kParamTextSize ? size : kParamTextSize;
    const int p1 = e.param1, p2 = e.param2, p3 = e.param3;
    switch (e.type) {
    case FilterAdaptiveNormalization:
        return FormatText(out, n, "Discard percentage low = %d.00%%; Discard percentage high = %d.00%%", p1,
                          p2);
    case FilterBrightness:
    case FilterContrast: return FormatText(out, n, "Level = %d", p1);
    case FilterDynamicDarken:
    case FilterDynamicLighten: return FormatText(out, n, "Level = %d", p1 != 0 ? p1 : 5);
    case FilterGamma: return FormatText(out, n, "Factor = %d.%02d", p1 / 100, p1 % 100);
    case FilterLevel:
        return FormatText(out, n, "Min Value = %d; Pivot Value = %d; Max Value = %d", p1, p2, p3);
    case FilterLevelPercent:
        return FormatText(out, n, "Min Value = %d.%02d%%; Pivot Value = %d.%02d%%; Max Value = %d.%02d%%",
                          p1 / 100, p1 % 100, p2 / 100, p2 % 100, p3 / 100, p3 % 100);
    case FilterNoiseRemoval:
    case FilterDespeckle:
    case FilterGaussianBlur:
    case FilterSmooth: return FormatText(out, n, "Mask size = (%d x %d)", p1, p1);
    case FilterUnsharpMask:
    case FilterLaplace:
    case FilterSharpen: return FormatText(out, n, "Mask size = (%d x %d); Level = %d", p1, p1, p2);
    default: return CopyText(out, n, "");
    }
}

const char* FilterModalityColumn(const FilterEntry& entry)
{
    return entry.modality[0] ? entry.modality : "None";
}

void ModalityFromTyped(const char* typed, char out[8])
{
    memset(out, 0, 8);
    if (CompareNoCase(typed ? typed : "", "IO") == 0)
        memcpy(out, "IO", 2);
}

int32_t MaskSizeMaximum(int32_t type)
{
    const FilterCatalogueRow* row = FindFilterRow(type);
    return row && row->editorMax[0] > 0 ? row->editorMax[0] : kMaxMask;
}

int32_t MaskSizeToSelect(int32_t type, int32_t stored)
{
    if (stored == 0) {
        const FilterCatalogueRow* row = FindFilterRow(type);
        stored = row && row->editorIfZero[0] ? row->editorIfZero[0] : kMinMask;
    }
    bool offered = stored >= kMinMask && stored <= MaskSizeMaximum(type) && stored % 2 == 1;
    return offered ? stored : kMinMask;
}

int32_t MaskSizeReadBack(int32_t selectedSize)
{
    if (selectedSize == 0)
        return 5;
    if (selectedSize < kMinMask)
        return kMinMask;
    return selectedSize % 2 == 0 ? selectedSize + 1 : selectedSize;
}

const char* OneValueLabel(int32_t type)
{
    switch (type) {
    case FilterBrightness: return "Brightness";
    case FilterContrast: return "Contrast";
    case FilterDynamicDarken: return "Dynamic Darken";
    case FilterDynamicLighten: return "Dynamic Lighten";
    case FilterGamma: return "Gamma";
    default: return "";
    }
}

const char* OneValueRangeText(int32_t type)
{
    switch (type) {
    case FilterBrightness:
    case FilterContrast: return "-100 to 100";
    case FilterDynamicDarken:
    case FilterDynamicLighten: return "1 to 100";
    case FilterGamma: return "1 to 1000 (x100: 50 = 0.50)";
    default: return "";
    }
}

int32_t SliderStart(int32_t stored, int32_t ifZero, int32_t minimum, int32_t maximum)
{
    int32_t value = stored == 0 ? ifZero : stored;
    return value < minimum ? minimum : (value > maximum ? maximum : value);
}

int32_t SliderPageSize(int32_t minimum, int32_t maximum)
{
    int32_t span = maximum - minimum;
    return span <= 10 ? 1 : span / 10;
}

int32_t PercentageReadBack(int32_t typed)
{
    return typed < 1 ? 1 : (typed > 50 ? 50 : typed);
}
