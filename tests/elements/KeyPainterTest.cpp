// The parts of an element on their own, where they take the time from the
// caller: the key painter's kept composites and transient mark, and the
// settings pages' memory of the values a dial set.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "PluginImageNames.h"
#include "diagnostics/ModuleDirectory.h"
#include "elements/ElementTestRig.h"
#include "elements/FaceImagePath.h"
#include "elements/HoldToConfirm.h"
#include "elements/KeyPainter.h"
#include "elements/KeyTexts.h"
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

// The pixels of the label box of |image|, row by row.
std::vector<uint8_t> LabelBox(const RgbaImage& image) {
    const auto [left, top, right, bottom] = kArtLabelBox;
    std::vector<uint8_t> box;
    for (unsigned y = top; y < bottom; ++y)
        for (unsigned x = left; x < right; ++x) {
            const RgbaImage::Pixel pixel = image.At(x, y);
            box.insert(box.end(), pixel.begin(), pixel.end());
        }
    return box;
}

TEST_F(KeyPainterTest, NoMarkNorHoldFillCoversTheLabelOfAnyFaceAndTheHintClearsItForItsTitle) {
    size_t faces = 0;
    for (const char* name : kPluginImageNames) {
        if (std::strncmp(name, "state_", 6) == 0) continue;  // the overlays themselves
        ++faces;
        SCOPED_TRACE(name);
        m_painter.SetBaseImageFromFile(name);
        const std::optional<RgbaImage> plain = Pixels(m_painter.ComposeBaseImage());
        ASSERT_TRUE(plain);
        for (const auto& mark :
             {m_overlays->m_successImage, m_overlays->m_alertImage, m_overlays->m_errorImage}) {
            m_painter.SetTransientOverlay(mark, KeyPainter::Clock::now());
            const std::optional<RgbaImage> marked = Pixels(m_painter.ComposeBaseImage());
            ASSERT_TRUE(marked);
            EXPECT_EQ(LabelBox(*marked), LabelBox(*plain));
            EXPECT_NE(marked->pixels, plain->pixels);  // the mark is drawn, beside the label
        }
        m_painter.ExpireTransientOverlay(KeyPainter::Clock::now() + std::chrono::seconds(2));
        Graphics filling(*m_painter.ComposeBaseImage());
        HoldToConfirm::DrawProgress(filling, 0.6);
        const std::optional<RgbaImage> filled = Pixels(std::make_shared<Graphics>(filling));
        ASSERT_TRUE(filled);
        EXPECT_EQ(LabelBox(*filled), LabelBox(*plain));
        EXPECT_NE(filled->pixels, plain->pixels);
        // The hint's title takes the label's place: the label makes way for it
        // under one even colour, so the two words never lie over each other.
        Graphics hinted(*m_painter.ComposeBaseImage());
        HoldToConfirm::DrawHint(hinted);
        const std::optional<RgbaImage> hint = Pixels(std::make_shared<Graphics>(hinted));
        ASSERT_TRUE(hint);
        const std::vector<uint8_t> band = LabelBox(*hint);
        for (size_t i = 4; i < band.size(); i += 4)
            ASSERT_TRUE(std::equal(band.begin(), band.begin() + 4, band.begin() + i)) << "pixel " << i / 4;
    }
    EXPECT_GT(faces, 40u);
}

// Whether |a| and |b| differ by at most |tolerance| in every channel.
bool Near(const RgbaImage::Pixel& a, const RgbaImage::Pixel& b, int tolerance) {
    for (size_t i = 0; i < a.size(); ++i)
        if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
    return true;
}

