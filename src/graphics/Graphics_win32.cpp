// windows.h first, then the COM types that GDI+ builds on.
#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <vector>

#include "diagnostics/Platform.h"
#include "graphics/Base64.h"
#include "graphics/Graphics.h"
#include "graphics/GraphicsSession.h"
#include "graphics/MemoryIStreamImpl.h"

using namespace Gdiplus::DllExports;
using Gdiplus::GpImage;
using Gdiplus::GpStatus;

// The GDI+ back-end, through the flat interface. The wrapper keeps the status
// of the last failed GDI+ call on the image.
struct Graphics::Image {
    GpImage* handle;
    GpStatus lastStatus;
};

namespace {

// The CLSID of the first encoder whose MIME type equals `mimeType` exactly.
bool FindEncoderClsid(const std::wstring& mimeType, CLSID& clsid) {
    UINT count = 0;
    UINT bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) return false;
    std::vector<BYTE> buffer(bytes);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    if (GdipGetImageEncoders(count, bytes, encoders) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (encoders[i].MimeType && mimeType == encoders[i].MimeType) {
            clsid = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

UINT ImageWidth(GpImage* image) {
    UINT width = 0;
    GdipGetImageWidth(image, &width);
    return width;
}

UINT ImageHeight(GpImage* image) {
    UINT height = 0;
    GdipGetImageHeight(image, &height);
    return height;
}

// Encodes |image| with the encoder of |mimeType| into |stream|; a failure's
// status is kept in |lastStatus|.
bool SaveToStream(GpImage* image, GpStatus& lastStatus, IStream* stream, const wchar_t* mimeType) {
    CLSID encoder;
    if (!FindEncoderClsid(mimeType, encoder)) return false;
    GpStatus status = GdipSaveImageToStream(image, stream, &encoder, nullptr);
    if (status == Gdiplus::Ok) return true;
    lastStatus = status;
    return false;
}

}  // namespace

Graphics::Graphics(const std::filesystem::path& path, Keep) {
    GpImage* handle = nullptr;
    GpStatus status = GdipLoadImageFromFile(path.c_str(), &handle);
    if (status == Gdiplus::Ok && handle) {
        m_image = new Image{handle, Gdiplus::Ok};
        return;
    }
    if (handle) GdipDisposeImage(handle);
    LogLoadFailure(path);
}

Graphics::Graphics(const Graphics& other) {
    if (!other.m_image) return;
    GpImage* clone = nullptr;
    if (GdipCloneImage(other.m_image->handle, &clone) == Gdiplus::Ok && clone)
        m_image = new Image{clone, Gdiplus::Ok};
}

Graphics::~Graphics() {
    if (!m_image) return;
    // After GdiplusShutdown the library cannot take the image back; the
    // process is ending and reclaims it.
    if (GraphicsSession::IsRunning()) GdipDisposeImage(m_image->handle);
    delete m_image;
}

unsigned Graphics::Width() const {
    return m_image ? ImageWidth(m_image->handle) : 0;
}

unsigned Graphics::Height() const {
    return m_image ? ImageHeight(m_image->handle) : 0;
}

void Graphics::Compose(const Graphics& overlay) {
    if (!m_image) return;
    Gdiplus::GpGraphics* context = nullptr;
    GdipGetImageGraphicsContext(m_image->handle, &context);
    UINT height = ImageHeight(m_image->handle);
    UINT width = ImageWidth(m_image->handle);
    if (context && overlay.m_image) {
        GdipDrawImageRectI(context, overlay.m_image->handle, 0, 0, static_cast<INT>(width),
                           static_cast<INT>(height));
    }
    if (context) {
        GdipFlush(context, Gdiplus::FlushIntentionFlush);
        GdipDeleteGraphics(context);
    }
}

void Graphics::FillRect(double left, double top, double width, double height, uint32_t argb) {
    if (!m_image) return;
    Gdiplus::GpGraphics* context = nullptr;
    if (GdipGetImageGraphicsContext(m_image->handle, &context) != Gdiplus::Ok || !context) return;
    Gdiplus::GpSolidFill* brush = nullptr;
    if (GdipCreateSolidFill(static_cast<Gdiplus::ARGB>(argb), &brush) == Gdiplus::Ok && brush) {
        const auto imageWidth = static_cast<Gdiplus::REAL>(ImageWidth(m_image->handle));
        const auto imageHeight = static_cast<Gdiplus::REAL>(ImageHeight(m_image->handle));
        GdipFillRectangle(context, brush, static_cast<Gdiplus::REAL>(left) * imageWidth,
                          static_cast<Gdiplus::REAL>(top) * imageHeight,
                          static_cast<Gdiplus::REAL>(width) * imageWidth,
                          static_cast<Gdiplus::REAL>(height) * imageHeight);
        GdipDeleteBrush(brush);
    }
    GdipFlush(context, Gdiplus::FlushIntentionFlush);
    GdipDeleteGraphics(context);
}

// GDI+ holds every image as pixels: there is no decoding to keep.
void Graphics::HoldDecodedPixels() const {}

void Graphics::ReleaseDecodedPixels() const {}

// GDI+ encodes from its bitmap each time; holding the encoding instead would
// mean decoding it for every use.
bool Graphics::HoldEncoded() {
    return false;
}

bool Graphics::ToBase64Png(std::string& output) const {
    const std::wstring mimeType = L"image/png";
    if (!m_image) return false;
    // This function holds the one reference of its own for the stream's whole
    // life and frees it itself, so references that GDI+ takes and drops never
    // bring the count to zero.
    auto* stream = new MemoryIStreamImpl;
    stream->AddRef();
    bool saved = SaveToStream(m_image->handle, m_image->lastStatus, stream, mimeType.c_str());
    if (saved) output = EncodeBase64(stream->Data(), static_cast<size_t>(stream->Size()));
    delete stream;
    return saved;
}
