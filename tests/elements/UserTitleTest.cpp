// A title the streamer gives a key in the host, as "titleParametersDidChange"
// brings it through the manager: the key is drawn without the face's label
// while the title shows, with it again once the title is emptied or hidden;
// the plug-in's own titles do not count, and bad payloads change nothing.

#include <gtest/gtest.h>

#include <initializer_list>

#include "elements/CatalogueElements.h"
#include "elements/ControlElementsManager.h"
#include "elements/ElementTestRig.h"
#include "elements/KeyPainter.h"
#include "elements/KeyTexts.h"
#include "elements/SimpleSingleStateButton.h"
#include "support/LogCapture.h"

namespace {

constexpr const char* kSkip = "com.vantora.kestrel.alerts-skip";

json TitlePayload(const std::string& title, bool shown) {
    return {{"settings", json::object()},
            {"coordinates", {{"column", 0}, {"row", 0}}},
            {"state", 0},
            {"title", title},
            {"titleParameters",
             {{"fontFamily", ""},
              {"fontSize", 12},
              {"showTitle", shown},
              {"titleAlignment", "bottom"},
              {"titleColor", "#ffffff"}}}};
}

// |files| drawn one over the other with the first one's label cleared, as a
// key with a title of the streamer's own shows them.
RgbaImage WithoutLabel(std::initializer_list<const char*> files) {
    auto it = files.begin();
    Graphics image(ResolveModulePath(std::string(*it)));
    KeyPainter::ClearLabel(image);
    for (++it; it != files.end(); ++it) image.Compose(Graphics(ResolveModulePath(std::string(*it))));
    std::string text;
    EXPECT_TRUE(image.ToBase64Png(text));
    return DecodeBase64Png(text).value_or(RgbaImage());
}

class UserTitleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_key = std::make_shared<SimpleSingleStateButton>(kSkip, m_rig.client, "alerts_skip.png",
                                                          MakeCommand("alerts-skip"), json::object());
        m_manager->AddControlElement(m_key);
        {
            std::lock_guard<std::recursive_mutex> lock(m_manager->GetMutex());
            m_key->AddSdContext(&m_host.connection, "K1", {{"settings", json::object()}});
        }
        // The timer thread draws the reported status: only a plain image drawn
        // after the report shows that the key has settled.
        m_host.Clear();
        Report(true);
        ASSERT_TRUE(m_host.WaitForImage("K1", m_plain));
    }
    void TearDown() override {
        m_rig.client->Stop();
        m_manager.reset();
        KeyTexts::SetLanguage("en");
    }
    void Report(bool connected) {
        m_manager->SignalEventMessage(
            Event(connected ? SystemMessages::kConnected : SystemMessages::kDisconnected));
        m_manager->SignalEventMessage(SignedIn(true));
        m_manager->SignalEventMessage(Supported(kSkip, true));
    }
    void Title(const json& payload, const std::string& context = "K1") {
        m_manager->SignalTitleParameters(kSkip, context, payload);
    }

    const RgbaImage m_plain = Composed({"alerts_skip.png"});
    const RgbaImage m_titled = WithoutLabel({"alerts_skip.png"});
    FakeHost m_host;
    ControllerRig m_rig;
    std::unique_ptr<ControlElementsManager> m_manager = std::make_unique<ControlElementsManager>();
    std::shared_ptr<ControlElementBase> m_key;
};

TEST_F(UserTitleTest, TheStreamersTitleTakesTheLabelsPlaceUntilItIsEmptiedOrHidden) {
    ASSERT_FALSE(SameImage(m_plain, m_titled));
    Title(TitlePayload("Go live", true));
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), m_titled));

    // A status overlay lies over the cleared label as over the rest of the key.
    Report(false);
    EXPECT_TRUE(m_host.WaitForImage("K1", WithoutLabel({"alerts_skip.png", "state_offline.png"})));
    m_host.Clear();
    Report(true);
    EXPECT_TRUE(m_host.WaitForImage("K1", m_titled));

    // Hidden in the host, the title no longer covers the label; emptied neither.
    Title(TitlePayload("Go live", false));
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), m_plain));
    Title(TitlePayload("Me", true));
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), m_titled));
    Title(TitlePayload("", true));
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), m_plain));

    // The host reports the plug-in's own titles too (the hint, in the host's
    // language): they leave the label as it is.
    KeyTexts::SetLanguage("de");
    m_host.Clear();
    Title(TitlePayload(KeyTexts::Get(KeyTexts::Text::HoldHint), true));
    for (const json& image : m_host.Sent("setImage", "K1"))
        EXPECT_TRUE(SameImage(DecodeSetImage(image), m_plain));

    // The event's settings are the key's settings, as with "didReceiveSettings".
    json withSettings = TitlePayload("", true);
    withSettings["settings"] = {{"hold_to_confirm", true}};
    Title(withSettings);
    const auto stored = m_host.Sent("setSettings", "K1");
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(stored.back()["payload"]["hold_to_confirm"], true);
}

TEST_F(UserTitleTest, BadTitlePayloadsCostOneLineEachAndChangeNothing) {
    Title(TitlePayload("Go live", true));
    ASSERT_TRUE(SameImage(m_host.LastImage("K1"), m_titled));
    LogCapture log;
    m_host.Clear();
    const size_t records = m_key->RecordCount();
    json hiddenAsText = TitlePayload("", true);
    hiddenAsText["titleParameters"]["showTitle"] = "no";
    hiddenAsText.erase("settings");  // the settings' own path is not at stake here
    const std::vector<json> bad = {json::array(),
                                   json("Go"),
                                   {{"title", 5}},
                                   {{"title", nullptr}},
                                   {{"titleParameters", {{"showTitle", false}}}},
                                   hiddenAsText};
    for (const json& payload : bad) Title(payload);
    Title(TitlePayload("", true), "K9");  // not on screen
    EXPECT_EQ(log.LinesContaining("ControlElementBase::HandleTitleParameters").size(), bad.size() + 1);
    EXPECT_TRUE(m_host.Sent("setImage").empty());
    EXPECT_TRUE(m_host.Sent("setSettings").empty());
    EXPECT_EQ(m_key->RecordCount(), records);

    // The streamer's title still counts: emptying it brings the label back.
    Title(TitlePayload("", true));
    EXPECT_TRUE(SameImage(m_host.LastImage("K1"), m_plain));
}

}  // namespace
