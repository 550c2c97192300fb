#include "core/show_every_icon.h"

#include "base/error.h"
#include "core/icon_store.h"
#include "core/promotion_pass.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

namespace merovane {
namespace {

const std::wstring kBase(kNotifyIconSettingsKey);

std::wstring EntryPath(std::wstring_view key)
{
    return kBase + L"\\" + std::wstring(key);
}

std::vector<BYTE> Dword(DWORD value)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    return {bytes, bytes + sizeof(value)};
}

// An entry's IsPromoted before the showing: absent, a DWORD, or another type.
struct Seed {
    std::wstring key;
    bool present;
    DWORD type;
    std::vector<BYTE> data;
};

const std::vector<Seed>& Seeds()
{
    static const std::vector<Seed> seeds = {
        {L"101", true, REG_DWORD, Dword(1)},
        {L"102", true, REG_DWORD, Dword(0)},
        {L"103", false, REG_NONE, {}},
        {L"104", true, REG_SZ, {'0', 0, 0, 0}},             // "0" as a string
        {L"105", true, REG_DWORD, Dword(7)},                 // shown, but not as Explorer writes it
        {L"106", true, REG_BINARY, {0x01, 0x00, 0x00}},      // three bytes of binary
        {L"107", true, REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}, // a 1, of another type
    };
    return seeds;
}

class ShowEveryIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::CreateRegKey(kBase);
        for (const Seed& seed : Seeds()) {
            test::CreateRegKey(EntryPath(seed.key));
            if (seed.present) {
                test::SetRegRaw(EntryPath(seed.key), kIsPromotedValue, seed.type, seed.data);
            }
        }
    }
    void TearDown() override { SetShowEveryIconActive(false); }

    void ExpectAsSeeded(std::wstring_view except = {})
    {
        for (const Seed& seed : Seeds()) {
            if (seed.key == except) {
                continue;
            }
            const test::RawValue raw = test::GetRegRaw(EntryPath(seed.key), kIsPromotedValue);
            EXPECT_EQ(raw.exists, seed.present) << ToUtf8(seed.key);
            if (seed.present) {
                EXPECT_EQ(raw.type, seed.type) << ToUtf8(seed.key);
                EXPECT_EQ(raw.data, seed.data) << ToUtf8(seed.key);
            }
        }
    }
    void ExpectAllShown()
    {
        for (const Seed& seed : Seeds()) {
            const test::RawValue raw = test::GetRegRaw(EntryPath(seed.key), kIsPromotedValue);
            EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD)) << ToUtf8(seed.key);
            EXPECT_EQ(raw.data, Dword(1)) << ToUtf8(seed.key);
        }
    }

    test::RegistrySandbox registry_;
    test::TempDir dir_;
    std::wstring state_ = dir_ / kShowEveryIconStateName;
};

TEST_F(ShowEveryIconTest, ShowsEveryEntryAndPutsEachBackByteForByte)
{
    const FILETIME untouched = test::RegLastWrite(EntryPath(L"101"));
    for (int round = 0; round < 2; ++round) {
        const ShowEveryIconResult shown = ShowEveryIcon(state_);
        EXPECT_EQ(shown.entries, 7);
        EXPECT_EQ(shown.written, 6); // all but the one already at 1
        EXPECT_TRUE(ShowingEveryIcon(state_));
        EXPECT_TRUE(ShowEveryIconActive());
        ExpectAllShown();

        const PutBackResult back = PutBackEveryIcon(state_);
        EXPECT_EQ(back.restored, 6);
        EXPECT_EQ(back.userChanged, 0);
        EXPECT_FALSE(ShowingEveryIcon(state_));
        EXPECT_FALSE(ShowEveryIconActive());
        ExpectAsSeeded();
    }
    // Written only where the value differed.
    const FILETIME after = test::RegLastWrite(EntryPath(L"101"));
    EXPECT_EQ(::CompareFileTime(&untouched, &after), 0);
}

TEST_F(ShowEveryIconTest, ASecondShowingKeepsTheFirstValues)
{
    ShowEveryIcon(state_);
    const ShowEveryIconResult again = ShowEveryIcon(state_);
    EXPECT_EQ(again.written, 0);
    PutBackEveryIcon(state_);
    ExpectAsSeeded();
}

