#include "elements/StateImageFactory.h"

#include <atomic>
#include <mutex>

#include "graphics/ResolveModulePath.h"

namespace {

// The double-checked creation: g_published is set, with release order, only
// after g_factory has been written under g_factoryMutex, so a caller that sees
// it set may copy g_factory without the lock (nobody writes it again).
std::mutex g_factoryMutex;  // guards the creation of g_factory
std::shared_ptr<StateImageFactory> g_factory;
std::atomic<bool> g_published{false};

// Kept as their files (4-5 KB each instead of 83 KB of pixels): a composite
// decodes its overlay, and the elements keep their composites under a status
// overlay, so only a first redraw with a status and a transient mark pay for it.
std::shared_ptr<Graphics> Load(const StateImageFactory::PathResolver& resolve, const char* fileName) {
    return std::make_shared<Graphics>(resolve(fileName), Graphics::Keep::FileBytes);
}

}  // namespace

StateImageFactory::StateImageFactory()
    : StateImageFactory([](const std::string& fileName) { return ResolveModulePath(fileName); }) {}

StateImageFactory::StateImageFactory(const PathResolver& resolve)
    : m_errorImage(Load(resolve, "state_error.png")),
      m_alertImage(Load(resolve, "state_alert.png")),
      m_successImage(Load(resolve, "state_success.png")),
      m_offlineImage(Load(resolve, "state_offline.png")),
      m_loggedOutImage(Load(resolve, "state_logged_out.png")),
      m_notSupportedImage(Load(resolve, "state_not_supported.png")) {}

StateImageFactory::~StateImageFactory() = default;

std::vector<std::shared_ptr<Graphics>> StateImageFactory::Images() const {
    return {m_errorImage,   m_alertImage,     m_successImage,
            m_offlineImage, m_loggedOutImage, m_notSupportedImage};
}

StateImageFactory::DecodedOnce::DecodedOnce(std::shared_ptr<StateImageFactory> factory)
    : m_factory(std::move(factory)) {
    for (const auto& image : m_factory->Images())
        if (image) image->HoldDecodedPixels();
}

StateImageFactory::DecodedOnce::~DecodedOnce() {
    for (const auto& image : m_factory->Images())
        if (image) image->ReleaseDecodedPixels();
}

std::shared_ptr<StateImageFactory> AcquireStateImageFactory() {
    if (!g_published.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(g_factoryMutex);
        if (!g_factory) {
            g_factory = std::make_shared<StateImageFactoryImpl>();
            g_published.store(true, std::memory_order_release);
        }
    }
    return g_factory;
}
