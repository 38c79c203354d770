#include "graphics/MemoryIStreamImpl.h"

#include <cstring>

MemoryIStreamImpl::MemoryIStreamImpl() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    m_pageSize = info.dwPageSize;
}

MemoryIStreamImpl::~MemoryIStreamImpl() {
    FreeRegion();
}

void MemoryIStreamImpl::FreeRegion() {
    if (!m_base) return;
    if (m_committedBytes > 0) VirtualFree(m_base, static_cast<SIZE_T>(m_committedBytes), MEM_DECOMMIT);
    VirtualFree(m_base, 0, MEM_RELEASE);
    m_base = nullptr;
}

HRESULT MemoryIStreamImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // IUnknown and ISequentialStream too: COM identity asks for IUnknown, and
    // both are prefixes of the IStream table.
    if (IsEqualIID(riid, IID_IStream) || IsEqualIID(riid, IID_ISequentialStream) ||
        IsEqualIID(riid, IID_IUnknown)) {
        AddRef();
        *ppv = static_cast<IStream*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG MemoryIStreamImpl::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG MemoryIStreamImpl::Release() {
    LONG count = InterlockedDecrement(&m_references);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT MemoryIStreamImpl::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (!pv) return STG_E_INVALIDPOINTER;
    if (pcbRead) *pcbRead = 0;
    ULONGLONG count = cb;
    if (m_position + count > m_size) count = m_size - m_position;
    if (count == 0) return S_FALSE;
    std::memcpy(pv, m_base + m_position, static_cast<size_t>(count));
    m_position += count;
    if (pcbRead) *pcbRead = static_cast<ULONG>(count);
    return S_OK;
}

HRESULT MemoryIStreamImpl::Write(const void* pv, ULONG cb, ULONG* pcbWritten) {
    if (!pv) return STG_E_INVALIDPOINTER;
    ULONGLONG end = m_position + cb;
    if (end > m_committedBytes) {
        ULARGE_INTEGER newSize;
        newSize.QuadPart = end;
        HRESULT result = SetSize(newSize);
        if (FAILED(result)) return result;
        // Sizes are 32-bit: a request that SetSize could not honour must not
        // write past the committed pages.
        if (end > m_committedBytes) return STG_E_MEDIUMFULL;
    }
    std::memcpy(m_base + m_position, pv, cb);
    if (pcbWritten) *pcbWritten = cb;
    m_position = end;
    if (m_position > m_size) m_size = m_position;
    return S_OK;
}

HRESULT MemoryIStreamImpl::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) {
    ULONGLONG position;
    if (origin == STREAM_SEEK_SET) {
        position = static_cast<ULONGLONG>(move.QuadPart);
        if (position > m_size) position = m_size;
    } else if (origin == STREAM_SEEK_CUR || origin == STREAM_SEEK_END) {
        ULONGLONG from = origin == STREAM_SEEK_CUR ? m_position : m_size;
        // Clamped to [0, size] without overflowing for any 64-bit move.
        if (move.QuadPart < 0) {
            ULONGLONG back = 0 - static_cast<ULONGLONG>(move.QuadPart);
            position = back > from ? 0 : from - back;
        } else {
            ULONGLONG ahead = static_cast<ULONGLONG>(move.QuadPart);
            position = ahead > m_size - from ? m_size : from + ahead;
        }
    } else {
        return STG_E_INVALIDFUNCTION;
    }
    m_position = position;
    if (newPosition) newPosition->QuadPart = position;
    return S_OK;
}

HRESULT MemoryIStreamImpl::SetSize(ULARGE_INTEGER newSize) {
    // Sizes are 32-bit: a larger request cannot be held (and must not wrap).
    if (newSize.HighPart != 0) return STG_E_MEDIUMFULL;
    ULONGLONG bytes = newSize.LowPart;
    ULONG pages = static_cast<ULONG>((bytes + m_pageSize - 1) / m_pageSize);
    if (pages == m_committedPages) return S_OK;
    if (bytes < m_committedBytes) return Shrink(pages, bytes);
    if (bytes == m_committedBytes) return S_OK;
    return pages <= m_reservedPages ? CommitWithinReservation(pages) : GrowReservation(pages);
}

HRESULT MemoryIStreamImpl::Shrink(ULONG pages, ULONGLONG newSize) {
    BYTE* first = m_base + static_cast<SIZE_T>(pages) * m_pageSize;
    SIZE_T length = static_cast<SIZE_T>(m_committedPages - pages) * m_pageSize;
    if (!VirtualFree(first, length, MEM_DECOMMIT)) return E_FAIL;
    m_committedPages = pages;
    m_committedBytes = static_cast<ULONGLONG>(pages) * m_pageSize;
    if (m_size > newSize) m_size = newSize;
    // Keeps position <= size, so a later Read cannot run past the data.
    if (m_position > m_size) m_position = m_size;
    return S_OK;
}

HRESULT MemoryIStreamImpl::CommitWithinReservation(ULONG pages) {
    SIZE_T length = static_cast<SIZE_T>(pages) * m_pageSize;
    if (!VirtualAlloc(m_base, length, MEM_COMMIT, PAGE_READWRITE)) return STG_E_MEDIUMFULL;
    m_committedPages = pages;
    m_committedBytes = length;
    return S_OK;
}

HRESULT MemoryIStreamImpl::GrowReservation(ULONG pages) {
    ULONGLONG commitBytes = static_cast<ULONGLONG>(pages) * m_pageSize;
    // One granule further than the committed size (a whole granule more when
    // the committed size already ends on one).
    ULONGLONG reserveBytes = (commitBytes / m_reserveGranularity + 1) * m_reserveGranularity;
    if (reserveBytes > static_cast<SIZE_T>(-1)) return STG_E_MEDIUMFULL;
    BYTE* region = static_cast<BYTE*>(
        VirtualAlloc(nullptr, static_cast<SIZE_T>(reserveBytes), MEM_RESERVE, PAGE_NOACCESS));
    if (!region) return STG_E_MEDIUMFULL;
    if (!VirtualAlloc(region, static_cast<SIZE_T>(commitBytes), MEM_COMMIT, PAGE_READWRITE)) {
        VirtualFree(region, 0, MEM_RELEASE);
        return STG_E_MEDIUMFULL;
    }
    if (m_base && m_size > 0) std::memcpy(region, m_base, static_cast<size_t>(m_size));
    FreeRegion();
    m_base = region;
    m_reservedPages = static_cast<ULONG>(reserveBytes / m_pageSize);
    m_committedPages = pages;
    m_committedBytes = commitBytes;
    return S_OK;
}

HRESULT MemoryIStreamImpl::Stat(STATSTG* statstg, DWORD flag) {
    if (!statstg) return STG_E_INVALIDPOINTER;
    std::memset(statstg, 0, sizeof *statstg);
    statstg->type = STGTY_STREAM;
    statstg->cbSize.QuadPart = m_size;
    FILETIME now;
    CoFileTimeNow(&now);
    statstg->mtime = statstg->ctime = statstg->atime = now;
    statstg->grfMode = STGM_SIMPLE;
    statstg->clsid = IID_IStream;
    return S_OK;
}

HRESULT MemoryIStreamImpl::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) {
    return E_NOTIMPL;
}
HRESULT MemoryIStreamImpl::Commit(DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryIStreamImpl::Revert() {
    return E_NOTIMPL;
}
HRESULT MemoryIStreamImpl::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryIStreamImpl::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}
HRESULT MemoryIStreamImpl::Clone(IStream**) {
    return E_NOTIMPL;
}
