// The filter list editor's model: commands and the selection they leave, menu availability,
// the Parameters column, the modality rule and the parameter dialogs' rules.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/settings.h"
#include "ui/filter_list_model.h"

namespace {

FilterListModel DefaultList()
{
    NyraSettings s;
    SettingsDefaults(&s);
    FilterListModel list;
    FilterListFromSettings(&list, s);
    return list;
}

std::string Params(int32_t type, int32_t p1, int32_t p2 = 0, int32_t p3 = 0)
{
    FilterEntry e = {type, 1, p1, p2, p3, ""};
    char text[kParamTextSize];
    FormatFilterParams(e, text, sizeof text);
    return text;
}

}  // namespace

TEST(FilterListModel, CommandsAndTheSelectionTheyLeave)
{
    FilterListModel list = DefaultList();
    ASSERT_EQ(list.count, 7);
    EXPECT_EQ(FilterListAdd(&list, FilterAdaptiveNormalization), 7);
    EXPECT_EQ(list.entries[7].param1, 2);
    while (list.count < kMaxFilters)
        FilterListAdd(&list, FilterInvert);
    const FilterListModel full = list;
    EXPECT_EQ(FilterListAdd(&list, FilterGamma), -1);
    EXPECT_EQ(memcmp(&list, &full, sizeof list), 0) << "a full list is left alone";

    list = DefaultList();
    EXPECT_EQ(FilterListMove(&list, 0, -1), -1);
    EXPECT_EQ(FilterListMove(&list, 6, +1), -1);
    EXPECT_EQ(FilterListMove(&list, 1, +1), 2);
    EXPECT_EQ(list.entries[1].type, FilterBrightness);
    EXPECT_EQ(list.entries[2].type, FilterLevel);

    EXPECT_EQ(FilterListDelete(&list, 2), 2);  // the next entry moves up into the selection
    EXPECT_EQ(list.entries[2].type, FilterContrast);
    EXPECT_EQ(FilterListDelete(&list, 5), 4);  // the last one: its predecessor is selected
    EXPECT_EQ(list.count, 5);
    while (list.count > 1)
        FilterListDelete(&list, 0);
    EXPECT_EQ(FilterListDelete(&list, 0), -1);
    EXPECT_EQ(list.count, 0);

    FilterListReset(&list);
    EXPECT_EQ(list.count, 7);
    EXPECT_EQ(list.entries[6].type, FilterNoiseRemoval);

    NyraSettings s;
    SettingsDefaults(&s);
    s.filterCount = 40;  // a damaged count from another path is clamped
    FilterListFromSettings(&list, s);
    EXPECT_EQ(list.count, kMaxFilters);
}

TEST(FilterListModel, MenuItemsNeedASelectionAndRoomToMove)
{
    FilterMenuState none = FilterMenuStateFor(3, -1);
    EXPECT_FALSE(none.edit || none.modality || none.remove || none.moveUp || none.moveDown);
    FilterMenuState first = FilterMenuStateFor(3, 0);
    EXPECT_TRUE(first.edit && first.modality && first.remove && first.moveDown);
    EXPECT_FALSE(first.moveUp);
    FilterMenuState last = FilterMenuStateFor(3, 2);
    EXPECT_TRUE(last.moveUp);
    EXPECT_FALSE(last.moveDown);
    FilterMenuState only = FilterMenuStateFor(1, 0);
    EXPECT_FALSE(only.moveUp || only.moveDown);
}

TEST(FilterListModel, ParametersColumn)
{
    EXPECT_EQ(Params(FilterGamma, 75), "Factor = 0.75");
    EXPECT_EQ(Params(FilterGamma, 0), "Factor = 0.00");
    EXPECT_EQ(Params(FilterLevelPercent, 0, 50, 100),
              "Min Value = 0.00%; Pivot Value = 0.50%; Max Value = 1.00%");
    EXPECT_EQ(Params(FilterAdaptiveNormalization, 2, 3),
              "Discard percentage low = 2.00%; Discard percentage high = 3.00%");
    EXPECT_EQ(Params(FilterDynamicDarken, 0), "Level = 5");
    EXPECT_EQ(Params(FilterSharpen, 21, 20), "Mask size = (21 x 21); Level = 20");
    EXPECT_EQ(Params(FilterSmooth, 5), "Mask size = (5 x 5)");
    EXPECT_EQ(Params(FilterInvert, 9), "");
    EXPECT_EQ(Params(99, 9), "");
}

TEST(FilterListModel, ModalityIsIOOrNothing)
{
    char out[8];
    ModalityFromTyped("io", out);
    EXPECT_STREQ(out, "IO");
    for (const char* other : {"CT", "", "IOX", " IO"}) {
        ModalityFromTyped(other, out);
        EXPECT_STREQ(out, "") << other;
    }
    FilterEntry e = {};
    EXPECT_STREQ(FilterModalityColumn(e), "None");
}

TEST(FilterListModel, ParameterDialogStartsAndReadBack)
{
    EXPECT_EQ(MaskSizeMaximum(FilterGaussianBlur), 15);
    EXPECT_EQ(MaskSizeMaximum(FilterNoiseRemoval), 21);
    EXPECT_EQ(MaskSizeToSelect(FilterGaussianBlur, 0), 3);
    EXPECT_EQ(MaskSizeToSelect(FilterNoiseRemoval, 0), 5);
    EXPECT_EQ(MaskSizeToSelect(FilterSharpen, 0), 21);
    EXPECT_EQ(MaskSizeToSelect(FilterNoiseRemoval, 4), 3) << "a size the list does not offer shows the first";
    EXPECT_EQ(MaskSizeToSelect(FilterGaussianBlur, 17), 3);
    EXPECT_EQ(MaskSizeReadBack(0), 5);
    EXPECT_EQ(MaskSizeReadBack(9), 9);

    EXPECT_EQ(SliderStart(0, 100, 1, 1000), 100);
    EXPECT_EQ(SliderStart(0, 0, -100, 100), 0);
    EXPECT_EQ(SliderStart(5000, 100, 1, 1000), 1000);
    EXPECT_EQ(SliderPageSize(-100, 100), 20);
    EXPECT_EQ(SliderPageSize(0, 10), 1);
    EXPECT_EQ(PercentageReadBack(0), 1);
    EXPECT_EQ(PercentageReadBack(51), 50);
    EXPECT_EQ(PercentageReadBack(7), 7);
}
