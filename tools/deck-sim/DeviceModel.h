#pragma once
// The Stream Deck model that deck-sim plays: its name and type number as the
// host reports them (-info, deviceDidConnect), its key grid and its dials.
// Type numbers follow the host's device type list: 2 is the XL, 7 the +.

#include <optional>
#include <string>

class DeviceModel {
public:
    static DeviceModel XL() { return {"xl", "Stream Deck XL", 2, 8, 4, 0}; }
    // 8 keys in 2 rows of 4, 4 dials, each with a 200×100 quarter of the touch strip.
    static DeviceModel Plus() { return {"plus", "Stream Deck +", 7, 4, 2, 4}; }
    // "xl" or "plus"; nothing for another name.
    static std::optional<DeviceModel> Named(const std::string& name);

    std::string option;  // its name on the command line
    std::string name;
    int type;
    int columns;
    int rows;
    int dials;

    int Keys() const { return columns * rows; }
};
