// The parts of an element on their own, where they take the time from the
// caller: the key painter's kept composites and transient mark, and the
// settings pages' memory of the values a dial set.

#include <gtest/gtest.h>

#include "elements/ElementTestRig.h"
#include "elements/KeyPainter.h"
#include "elements/SettingsPages.h"
#include "elements/StateImageFactory.h"

namespace {

std::optional<RgbaImage> Pixels(const std::shared_ptr<Graphics>& image) {
    std::string text;
    if (!image || !image->ToBase64Png(text)) return std::nullopt;
    return DecodeBase64Png(text);
}

// Whether this image back-end can hold a composite as its encoding, which is
// what lets the painter keep one.
bool BackEndKeepsComposites() {
    Graphics probe(ResolveModulePath(std::string("alerts_skip.png")));
    probe.Compose(Graphics(ResolveModulePath(std::string("state_offline.png"))));
    return probe.HoldEncoded();
}

class KeyPainterTest : public ::testing::Test {
protected:
    std::shared_ptr<StateImageFactory> m_overlays = AcquireStateImageFactory();
    KeyPainter m_painter{m_overlays};
};

TEST_F(KeyPainterTest, CompositesAreKeptPerStatusOverlayAndNeverOutliveTheirBaseImage) {
    const bool keeps = BackEndKeepsComposites();
    m_painter.SetBaseImageFromFile("alerts_skip.png");
    m_painter.SetStatusOverlay(m_overlays->m_offlineImage);
    const auto offline = m_painter.ComposeBaseImage();
    m_painter.SetStatusOverlay(m_overlays->m_loggedOutImage);
    const auto loggedOut = m_painter.ComposeBaseImage();
    EXPECT_TRUE(SameImage(Pixels(loggedOut), Composed({"alerts_skip.png", "state_logged_out.png"})));

    // The link comes back: the composite of that status is the one kept for it.
    m_painter.SetStatusOverlay(m_overlays->m_offlineImage);
    EXPECT_EQ(m_painter.ComposeBaseImage() == offline, keeps);
    m_painter.SetStatusOverlay(m_overlays->m_loggedOutImage);
    EXPECT_EQ(m_painter.ComposeBaseImage() == loggedOut, keeps);

    // A transient mark is composed afresh and kept nowhere.
    const auto now = KeyPainter::Clock::now();
    m_painter.SetTransientOverlay(m_overlays->m_alertImage, now);
    const auto marked = m_painter.ComposeBaseImage();
    EXPECT_NE(marked, loggedOut);
    EXPECT_TRUE(
        SameImage(Pixels(marked), Composed({"alerts_skip.png", "state_logged_out.png", "state_alert.png"})));
    ASSERT_TRUE(m_painter.ExpireTransientOverlay(now + std::chrono::seconds(2)));
    EXPECT_EQ(m_painter.ComposeBaseImage() == loggedOut, keeps);

    // Another base image under the same status: a new composite, which then
    // replaces the old one, and the first base image is composed again.
    m_painter.SetBaseImageFromFile("cup_empty.png");
    EXPECT_TRUE(
        SameImage(Pixels(m_painter.ComposeBaseImage()), Composed({"cup_empty.png", "state_logged_out.png"})));
    m_painter.SetBaseImageFromFile("alerts_skip.png");
    EXPECT_TRUE(SameImage(Pixels(m_painter.ComposeBaseImage()),
                          Composed({"alerts_skip.png", "state_logged_out.png"})));
}

TEST_F(KeyPainterTest, AKeysOwnImageTakesTheOverlaysOnACopyUntilTheMarkHasShownOneAndAHalfSeconds) {
    m_painter.SetBaseImageFromFile("alerts_skip.png");
    EXPECT_EQ(m_painter.ComposeKeyImage("K1"), nullptr) << "a key without a record shows the base image";
    m_painter.AppearKey("K1");
    EXPECT_EQ(m_painter.ComposeKeyImage("K1"), nullptr) << "a key that appeared shows the base image";
    m_painter.SetKeyImage("K1", std::make_shared<Graphics>(ResolveModulePath(std::string("cup_empty.png"))));

    const auto since = KeyPainter::Clock::now();
    m_painter.SetStatusOverlay(m_overlays->m_offlineImage);
    m_painter.SetTransientOverlay(m_overlays->m_successImage, since);
    const RgbaImage both = Composed({"cup_empty.png", "state_offline.png", "state_success.png"});
    EXPECT_TRUE(SameImage(Pixels(m_painter.ComposeKeyImage("K1")), both));
    EXPECT_TRUE(SameImage(Pixels(m_painter.ComposeKeyImage("K1")), both)) << "overlays do not pile up";

    EXPECT_FALSE(m_painter.ExpireTransientOverlay(since + std::chrono::milliseconds(1500)));
    EXPECT_TRUE(m_painter.HasTransientOverlay());
    EXPECT_TRUE(m_painter.ExpireTransientOverlay(since + std::chrono::milliseconds(1501)));
    EXPECT_FALSE(m_painter.HasTransientOverlay());
    EXPECT_FALSE(m_painter.ExpireTransientOverlay(since + std::chrono::seconds(3)));
    EXPECT_TRUE(
        SameImage(Pixels(m_painter.ComposeKeyImage("K1")), Composed({"cup_empty.png", "state_offline.png"})));
    m_painter.SetStatusOverlay(nullptr);
    EXPECT_TRUE(SameImage(Pixels(m_painter.ComposeKeyImage("K1")), Composed({"cup_empty.png"})));

    m_painter.ForgetKey("K1");
    EXPECT_EQ(m_painter.ComposeKeyImage("K1"), nullptr);
    EXPECT_EQ(m_painter.RecordCount(), 0u);
}

TEST(SettingsPagesTest, ADialValueOverridesASaveForOneSecondAndOnlyTheLatestAreKept) {
    SettingsPages pages("com.vantora.kestrel.test-key");
    const auto t0 = SettingsPages::Clock::now();
    pages.Open("D1");
    pages.ToldDialValue("D1", "volume_value", 60, t0);
    const json stored = {{"volume_value", 72}, {"dial_step", 1}};
    const json save = {{"settings", {{"volume_value", 60}, {"dial_step", 3}}}};
    auto kept = [&](const json& payload, SettingsPages::Clock::time_point now) {
        return pages.ChangesOf("D1", payload, stored, now)["settings"];
    };
    // The page's own change stays; the level it held when the dial moved on does not.
    EXPECT_EQ(kept(save, t0 + std::chrono::milliseconds(900)), json({{"dial_step", 3}}));
    EXPECT_EQ(kept(save, t0 + std::chrono::milliseconds(1001)), save["settings"]) << "a second later";
    const json other = {{"settings", {{"volume_value", 40}}}};
    EXPECT_EQ(kept(other, t0), other["settings"]) << "a level the streamer typed";
    EXPECT_EQ(pages.ChangesOf("D1", save, {{"volume_value", 60}}, t0), save)
        << "the stored level is the dial's";

    // A flood of dial values keeps the 32 latest.
    for (int i = 0; i < 40; ++i) pages.ToldDialValue("D1", "k" + std::to_string(i), i, t0);
    EXPECT_EQ(kept({{"settings", {{"k7", 7}}}}, t0), json({{"k7", 7}}));
    EXPECT_EQ(kept({{"settings", {{"k8", 8}}}}, t0), json::object());

    pages.Close("D1");
    EXPECT_FALSE(pages.IsOpen("D1"));
    EXPECT_EQ(kept({{"settings", {{"k39", 39}}}}, t0), json({{"k39", 39}})) << "a closed page forgets";
}

}  // namespace
