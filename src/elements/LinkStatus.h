#pragma once
// What one element knows of the controller: whether the link is up, whether
// the user is signed in, and whether the controller supports the element's
// action, as its reports say. From these follow whether a key may act, the
// state name its settings page shows, and the status overlay its image
// carries while it cannot act. The overlay is drawn at a timer tick, so the
// status also remembers the one the keys were last drawn with.
//
// Threads: none of its own; the owning element calls it with the control
// elements manager's lock held.

#include <cstdint>
#include <memory>
#include <string>

class Graphics;
class StateImageFactory;
class ControllerEvent;

class LinkStatus {
public:
    // |name|: the action identifier under which support is reported.
    explicit LinkStatus(std::string name);

    // Records a link, sign-in or support report; other events change nothing.
    void Follow(const ControllerEvent& meaning);
    // Signed in and supported.
    bool Active() const { return m_signedIn && m_supported; }
    bool Supported() const { return m_supported; }
    // "offline", "login", "unsupported" or "online"; "sandboxed" instead of
    // "offline" inside a sandbox that may hide the controller's socket.
    std::string StateName() const;
    // Inside a sandbox: the command that opens it to the controller's socket.
    void SetSandboxGrantCommand(const std::string& grantCommand) { m_sandboxGrantCommand = grantCommand; }
    const std::string& SandboxGrantCommand() const { return m_sandboxGrantCommand; }

    // Whether the status changed since the keys were last drawn with it.
    bool Undrawn() const { return Bits() != m_drawnBits; }
    // Keys are drawn with the status as it is now from here on: its overlay
    // (null while the element works). Drawn() once they all are.
    std::shared_ptr<Graphics> StartDrawing(const StateImageFactory& overlays);
    void Drawn() { m_drawnBits = m_drawingBits; }
    // The next tick draws every key with its status again.
    void ForgetDrawn() { m_drawnBits = -1; }
    // Whether the keys are drawn as working (connected, signed in, supported).
    bool DrawnWorking() const { return m_drawnWorking; }

private:
    int32_t Bits() const;

    std::string m_name;
    bool m_connected = false;
    bool m_signedIn = false;
    bool m_supported = false;
    std::string m_sandboxGrantCommand;  // empty outside a sandbox
    int32_t m_drawnBits = -1;           // -1: never drawn
    int32_t m_drawingBits = -1;
    bool m_drawnWorking = false;
};
