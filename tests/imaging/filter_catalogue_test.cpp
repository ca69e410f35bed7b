// The filter catalogue: names and menu layout, fresh entries, the default list and the repair
// of stored lists.
#include "imaging/filter_catalogue.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

FilterEntry Entry(int32_t type, int32_t p1 = 0, int32_t p2 = 0, int32_t p3 = 0, const char* modality = "")
{
    FilterEntry e{};
    e.type = type;
    e.enabled = 1;
    e.param1 = p1;
    e.param2 = p2;
    e.param3 = p3;
    strncpy(e.modality, modality, sizeof(e.modality));
    return e;
}

TEST(FilterCatalogue, RowsAreInCodeOrderAndNamed)
{
    for (int32_t t = 0; t < kFilterTypeCount; t++) {
        const FilterCatalogueRow* row = FindFilterRow(t);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->type, t);
        EXPECT_GT(strlen(row->displayName), 0u);
        EXPECT_GT(strlen(row->menuName), 0u);
        // Exactly the types with a parameter kind have a dialog caption.
        EXPECT_EQ(row->caption != nullptr, row->kind != FilterParamKind::None) << t;
    }
    EXPECT_STREQ(FilterDisplayName(FilterLaplace), "Laplace Edge Enhancement");
    EXPECT_STREQ(FilterMenuName(FilterSharpen), "Sharpen Filter (Spacial)");
    EXPECT_STREQ(FilterCaption(FilterGaussianBlur), "GaussianBlur");
    EXPECT_STREQ(FilterCaption(FilterUnsharpMask), "Unsharp Mask");
    EXPECT_STREQ(FilterCaption(FilterDynamicDarken), "Dynamic Darken");
    EXPECT_EQ(FilterCaption(FilterInvert), nullptr);
    EXPECT_EQ(FilterCaption(FilterFastNoiseRemoval), nullptr);
}

TEST(FilterCatalogue, UnknownCodesFallBackToFilter)
{
    for (int32_t t : {-1, 24, 30, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(FindFilterRow(t), nullptr);
        EXPECT_STREQ(FilterDisplayName(t), "Filter");
        EXPECT_STREQ(FilterCaption(t), "Filter");
        EXPECT_EQ(FilterKind(t), FilterParamKind::None);
        EXPECT_FALSE(FilterMenuSeparatorAfter(t));
    }
}

TEST(FilterCatalogue, MenuSeparatorsCloseTheGroups)
{
    for (int32_t t = 0; t < kFilterTypeCount; t++) {
        bool expected = t == 10 || t == 13 || t == 15 || t == 18;
        EXPECT_EQ(FilterMenuSeparatorAfter(t), expected) << t;
    }
}

TEST(FilterCatalogue, SetFilterDefaultsClearsEverythingItDoesNotSet)
{
    FilterEntry e;
    memset(&e, 0x55, sizeof(e));
    SetFilterDefaults(&e, FilterLevel);
    EXPECT_EQ(e.type, FilterLevel);
    EXPECT_EQ(e.enabled, 1);
    EXPECT_EQ(e.param1, 128);
    EXPECT_EQ(e.param2, 138);
    EXPECT_EQ(e.param3, 148);
    EXPECT_EQ(e.modality[0], 0);

    memset(&e, 0x55, sizeof(e));
    SetFilterDefaults(&e, FilterUnsharpMask);
    EXPECT_EQ(e.param1, 3);
    EXPECT_EQ(e.param2, 100);
    EXPECT_EQ(e.param3, 0);

    memset(&e, 0x55, sizeof(e));
    SetFilterDefaults(&e, FilterEqualize);
    EXPECT_EQ(e.param1, 0);
    EXPECT_EQ(e.param2, 0);
    EXPECT_EQ(e.param3, 0);
}

TEST(FilterCatalogue, DefaultListFillsSevenSlotsOnly)
{
    FilterEntry list[kMaxFilters];
    memset(list, 0x77, sizeof(list));
    int32_t count = -5;
    DefaultFilterList(&count, list);
    ASSERT_EQ(count, 7);
    const int32_t types[7] = {13, 8, 2, 3, 7, 22, 12};
    const int32_t p1[7] = {5, 128, -10, 10, 75, 21, 5};
    const int32_t p2[7] = {0, 138, 0, 0, 0, 20, 0};
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(list[i].type, types[i]);
        EXPECT_EQ(list[i].enabled, 1);
        EXPECT_EQ(list[i].param1, p1[i]);
        EXPECT_EQ(list[i].param2, p2[i]);
        EXPECT_EQ(list[i].modality[0], 0);
    }
    EXPECT_EQ(list[2].param1, -10);
    const uint8_t* rest = reinterpret_cast<const uint8_t*>(&list[7]);
    for (size_t i = 0; i < sizeof(FilterEntry) * (kMaxFilters - 7); i++)
        ASSERT_EQ(rest[i], 0x77);
}

TEST(FilterCatalogue, DamagedListsComeBackAsTheDefaultList)
{
    FilterEntry defaults[kMaxFilters] = {};
    int32_t defaultCount = 0;
    DefaultFilterList(&defaultCount, defaults);

    struct Case {
        int32_t count;
        int32_t badType;  // written into entry 1 when not -2
    } cases[] = {{0, -2}, {33, -2}, {-1, -2}, {3, 24}, {3, -1}, {32, 30}};
    for (const Case& c : cases) {
        FilterEntry list[kMaxFilters];
        for (auto& e : list)
            e = Entry(FilterInvert);
        if (c.badType != -2)
            list[1].type = c.badType;
        int32_t count = c.count;
        ValidateFilterList(&count, list);
        EXPECT_EQ(count, 7) << c.count << " " << c.badType;
        EXPECT_EQ(memcmp(list, defaults, 7 * sizeof(FilterEntry)), 0);
    }
}

