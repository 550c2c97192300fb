#include "core/icon_order.h"

#include "base/error.h"
#include "base/text_file.h"
#include "core/icon_store.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <functional>

namespace merovane {
namespace {

using Ids = std::vector<IconId>;

const std::wstring kBase(kNotifyIconSettingsKey);

void StoreOrder(const Ids& ids)
{
    const std::string bytes = SerializeIconOrder(ids);
    test::SetRegRaw(kBase, kIconOrderValue, REG_BINARY, std::vector<BYTE>(bytes.begin(), bytes.end()));
}

std::optional<Ids> StoredOrder()
{
    const test::RawValue raw = test::GetRegRaw(kBase, kIconOrderValue);
    if (!raw.exists || raw.type != REG_BINARY) {
        return std::nullopt;
    }
    return ParseIconOrder(std::string(raw.data.begin(), raw.data.end()));
}

TEST(IconOrder, ParsesWholeIdsOnlyAndRoundTrips)
{
    const std::string two("\x01\x00\x00\x00\x00\x00\x00\x00\xFF\xEE\xDD\xCC\xBB\xAA\x99\x88", 16);
    struct Case {
        std::string bytes;
        std::optional<Ids> ids;
    } cases[] = {
        {"", Ids{}},
        {two, Ids{1, 0x8899AABBCCDDEEFFull}},
        {two.substr(0, 15), std::nullopt}, // odd length: not ours to guess
        {two.substr(0, 9), std::nullopt},
        {two.substr(0, 1), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIconOrder(c.bytes), c.ids) << c.bytes.size();
        if (c.ids) {
            EXPECT_EQ(SerializeIconOrder(*c.ids), c.bytes);
        }
    }
}

TEST(IconOrder, KeyNamesAreStrictDecimalIds)
{
    struct Case {
        std::wstring name;
        std::optional<IconId> id;
    } cases[] = {
        {L"0", 0},
        {L"7733102616958089286", 7733102616958089286ull},
        {L"18446744073709551615", UINT64_MAX},
        {L"18446744073709551616", std::nullopt}, // one past
        {L"99999999999999999999", std::nullopt},
        {L"007", std::nullopt},                  // another key than "7"
        {L"-1", std::nullopt},
        {L"+1", std::nullopt},
        {L" 1", std::nullopt},
        {L"1a", std::nullopt},
        {L"", std::nullopt},
        {L"\u0661", std::nullopt}, // Arabic-Indic one
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IconIdFromKeyName(c.name), c.id) << ToUtf8(c.name);
        if (c.id) {
            EXPECT_EQ(KeyNameFromIconId(*c.id), c.name);
        }
    }
}

TEST(IconOrder, ReordersOnlyTheIdsTheValueHolds)
{
    struct Case {
        const char* what;
        Ids current;
        Ids wanted;
        OrderProblem problem;
        IconId offending;
        Ids result;
    } cases[] = {
        {"named first, the rest keep their order", {1, 2, 3, 4}, {3, 1}, OrderProblem::None, 0, {3, 1, 2, 4}},
        {"nothing named", {1, 2, 3}, {}, OrderProblem::None, 0, {1, 2, 3}},
        {"all named", {1, 2, 3}, {3, 2, 1}, OrderProblem::None, 0, {3, 2, 1}},
        {"unknown id", {1, 2, 3}, {2, 9}, OrderProblem::UnknownId, 9, {}},
        {"named twice", {1, 2, 3}, {2, 2}, OrderProblem::Repeated, 2, {}},
        {"a repeated id moves with its copies", {1, 2, 3, 2}, {2}, OrderProblem::None, 0, {2, 2, 1, 3}},
        {"empty value", {}, {}, OrderProblem::None, 0, {}},
        {"empty value, an id named", {}, {1}, OrderProblem::UnknownId, 1, {}},
    };
    for (const Case& c : cases) {
        const Reordering reordering = ReorderIcons(c.current, c.wanted);
        EXPECT_EQ(reordering.problem, c.problem) << c.what;
        EXPECT_EQ(reordering.ids, c.result) << c.what;
        if (c.problem != OrderProblem::None) {
            EXPECT_EQ(reordering.offending, c.offending) << c.what;
        }
    }
}

TEST(IconOrder, MovesOnePlaceWithinTheEnds)
{
    const Ids ids{1, 2, 3};
    EXPECT_EQ(MoveIcon(ids, 2, -1), (Ids{2, 1, 3}));
    EXPECT_EQ(MoveIcon(ids, 2, +1), (Ids{1, 3, 2}));
    EXPECT_EQ(MoveIcon(ids, 1, -1), std::nullopt);
    EXPECT_EQ(MoveIcon(ids, 3, +1), std::nullopt);
    EXPECT_EQ(MoveIcon(ids, 9, -1), std::nullopt);
    EXPECT_EQ(MoveIcon(ids, 2, 2), std::nullopt);
}

TEST(IconOrder, ReadsTheValueAsStored)
{
    test::RegistrySandbox sandbox;
    EXPECT_FALSE(ReadIconOrder().present); // no key at all

    test::CreateRegKey(kBase);
    EXPECT_FALSE(ReadIconOrder().present);

    StoreOrder({5, 6});
    StoredIconOrder stored = ReadIconOrder();
    EXPECT_TRUE(stored.present && stored.binary);
    EXPECT_EQ(stored.ids, (Ids{5, 6}));

    test::SetRegRaw(kBase, kIconOrderValue, REG_BINARY, {1, 2, 3});
    stored = ReadIconOrder();
    EXPECT_TRUE(stored.present && stored.binary);
    EXPECT_EQ(stored.bytes.size(), 3u);
    EXPECT_FALSE(stored.ids);

    test::SetRegString(kBase, kIconOrderValue, L"5 6");
    stored = ReadIconOrder();
    EXPECT_TRUE(stored.present);
    EXPECT_FALSE(stored.binary);
    EXPECT_FALSE(stored.ids);
}

TEST(IconOrder, ChangeKeepsThePreviousValueAndUndoPutsItBack)
{
    test::RegistrySandbox sandbox;
    test::TempDir dir;
    const std::wstring backup = dir / kIconOrderBackupName;
    test::CreateRegKey(kBase);
    StoreOrder({1, 2, 3});

    EXPECT_FALSE(UndoIconOrder(backup)); // nothing kept yet

    ChangeIconOrder(Ids{3, 1, 2}, backup);
    EXPECT_EQ(StoredOrder(), (Ids{3, 1, 2}));
    EXPECT_EQ(ParseIconOrder(ReadFileIfExists(backup).value()), (Ids{1, 2, 3}));

    ASSERT_TRUE(UndoIconOrder(backup));
    EXPECT_EQ(StoredOrder(), (Ids{1, 2, 3}));
    ASSERT_TRUE(UndoIconOrder(backup)); // and again: redo
    EXPECT_EQ(StoredOrder(), (Ids{3, 1, 2}));

    // An icon came and one went since: the kept order is put back over the
    // ids there are now, the new one after them.
    StoreOrder({3, 1, 4});
    ASSERT_TRUE(UndoIconOrder(backup)); // kept: 1, 2, 3
    EXPECT_EQ(StoredOrder(), (Ids{1, 3, 4}));
}

TEST(IconOrder, RefusesWhatItCannotReorderAndWritesNothing)
{
    test::RegistrySandbox sandbox;
    test::TempDir dir;
    const std::wstring backup = dir / kIconOrderBackupName;

    struct Case {
        const char* what;
        std::function<void()> arrange;
        Ids ids;
        DWORD code;
    } cases[] = {
        {"no key", [] {}, {1}, ERROR_FILE_NOT_FOUND},
        {"no value", [] { test::CreateRegKey(kBase); }, {1}, ERROR_FILE_NOT_FOUND},
        {"odd length", [] { test::SetRegRaw(kBase, kIconOrderValue, REG_BINARY, {1, 2, 3}); }, {1}, ERROR_INVALID_DATA},
        {"a string", [] { test::SetRegString(kBase, kIconOrderValue, L"1"); }, {1}, ERROR_INVALID_DATA},
        {"an id dropped", [] { StoreOrder({1, 2}); }, {2}, ERROR_INVALID_DATA},
        {"an id invented", [] { StoreOrder({1, 2}); }, {2, 1, 7}, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        c.arrange();
        const test::RawValue before = test::GetRegRaw(kBase, kIconOrderValue);
        try {
            ChangeIconOrder(c.ids, backup);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const Error& error) {
            EXPECT_EQ(error.code(), c.code) << c.what;
        }
        const test::RawValue after = test::GetRegRaw(kBase, kIconOrderValue);
        EXPECT_EQ(after.type, before.type) << c.what;
        EXPECT_EQ(after.data, before.data) << c.what;
        EXPECT_FALSE(ReadFileIfExists(backup)) << c.what;
    }
}

} // namespace
} // namespace merovane