TEST_F(ShowEveryIconTest, ARunThatEndedWithoutPuttingBackIsUndoneByTheNext)
{
    ShowEveryIcon(state_);
    // The process ends here; the next start finds the file.
    SetShowEveryIconActive(false);
    ASSERT_TRUE(ShowingEveryIcon(state_));
    const PutBackResult back = PutBackEveryIcon(state_);
    EXPECT_EQ(back.restored, 6);
    ExpectAsSeeded();
}

TEST_F(ShowEveryIconTest, EntriesChangedOrDeletedMeanwhileAreLeftAlone)
{
    ShowEveryIcon(state_);
    test::SetRegDword(EntryPath(L"102"), kIsPromotedValue, 0);          // the user hid it again
    test::SetRegString(EntryPath(L"103"), kIsPromotedValue, L"1");      // another type now
    ASSERT_EQ(::RegDeleteKeyW(HKEY_CURRENT_USER, EntryPath(L"104").c_str()), ERROR_SUCCESS);
    const PutBackResult back = PutBackEveryIcon(state_);
    EXPECT_EQ(back.userChanged, 2);
    EXPECT_EQ(back.gone, 1);
    EXPECT_EQ(test::GetRegDword(EntryPath(L"102"), kIsPromotedValue), 0);
    EXPECT_EQ(test::GetRegRaw(EntryPath(L"103"), kIsPromotedValue).type, static_cast<DWORD>(REG_SZ));
    EXPECT_FALSE(test::RegKeyExists(EntryPath(L"104"))); // never re-created
    for (const std::wstring key : {L"101", L"105", L"106", L"107"}) {
        const Seed& seed = *std::find_if(Seeds().begin(), Seeds().end(), [&](const Seed& s) { return s.key == key; });
        EXPECT_EQ(test::GetRegRaw(EntryPath(key), kIsPromotedValue).data, seed.data) << ToUtf8(key);
    }
}

TEST_F(ShowEveryIconTest, PassesOfThePolicyWaitWhileEveryIconIsShown)
{
    const PromotionRule hideAll = [](const PromotionCandidate&) { return std::optional<bool>(false); };
    ShowEveryIcon(state_);
    EXPECT_EQ(ApplyPromotionPass(hideAll).written, 0);
    ExpectAllShown();
    PutBackEveryIcon(state_);
    EXPECT_GT(ApplyPromotionPass(hideAll).written, 0);
}

TEST(ShowEveryIconFile, RoundTripsAndRefusesWhatItDidNotWrite)
{
    const std::vector<RememberedPromotion> entries = {
        {.keyName = L"1", .present = false, .type = REG_NONE, .bytes = {}},
        {.keyName = L"7733102616958089286", .present = true, .type = REG_DWORD, .bytes = std::string("\1\0\0\0", 4)},
        {.keyName = L"Äpp 2", .present = true, .type = REG_SZ, .bytes = ""},
    };
    const std::string text = SerializeRememberedPromotions(entries);
    EXPECT_EQ(ParseRememberedPromotions(text), entries);

    const std::string header = text.substr(0, text.find('\n') + 1);
    for (const std::string& bad : std::vector<std::string>{std::string(), "something else\r\n", header + "1\t4\t0g\r\n", header + "1\t4\t012\r\n",
                                  header + "1\tx\t00\r\n", header + "1\r\n", header + "\t-\r\n"}) {
        EXPECT_FALSE(ParseRememberedPromotions(bad)) << bad;
    }
}

TEST(ShowEveryIconWithoutEntries, DoesNothingAndCreatesNoKey)
{
    test::RegistrySandbox registry;
    test::TempDir dir;
    const std::wstring state = dir / kShowEveryIconStateName;
    EXPECT_EQ(ShowEveryIcon(state).entries, 0);
    EXPECT_FALSE(test::RegKeyExists(kBase));
    EXPECT_FALSE(ShowingEveryIcon(state));
    EXPECT_EQ(PutBackEveryIcon(state).restored, 0);
}

} // namespace
} // namespace merovane