TEST(FilterCatalogue, RepairClampsMasksAndLevelsOnly)
{
    FilterEntry list[kMaxFilters] = {};
    list[0] = Entry(FilterSharpen, 8, 150, 77);
    list[1] = Entry(FilterSharpen, 40, -3);
    list[2] = Entry(FilterGaussianBlur, 16);
    list[3] = Entry(FilterNoiseRemoval, 1);
    list[4] = Entry(FilterDynamicDarken, 0);
    list[5] = Entry(FilterBrightness, -500, 9, 9);
    list[6] = Entry(FilterGamma, 0);
    list[7] = Entry(FilterDynamicLighten, -7);
    list[8] = Entry(FilterFastNoiseRemoval, 22);
    list[9] = Entry(FilterSmooth, 21);
    list[9].enabled = 0;
    int32_t count = 10;
    ValidateFilterList(&count, list);
    ASSERT_EQ(count, 10);
    EXPECT_EQ(list[0].param1, 9);
    EXPECT_EQ(list[0].param2, 100);
    EXPECT_EQ(list[0].param3, 77);  // unused parameters are kept as stored
    EXPECT_EQ(list[1].param1, 21);
    EXPECT_EQ(list[1].param2, 0);
    EXPECT_EQ(list[2].param1, 15);
    EXPECT_EQ(list[3].param1, 3);
    EXPECT_EQ(list[4].param1, 1);
    EXPECT_EQ(list[5].param1, -500);  // brightness is not limited here
    EXPECT_EQ(list[6].param1, 0);     // nor gamma: the chain substitutes 100
    EXPECT_EQ(list[7].param1, 1);
    EXPECT_EQ(list[8].param1, 21);
    EXPECT_EQ(list[9].param1, 21);
    EXPECT_EQ(list[9].enabled, 0);
}

TEST(FilterCatalogue, RepairLimitsModalityToIO)
{
    FilterEntry list[kMaxFilters] = {};
    list[0] = Entry(FilterInvert, 0, 0, 0, "io");
    list[1] = Entry(FilterInvert, 0, 0, 0, "CT");
    list[2] = Entry(FilterInvert);
    memcpy(list[2].modality, "IOIOIOIO", 8);  // unterminated: cut to 7, then not "IO"
    list[3] = Entry(FilterInvert, 0, 0, 0, "IO");
    int32_t count = 4;
    ValidateFilterList(&count, list);
    EXPECT_STREQ(list[0].modality, "io");
    EXPECT_STREQ(list[1].modality, "");
    EXPECT_STREQ(list[2].modality, "");
    EXPECT_EQ(list[2].modality[7], 0);
    EXPECT_STREQ(list[3].modality, "IO");
}

TEST(FilterCatalogue, ChainSubstitutesOnlyTheIfZeroColumn)
{
    struct Case {
        FilterEntry entry;
        int32_t expected[3];
    } cases[] = {
        {Entry(FilterAdaptiveNormalization), {2, 2, 0}},
        {Entry(FilterDynamicDarken), {5, 0, 0}},
        {Entry(FilterDynamicLighten), {0, 0, 0}},
        {Entry(FilterGamma), {100, 0, 0}},
        {Entry(FilterLevel), {0, 0, 0}},
        {Entry(FilterNoiseRemoval), {3, 0, 0}},
        {Entry(FilterDespeckle), {5, 0, 0}},
        {Entry(FilterGaussianBlur), {5, 0, 0}},
        {Entry(FilterUnsharpMask), {3, 100, 0}},
        {Entry(FilterLaplace), {3, 3, 0}},
        {Entry(FilterSharpen), {21, 20, 0}},
        {Entry(FilterSmooth), {3, 0, 0}},
        {Entry(FilterSharpen, 7, -4), {7, -4, 0}},
        {Entry(30, 0, 0, 0), {0, 0, 0}},
    };
    for (const Case& c : cases) {
        int32_t p[3];
        EffectiveFilterParams(c.entry, p);
        EXPECT_EQ(p[0], c.expected[0]) << c.entry.type;
        EXPECT_EQ(p[1], c.expected[1]) << c.entry.type;
        EXPECT_EQ(p[2], c.expected[2]) << c.entry.type;
    }
}

TEST(FilterCatalogue, EditorRangesMatchTheMaskRule)
{
    for (int32_t t = 0; t < kFilterTypeCount; t++) {
        const FilterCatalogueRow& row = *FindFilterRow(t);
        if (row.kind == FilterParamKind::MaskSize || row.kind == FilterParamKind::MaskSizeAndFactor) {
            EXPECT_EQ(row.editorMax[0], row.maxMask) << t;
        }
    }
    EXPECT_EQ(FindFilterRow(FilterGaussianBlur)->maxMask, 15);
    EXPECT_EQ(RepairMaskSize(4, 21), 5);
    EXPECT_EQ(RepairMaskSize(21, 21), 21);
    EXPECT_EQ(RepairMaskSize(20, 21), 21);
    EXPECT_EQ(RepairMaskSize(14, 15), 15);
    EXPECT_EQ(RepairMaskSize(INT32_MIN, 21), 3);
}

}  // namespace
