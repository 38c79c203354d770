#include "controller/ControllerEvent.h"

#include "controller/Messages.h"

using nlohmann::json;

namespace {

bool DecodeSupport(const json& data, ControllerEvent& out, std::string& reason, std::string& refused) {
    if (!data.is_object()) {
        reason = "support report data is not an object";
        return false;
    }
    for (auto member = data.begin(); member != data.end(); ++member) {
        if (member->is_boolean()) {
            out.support[member.key()] = member->get<bool>();
            continue;
        }
        if (!refused.empty()) refused += ", ";
        refused += member.key();
    }
    return true;
}

bool DecodeFunctionState(const json& data, ControllerEvent& out, std::string& reason) {
    if (!data.is_object()) {
        reason = "function state report data is not an object";
        return false;
    }
    auto function = data.find("function");
    auto state = data.find("state");
    if (function == data.end() || !function->is_string() || state == data.end() || !state->is_string()) {
        reason = "function state report without string \"function\" and \"state\"";
        return false;
    }
    out.function = function->get<std::string>();
    out.state = state->get<std::string>();
    return true;
}

}  // namespace

bool ControllerEvent::Decode(const std::string& name, const json& data, ControllerEvent& out,
                             std::string& reason, std::string& refused) {
    out = ControllerEvent();
    refused.clear();
    if (name == SystemMessages::kConnected) {
        out.kind = Kind::LinkUp;
    } else if (name == SystemMessages::kDisconnected) {
        out.kind = Kind::LinkDown;
    } else if (name == SystemMessages::kReportState) {
        out.kind = Kind::SignInState;
        auto signedIn = data.is_object() ? data.find("isSignedIn") : data.end();
        if (!data.is_object() || signedIn == data.end() || !signedIn->is_boolean()) {
            reason = "state report without a boolean \"isSignedIn\"";
            return false;
        }
        out.signedIn = signedIn->get<bool>();
    } else if (name == SystemMessages::kSupportFunctions) {
        out.kind = Kind::Support;
        return DecodeSupport(data, out, reason, refused);
    } else if (name == SystemMessages::kReportFunctionState) {
        out.kind = Kind::FunctionState;
        return DecodeFunctionState(data, out, reason);
    }
    return true;
}
