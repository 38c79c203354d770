// Stored settings as the plug-in reads them, against the table that the
// settings pages are checked with too (tests/data/stored-settings.json): a
// box shown ticked is on, a time shown is the time used, a number shown is
// the number sent.

#include <gtest/gtest.h>

#include <algorithm>

#include "StoredSettingsTable.h"
#include "controller/ElementAddress.h"
#include "controller/Messages.h"
#include "elements/CatalogueElements.h"
#include "elements/HoldToConfirm.h"
#include "elements/HostKeyState.h"
#include "support/LogCapture.h"

using json = nlohmann::json;

namespace {

const json& Table() {
    static const json table = json::parse(kStoredSettingsTable);
    return table;
}

json CommandData(const CommandBuilder& builder, const json& settings) {
    auto source = std::make_shared<ElementAddress>(ElementAddress::kButton, "K", "f");
    return builder(source, settings)->Document()["payload"]["command"]["data"];
}

TEST(StoredSettingsTest, FlagsReadAsThePagesShowThemSoAHoldShownOnIsOn) {
    LogCapture log;  // values that say nothing cost a line each
    const json& flags = Table()["flag"];
    ASSERT_EQ(flags["settings"],
              json({{"hold_to_confirm", false}, {"auto_unmute", true}, {"own_icons", false}}));
    const auto nudge = MakeVolumeStepCommand("media-request-nudge-volume-up");
    for (const json& row : flags["cases"]) {
        const json& stored = row["stored"];
        SCOPED_TRACE(stored.dump());
        const std::optional<bool> reads =
            row["reads"].is_null() ? std::nullopt : std::optional<bool>(row["reads"].get<bool>());
        EXPECT_EQ(SettingToFlag(stored), reads);
        EXPECT_EQ(HoldToConfirm::Read({{"hold_to_confirm", stored}}, "owner", "K1").enabled,
                  reads.value_or(false));
        EXPECT_EQ(CommandData(nudge, {{"volume_step", 5}, {"auto_unmute", stored}})["auto_unmute"],
                  reads.value_or(true));
        EXPECT_EQ(HostKeyState::OwnIcons({{"own_icons", stored}}).value_or(false), reads.value_or(false));
    }
}

TEST(StoredSettingsTest, WholeNumbersReadAsThePagesShowThem) {
    const json& whole = Table()["whole"];
    ASSERT_EQ(whole["settings"], json({"volume_value", "volume_step", "dial_step"}));
    const auto level = MakeVolumeLevelCommand("media-request-set-volume-level-percent");
    const auto nudge = MakeVolumeStepCommand("media-request-nudge-volume-up");
    for (const json& row : whole["cases"]) {
        const json& stored = row["stored"];
        SCOPED_TRACE(stored.dump());
        if (row["reads"].is_null()) {
            // Nothing usable: a press sends nothing (the page shows the field flagged).
            EXPECT_THROW(SettingToInt(stored), json::type_error);
            EXPECT_THROW(CommandData(nudge, {{"volume_step", stored}, {"auto_unmute", "1"}}),
                         json::type_error);
            continue;
        }
        const auto reads = row["reads"].get<int32_t>();
        EXPECT_EQ(SettingToInt(stored), reads);
        EXPECT_EQ(CommandData(nudge, {{"volume_step", stored}, {"auto_unmute", "1"}})["step"], reads);
        EXPECT_EQ(CommandData(level, {{"volume_value", stored}, {"auto_unmute", "1"}})["value"],
                  static_cast<uint32_t>(reads));
    }
}

TEST(StoredSettingsTest, DecimalsReadAsThePagesShowThemSoTheHoldTimeShownIsUsed) {
    LogCapture log;
    const json& decimal = Table()["decimal"];
    ASSERT_EQ(decimal["settings"], json({"hold_seconds"}));
    for (const json& row : decimal["cases"]) {
        const json& stored = row["stored"];
        SCOPED_TRACE(stored.dump());
        const std::optional<double> reads =
            row["reads"].is_null() ? std::nullopt : std::optional<double>(row["reads"].get<double>());
        EXPECT_EQ(SettingToDecimal(stored), reads);
        const double used = std::clamp(reads.value_or(HoldToConfirm::kDefaultSeconds),
                                       HoldToConfirm::kShortestSeconds, HoldToConfirm::kLongestSeconds);
        EXPECT_DOUBLE_EQ(
            HoldToConfirm::Read({{"hold_to_confirm", "1"}, {"hold_seconds", stored}}, "owner", "K1").seconds,
            used);
    }
}

}  // namespace
