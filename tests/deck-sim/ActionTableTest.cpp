#include <gtest/gtest.h>

#include "DeckTestSupport.h"
#include "deck-sim/ActionTable.h"

TEST(ActionTableTest, BuiltInTableListsTheCatalogueInOrderWithoutInspectors) {
    ActionTable table;
    ASSERT_EQ(table.Entries().size(), ActionCatalogue().size());
    for (size_t i = 0; i < table.Entries().size(); ++i) {
        const ActionEntry& entry = table.Entries()[i];
        EXPECT_EQ(entry.uuid, ActionCatalogue()[i].Id());
        EXPECT_FALSE(entry.name.empty()) << entry.uuid;
        EXPECT_TRUE(entry.propertyInspectorPath.empty()) << entry.uuid;
        EXPECT_EQ(entry.encoder, WorksOnDial(ActionCatalogue()[i])) << entry.uuid;
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
    ASSERT_EQ(entries.size(), ActionCatalogue().size());  // the stranger is not added
    const ActionEntry& volume = entries[KeyOf("media-request-set-volume-level")];
    EXPECT_EQ(volume.name, "Set Media Volume");
    EXPECT_EQ(volume.propertyInspectorPath, "pi/volume-level.html");
    EXPECT_EQ(volume.StateImage(), "images/keys/level");
    const ActionEntry& emberfall = entries[KeyOf("emberfall")];
    EXPECT_EQ(emberfall.name, "Embers");
    EXPECT_EQ(emberfall.propertyInspectorPath, "pi/shared.html");  // the plug-in-wide page
    const ActionEntry& reload = entries[KeyOf("overlays-reload")];
    EXPECT_EQ(reload.uuid, "com.vantora.kestrel.overlays-reload");
    EXPECT_TRUE(reload.propertyInspectorPath.empty());  // not listed: built-in entry kept
    for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].uuid, ActionCatalogue()[i].Id());
}

TEST(ActionTableTest, TextThatIsNoManifestChangesNothing) {
    ActionTable table;
    std::string before = table.Entries()[3].name;
    EXPECT_FALSE(table.ApplyManifest("{\"Actions\": 3}"));
    EXPECT_FALSE(table.ApplyManifest("not json"));
    EXPECT_FALSE(table.LoadManifest("/nonexistent-folder"));
    EXPECT_EQ(table.Entries()[3].name, before);
}
