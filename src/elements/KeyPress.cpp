#include "elements/KeyPress.h"

using json = nlohmann::json;

KeyPress KeyPress::Read(const json& payload) {
    KeyPress press;
    if (!payload.is_object()) return press;
    const auto inMultiAction = payload.find("isInMultiAction");
    if (inMultiAction != payload.end() && !inMultiAction->is_null()) {
        if (inMultiAction->is_boolean()) {
            press.inMultiAction = inMultiAction->get<bool>();
        } else {
            press.problem = "isInMultiAction is not a boolean; a plain press";
        }
    }
    // Outside a macro the member means nothing.
    const auto desired = payload.find("userDesiredState");
    if (!press.inMultiAction || desired == payload.end()) return press;
    const bool readable =
        desired->is_number_integer() && desired->get<int64_t>() >= 0 && desired->get<int64_t>() <= 1;
    if (readable) {
        press.desiredState = static_cast<int32_t>(desired->get<int64_t>());
    } else {
        press.desiredStateUnreadable = true;
        press.problem = "userDesiredState is not 0 or 1; a two-state key sends nothing for this step";
    }
    return press;
}
