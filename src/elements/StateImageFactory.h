#pragma once
// The six status overlay images that every control element shares: loaded
// once per process from the plug-in folder and read-only afterwards (elements
// compose them onto copies of their own images). A file that does not load
// leaves an image-less Graphics, which composes to nothing.
//
// Threads: AcquireStateImageFactory may be called from any thread; the
// process-wide instance is created once under a global mutex (it stands alone,
// no other lock is taken inside it). After construction the images are only
// read; a DecodedOnce may be taken on any thread (Graphics guards its holds).

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Graphics.h"

class StateImageFactory {
public:
    // Maps an overlay's file name to the path it is loaded from.
    using PathResolver = std::function<std::filesystem::path(const std::string& fileName)>;

    // Loads the six files from the executable's directory.
    StateImageFactory();
    // Loads them through `resolve` instead (another folder).
    explicit StateImageFactory(const PathResolver& resolve);
    virtual ~StateImageFactory();

    // While it lives, each of the six overlays is decoded at most once,
    // however many keys are composed with it, and its pixels go with it: for
    // one round of redraws, such as a status change drawn on every key.
    class DecodedOnce {
    public:
        explicit DecodedOnce(std::shared_ptr<StateImageFactory> factory);
        ~DecodedOnce();
        DecodedOnce(const DecodedOnce&) = delete;
        DecodedOnce& operator=(const DecodedOnce&) = delete;

    private:
        std::shared_ptr<StateImageFactory> m_factory;
    };

    std::shared_ptr<Graphics> m_errorImage;         // loaded, drawn by no element
    std::shared_ptr<Graphics> m_alertImage;         // transient: a command was not accepted
    std::shared_ptr<Graphics> m_successImage;       // transient: a pump command was accepted
    std::shared_ptr<Graphics> m_offlineImage;       // status: the controller link is down
    std::shared_ptr<Graphics> m_loggedOutImage;     // status: nobody is signed in
    std::shared_ptr<Graphics> m_notSupportedImage;  // status: the key's function is not supported

private:
    std::vector<std::shared_ptr<Graphics>> Images() const;
};

// The class that is instantiated; it adds nothing.
class StateImageFactoryImpl : public StateImageFactory {
public:
    using StateImageFactory::StateImageFactory;
};

// The process-wide instance, created by the first caller; every later caller
// shares it.
std::shared_ptr<StateImageFactory> AcquireStateImageFactory();