// A streamer's title takes the label's place: on every face, under a status
// overlay too, the label box turns into the key's own shading, one colour per
// row that runs on from the background just above and below it, and nothing
// outside the box changes.
TEST_F(KeyPainterTest, AStreamersTitleClearsTheLabelBoxToTheKeysShadingAndNothingElse) {
    const auto [left, top, right, bottom] = kArtLabelBox;
    const bool keeps = BackEndKeepsComposites();
    for (const char* name : kPluginImageNames) {
        if (std::strncmp(name, "state_", 6) == 0) continue;
        SCOPED_TRACE(name);
        m_painter.SetBaseImageFromFile(name);
        for (const auto& status : {std::shared_ptr<Graphics>(), m_overlays->m_offlineImage}) {
            m_painter.SetStatusOverlay(status);
            const auto labelled = m_painter.ComposeBaseImage();
            const auto titled = m_painter.ComposeBaseImage(true);
            const std::optional<RgbaImage> plain = Pixels(labelled), cleared = Pixels(titled);
            ASSERT_TRUE(plain && cleared);
            ASSERT_EQ(cleared->height, 144u);
            EXPECT_NE(LabelBox(*cleared), LabelBox(*plain)) << "the label is gone";
            if (status) {
                EXPECT_EQ(m_painter.ComposeBaseImage(true) == titled, keeps);
            }
            for (unsigned y = 0; y < cleared->height; ++y) {
                const bool inBand = y >= top && y < bottom;
                for (unsigned x = 0; x < cleared->width; ++x) {
                    const bool inside = inBand && x >= 2 && x < cleared->width - 2;
                    if (!inside) {
                        ASSERT_EQ(cleared->At(x, y), plain->At(x, y)) << x << "," << y;
                    } else {
                        ASSERT_EQ(cleared->At(x, y), cleared->At(left, y)) << x << "," << y;
                    }
                }
            }
            // The band runs on from the background beside the label box.
            EXPECT_TRUE(Near(cleared->At(left, top), plain->At(4, top - 1), 2));
            EXPECT_TRUE(Near(cleared->At(left, bottom - 1), plain->At(4, bottom), 2));
            EXPECT_EQ(cleared->At(right - 1, top).at(3), 255);
        }
    }
}

// Puts the language back to English when the test ends.
class FaceLanguageTest : public ::testing::Test {
protected:
    ~FaceLanguageTest() override { KeyTexts::SetLanguage("en"); }
};

TEST_F(FaceLanguageTest, AFaceIsTakenInTheHostsLanguageWhereOneIsDrawnElseInEnglish) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() /
        ("kestrel-faces-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(folder / "faces" / "de");
    std::ofstream(folder / "key.png") << "en";
    std::ofstream(folder / "faces" / "de" / "key.png") << "de";
    fs::create_directories(folder / "faces" / "fr" / "key.png");  // a folder, not a face
    EXPECT_EQ(FaceImagePath::ResolveIn(folder, "de", "key.png"), folder / "faces" / "de" / "key.png");
    EXPECT_EQ(FaceImagePath::ResolveIn(folder, "fr", "key.png"), folder / "key.png");
    EXPECT_EQ(FaceImagePath::ResolveIn(folder, "ja", "key.png"), folder / "key.png");
    EXPECT_EQ(FaceImagePath::ResolveIn(folder, "en", "key.png"), folder / "key.png");
    EXPECT_EQ(FaceImagePath::ResolveIn(folder, "de", "other.png"), folder / "other.png");
    fs::remove_all(folder);
}

TEST_F(FaceLanguageTest, TheKeysPainterDrawsTheFaceOfTheLanguageSetAtStartUp) {
    KeyPainter painter(AcquireStateImageFactory());
    painter.SetBaseImageFromFile("streaming_state_off.png");
    const std::optional<RgbaImage> english = Pixels(painter.ComposeBaseImage());
    KeyTexts::SetLanguage("ja");
    const std::filesystem::path japanese = GetModuleDirectory() / "faces" / "ja" / "streaming_state_off.png";
    EXPECT_EQ(FaceImagePath::Resolve("streaming_state_off.png"), japanese);
    // A face without words is drawn once, in English, for every language.
    EXPECT_EQ(FaceImagePath::Resolve("emberfall_pump2.png"), GetModuleDirectory() / "emberfall_pump2.png");
    KeyPainter localized(AcquireStateImageFactory());
    localized.SetBaseImageFromFile("streaming_state_off.png");
    const std::optional<RgbaImage> drawn = Pixels(localized.ComposeBaseImage());
    ASSERT_TRUE(english && drawn);
    EXPECT_EQ(drawn->pixels, Pixels(std::make_shared<Graphics>(japanese))->pixels);
    EXPECT_NE(drawn->pixels, english->pixels);
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
