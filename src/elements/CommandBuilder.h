#pragma once
// The callables that the action catalogue hands to the button kinds.

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

class ElementAddress;
class MessageBase;

// Makes the command of one key press: (source address, the key's settings) to
// a new CommandMessage. May raise a JSON error while reading the settings.
using CommandBuilder = std::function<std::shared_ptr<MessageBase>(
    const std::shared_ptr<ElementAddress>& source, const nlohmann::json& settings)>;

// Maps a key's settings to the image file (relative to the executable's
// directory) that the key shows.
using ImageChooser = std::function<std::string(const nlohmann::json& settings)>;
