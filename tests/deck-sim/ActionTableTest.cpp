#include <gtest/gtest.h>

#include "deck-sim/ActionTable.h"

TEST(ActionTableTest, BuiltInTableListsTheCatalogueInOrderWithoutInspectors) {
    ActionTable table;
    ASSERT_EQ(table.Entries().size(), 22u);
    EXPECT_EQ(table.Entries().front().uuid, "com.vantora.kestrel.overlays-reload");
    EXPECT_EQ(table.Entries()[19].uuid, "com.vantora.kestrel.media-request-set-volume-level");
    EXPECT_EQ(table.Entries().back().uuid, "com.vantora.kestrel.media-request-show-on-stream");
    for (const auto& entry : table.Entries()) {
        EXPECT_FALSE(entry.name.empty()) << entry.uuid;
        EXPECT_TRUE(entry.propertyInspectorPath.empty()) << entry.uuid;
    }
}

TEST(ActionTableTest, ManifestGivesNamesPagesAndPicturesAndKeepsTheCatalogueOrder) {
    ActionTable table;
    ASSERT_TRUE(table.ApplyManifest(R"({
        "PropertyInspectorPath": "pi/shared.html",
        "Actions": [
          {"UUID": "com.vantora.kestrel.media-request-set-volume-level", "Name": "Set Media Volume",
           "PropertyInspectorPath": "pi/volume-level.html", "States": [{"Image": "images/keys/level"}]},
          {"UUID": "com.vantora.kestrel.emberfall", "Name": "Embers"},
          {"UUID": "com.vantora.kestrel.not-ours", "Name": "Stranger"},
          "not an action"
        ]})"));
    const auto& entries = table.Entries();
    ASSERT_EQ(entries.size(), 22u);
    EXPECT_EQ(entries[19].name, "Set Media Volume");
    EXPECT_EQ(entries[19].propertyInspectorPath, "pi/volume-level.html");
    EXPECT_EQ(entries[19].StateImage(), "images/keys/level");
    EXPECT_EQ(entries[1].name, "Embers");
    EXPECT_EQ(entries[1].propertyInspectorPath, "pi/shared.html");  // the plug-in-wide page
    EXPECT_EQ(entries[0].uuid, "com.vantora.kestrel.overlays-reload");
    EXPECT_TRUE(entries[0].propertyInspectorPath.empty());  // not listed: built-in entry kept
}

TEST(ActionTableTest, TextThatIsNoManifestChangesNothing) {
    ActionTable table;
    std::string before = table.Entries()[3].name;
    EXPECT_FALSE(table.ApplyManifest("{\"Actions\": 3}"));
    EXPECT_FALSE(table.ApplyManifest("not json"));
    EXPECT_FALSE(table.LoadManifest("/nonexistent-folder"));
    EXPECT_EQ(table.Entries()[3].name, before);
}
