#pragma once
// What the deck tests share: a context for every action of the catalogue and
// a key found by its action, so that the tests place every action the table
// lists and keep working when a row is added or moved.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/ActionCatalogue.h"

// The context of the key that holds the catalogue's |index|-th action.
inline std::string KeyContext(size_t index) {
    return "CTX" + std::to_string(index);
}

// One context per action of the catalogue, in its order.
inline std::vector<std::string> ContextPerAction() {
    std::vector<std::string> contexts;
    for (size_t i = 0; i < ActionCatalogue().size(); ++i) contexts.push_back(KeyContext(i));
    return contexts;
}

// The key of the action |shortName| on a deck laid out in catalogue order.
inline size_t KeyOf(const std::string& shortName) {
    const std::vector<ActionDescription>& table = ActionCatalogue();
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].shortName == shortName) return i;
    }
    ADD_FAILURE() << shortName << " is not in the catalogue";
    return table.size();
}
