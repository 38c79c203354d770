// The wire text of controller messages and how received documents are judged.

#include <gtest/gtest.h>

#include "controller/Messages.h"

using nlohmann::json;

namespace {

std::shared_ptr<ElementAddress> OwnAddress() {
    return std::make_shared<ElementAddress>(ElementAddress::kNetworkClient, "controllerClient",
                                            "controllerClient");
}

TEST(MessagesTest, StateQueryHasTheExactWireText) {
    CommandMessage query(SystemMessages::kQueryState, OwnAddress(), nullptr);
    EXPECT_EQ(
        query.Serialize(),
        R"({"payload":{"class":"command","command":{"data":null,"name":"SYS$QUERY:STATE"}},)"
        R"("source":{"class":"controller ","element":{"class":"networkClient","function":"controllerClient",)"
        R"("id":"controllerClient"}},"target":{"scope":"broadcast"},"version":1})");
}

TEST(MessagesTest, ButtonCommandSortsDataAndKeepsUtf8) {
    auto button = std::make_shared<ElementAddress>(ElementAddress::kButton, "CTX\xc3\xa9",
                                                   "com.vantora.kestrel.media-request-nudge-volume-up");
    CommandMessage press("media-request-nudge-volume-up", button, json{{"step", 10}, {"auto_unmute", true}});
    EXPECT_EQ(press.Serialize(),
              R"({"payload":{"class":"command","command":{"data":{"auto_unmute":true,"step":10},)"
              R"("name":"media-request-nudge-volume-up"}},"source":{"class":"controller ","element":)"
              R"({"class":"button","function":"com.vantora.kestrel.media-request-nudge-volume-up",)"
              "\"id\":\"CTX\xc3\xa9\"}},\"target\":{\"scope\":\"broadcast\"},\"version\":1}");
}

TEST(MessagesTest, AddressKindsNameTheirClass) {
    EXPECT_EQ(ElementAddress(0, "a", "b").ToJson()["class"], "networkClient");
    EXPECT_EQ(ElementAddress(1, "a", "b").ToJson()["class"], "button");
    EXPECT_EQ(ElementAddress(7, "a", "b").ToJson()["class"], "unknown");
    EXPECT_EQ(ElementAddress(-1, "a", "b").ToJson()["class"], "unknown");
}

TEST(MessagesTest, EventsMadeHereKeepNullData) {
    EventMessage connected(SystemMessages::kConnected, OwnAddress(), nullptr);
    EXPECT_TRUE(connected.IsValid());
    EXPECT_EQ(connected.GetName(), "networkClientConnected");
    EXPECT_TRUE(connected.GetData().is_null());
    EXPECT_TRUE(connected.Document()["payload"]["event"].contains("data"));
}

TEST(MessagesTest, ReceivedDocumentIsKeptVerbatimAndGetsNullData) {
    json received =
        json::parse(R"({"payload":{"class":"event","event":{"name":"SYS$REPORT:STATE"}},"extra":[1,2]})");
    EventMessage event(received);
    EXPECT_TRUE(event.IsValid());
    EXPECT_EQ(event.GetName(), "SYS$REPORT:STATE");
    EXPECT_TRUE(event.GetData().is_null());
    EXPECT_EQ(event.Document()["extra"], json::parse("[1,2]"));
    EXPECT_FALSE(event.Document().contains("version"));
}

TEST(MessagesTest, ValidityFollowsTheDocumentShape) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {R"({"payload":{"class":"event","event":{"name":"x","data":{"a":1}}}})", true},
        {R"({"payload":{"class":"command","event":{"name":"x"}}})", false},
        {R"({"payload":{"class":"event","event":{"data":1}}})", false},
        {R"({"payload":{"class":1,"event":{"name":"x"}}})", false},
        {R"({"payload":{"event":{"name":"x"}}})", false},
        {R"({"payload":{"class":"event"}})", false},
        {R"({"payload":{"class":"event","event":null}})", false},
        {R"({"other":1})", false},
        {"null", false},
    };
    for (const auto& c : cases) {
        EventMessage event(json::parse(c.text));
        EXPECT_EQ(event.IsValid(), c.valid) << c.text;
    }
    EventMessage fromNull(json(nullptr));
    EXPECT_EQ(fromNull.Document(), json::parse(R"({"payload":{"event":{"data":null}}})"));
}

TEST(MessagesTest, DocumentsOfTheWrongTypeFailNormalisation) {
    for (const char* text : {"[1,2]", "\"text\"", "5", R"({"payload":"x"})", R"({"payload":{"event":"x"}})",
                             R"({"payload":{"event":[1]}})"}) {
        EXPECT_THROW(EventMessage{json::parse(text)}, json::type_error) << text;
    }
}

}  // namespace
