#pragma once
// The image work that the benchmarks time, shared by the Google Benchmark
// driver (native) and the plain timing loop (win32, where the library is not packaged).
#include <memory>
#include <string>

#include "graphics/Graphics.h"
#include "graphics/GraphicsSession.h"

class KeyImageWork {
public:
    // Loads one key image and two overlays from the executable's directory.
    KeyImageWork();

    bool Ready() const;

    // One redraw of a key: copy the base, add a status and a transient
    // overlay, encode; returns the Base64 length (0 on failure).
    size_t ComposeAndEncode() const;

    // Average Base64 length of the plug-in folder's images, each encoded as loaded.
    static double AverageBase64Size(size_t* imageCount);

private:
    GraphicsSession m_session;
    std::shared_ptr<Graphics> m_base;
    std::shared_ptr<Graphics> m_status;
    std::shared_ptr<Graphics> m_transient;
};
