#include "elements/LinkStatus.h"

#include <utility>

#include "controller/ControllerEvent.h"
#include "elements/StateImageFactory.h"

namespace {

constexpr int32_t kSupportedBit = 4;
constexpr int32_t kSignedInBit = 2;
constexpr int32_t kConnectedBit = 1;
constexpr int32_t kWorkingBits = kSupportedBit | kSignedInBit | kConnectedBit;

}  // namespace

LinkStatus::LinkStatus(std::string name) : m_name(std::move(name)) {}

void LinkStatus::Follow(const ControllerEvent& meaning) {
    switch (meaning.kind) {
        case ControllerEvent::Kind::LinkUp:
            m_connected = true;
            break;
        case ControllerEvent::Kind::LinkDown:
            m_connected = m_signedIn = m_supported = false;
            break;
        case ControllerEvent::Kind::SignInState:
            m_signedIn = meaning.signedIn;
            if (!meaning.signedIn) m_supported = false;
            break;
        case ControllerEvent::Kind::Support: {
            auto found = meaning.support.find(m_name);
            if (found != meaning.support.end()) m_supported = found->second;
            break;
        }
        default:
            break;
    }
}

std::string LinkStatus::StateName() const {
    // In a sandbox the link may be down only because the socket is hidden.
    if (!m_connected) return m_sandboxGrantCommand.empty() ? "offline" : "sandboxed";
    if (!m_signedIn) return "login";
    if (!m_supported) return "unsupported";
    return "online";
}

std::shared_ptr<Graphics> LinkStatus::StartDrawing(const StateImageFactory& overlays) {
    m_drawingBits = Bits();
    m_drawnWorking = m_drawingBits == kWorkingBits;
    if (!m_connected) return overlays.m_offlineImage;
    if (!m_signedIn) return overlays.m_loggedOutImage;
    if (!m_supported) return overlays.m_notSupportedImage;
    return nullptr;
}

int32_t LinkStatus::Bits() const {
    return (m_supported ? kSupportedBit : 0) | (m_signedIn ? kSignedInBit : 0) |
           (m_connected ? kConnectedBit : 0);
}
