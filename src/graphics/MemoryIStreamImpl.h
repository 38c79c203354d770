#pragma once
// A COM IStream over one contiguous block of virtual memory (Windows only):
// address space is reserved ahead and committed page by page as data is
// written, so GDI+ can encode a PNG into memory without a temporary file.
// Growing past the reservation reserves a larger region and copies the data.
//
// Invariants: position <= size <= committed bytes; committed pages <= reserved pages.
//
// Threads: only the reference count is interlocked; one stream is used by
// one encoding at a time.

#include <windows.h>

#include <objidl.h>

// COM interfaces have no virtual destructor: a COM object is freed by its own
// Release (or by the one owner that made it), never through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class MemoryIStreamImpl : public IStream {
public:
    MemoryIStreamImpl();
    MemoryIStreamImpl(const MemoryIStreamImpl&) = delete;
    MemoryIStreamImpl& operator=(const MemoryIStreamImpl&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISequentialStream
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;

    // IStream
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER cb, DWORD lockType) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* statstg, DWORD flag) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override;

    virtual ~MemoryIStreamImpl();

    // The data written so far, straight from the region (null before the first write).
    const BYTE* Data() const { return m_base; }
    ULONGLONG Size() const { return m_size; }

private:
    HRESULT Shrink(ULONG pages, ULONGLONG newSize);
    HRESULT CommitWithinReservation(ULONG pages);
    HRESULT GrowReservation(ULONG pages);
    void FreeRegion();

    LONG m_references = 0;
    BYTE* m_base = nullptr;
    ULONGLONG m_position = 0;
    ULONGLONG m_size = 0;
    ULONGLONG m_committedBytes = 0;
    ULONG m_pageSize = 0;
    ULONG m_reserveGranularity = 4096;
    ULONG m_committedPages = 0;
    ULONG m_reservedPages = 0;
};
#pragma GCC diagnostic pop
