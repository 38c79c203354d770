#include "deck-sim/DeviceModel.h"

std::optional<DeviceModel> DeviceModel::Named(const std::string& name) {
    if (name == "xl") return XL();
    if (name == "plus") return Plus();
    return std::nullopt;
}
