#include "lifetime/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "diagnostics/Platform.h"

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndOfCentralDirectorySignature = 0x06054b50;
constexpr uint16_t kVersionNeeded = 20;  // 2.0: deflate
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagMaximumCompression = 0x0002;
constexpr uint16_t kFlagUtf8Name = 0x0800;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kChunk = 32768;
// A final, empty block with fixed codes: ends a deflate stream at a sync point.
constexpr unsigned char kFinalEmptyBlock[] = {0x03, 0x00};

// Little-endian fields, as the ZIP format stores every number.
class Fields {
public:
    Fields& U16(uint16_t value) {
        m_bytes.push_back(static_cast<char>(value & 0xff));
        m_bytes.push_back(static_cast<char>(value >> 8));
        return *this;
    }
    Fields& U32(uint32_t value) {
        return U16(static_cast<uint16_t>(value & 0xffff)).U16(static_cast<uint16_t>(value >> 16));
    }
    Fields& Text(const std::string& text) {
        m_bytes += text;
        return *this;
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

uint16_t NameFlags(const std::string& name) {
    bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return static_cast<uint16_t>(kFlagMaximumCompression | (ascii ? 0 : kFlagUtf8Name));
}

// The local header; CRC, sizes, date and time are zero until the entry closes.
std::string LocalHeader(const std::string& name, uint32_t crc, uint32_t compressedSize, uint32_t size,
                        uint16_t dosTime, uint16_t dosDate) {
    return Fields()
        .U32(kLocalHeaderSignature)
        .U16(kVersionNeeded)
        .U16(NameFlags(name))
        .U16(kMethodDeflate)
        .U16(dosTime)
        .U16(dosDate)
        .U32(crc)
        .U32(compressedSize)
        .U32(size)
        .U16(static_cast<uint16_t>(name.size()))
        .U16(0)
        .Text(name)
        .Bytes();
}

}  // namespace

void ToDosDateTime(const std::tm& local, uint16_t& dosDate, uint16_t& dosTime) {
    int year = std::clamp(local.tm_year + 1900, 1980, 2107);
    dosDate = static_cast<uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    dosTime = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

struct ZipWriter::Deflater {
    z_stream stream{};
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    // The entry as far as it is safely in the archive: its stream up to the
    // last sync point, where a failed write makes it end.
    uLong keptCrc = crc;
    uint64_t keptSize = 0;
    uint64_t keptCompressedSize = 0;
    bool broken = false;  // a write failed; nothing more goes into the entry
};

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    if (m_file) Close();
}

bool ZipWriter::Open(const std::filesystem::path& path) {
    if (m_file) return false;
    m_file = CreateNewFile(path);
    // Unbuffered: a failed write fails at once, leaving nothing pending that
    // could fail later inside another entry. Data goes out in large pieces anyway.
    if (m_file) std::setvbuf(m_file, nullptr, _IONBF, 0);
    m_position = 0;
    m_end = 0;
    m_failed = false;
    m_lost = false;
    m_entries.clear();
    return m_file != nullptr;
}

bool ZipWriter::WriteRaw(const void* data, size_t size) {
    if (!m_file || m_failed || m_lost) return false;
    if (m_position + size > std::numeric_limits<uint32_t>::max() ||
        std::fwrite(data, 1, size, m_file) != size) {
        m_end = std::max(m_end, m_position + size);  // part of it may be in the file
        m_failed = true;
        return false;
    }
    m_position += size;
    m_end = std::max(m_end, m_position);
    return true;
}

// Goes back to |position| after a failed write, so that writing can go on.
bool ZipWriter::SeekTo(uint64_t position) {
    if (m_lost) return false;
    std::clearerr(m_file);
    if (std::fseek(m_file, static_cast<long>(position), SEEK_SET) != 0) {
        m_lost = true;
        return false;
    }
    m_failed = false;
    m_position = position;
    return true;
}

bool ZipWriter::BeginEntry(const std::string& name) {
    if (!m_file || name.empty() || name.size() > 0xffff) return false;
    if (m_deflater && !EndEntry()) return false;
    auto deflater = std::make_unique<Deflater>();
    // Negative window bits: raw deflate, without the zlib wrapper that ZIP does not use.
    if (deflateInit2(&deflater->stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    Entry entry;
    entry.name = name;
    entry.offset = static_cast<uint32_t>(m_position);
    m_deflater = std::move(deflater);
    m_entries.push_back(entry);
    std::string header = LocalHeader(name, 0, 0, 0, 0, 0);
    if (WriteRaw(header.data(), header.size())) return true;
    // Not even the header fits: the entry is left out, the archive goes on.
    deflateEnd(&m_deflater->stream);
    m_deflater.reset();
    m_entries.pop_back();
    SeekTo(entry.offset);
    return false;
}

bool ZipWriter::Deflate(const void* data, size_t size, int flush) {
    z_stream& stream = m_deflater->stream;
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    stream.avail_in = static_cast<uInt>(size);
    unsigned char out[kChunk];
    int result = Z_OK;
    do {
        stream.next_out = out;
        stream.avail_out = sizeof out;
        result = deflate(&stream, flush);
        if (result == Z_STREAM_ERROR) return false;
        size_t produced = sizeof out - stream.avail_out;
        if (produced > 0 && !WriteRaw(out, produced)) return false;
        m_deflater->compressedSize += produced;
    } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    return true;
}

bool ZipWriter::Write(const void* data, size_t size) {
    if (!m_deflater || m_deflater->broken) return false;
    if (size == 0) return true;
    Deflater& deflater = *m_deflater;
    const char* bytes = static_cast<const char*>(data);
    // zlib counts input in 32-bit units: feed it in chunks.
    while (size > 0) {
        size_t part = std::min(size, kChunk);
        deflater.crc = crc32(deflater.crc, reinterpret_cast<const Bytef*>(bytes), static_cast<uInt>(part));
        deflater.size += part;
        if (deflater.size > std::numeric_limits<uint32_t>::max() || !Deflate(bytes, part, Z_NO_FLUSH)) {
            deflater.broken = true;
            return false;
        }
        bytes += part;
        size -= part;
    }
    // A sync point after every write: the stream can end here if a later write fails.
    if (!Deflate(nullptr, 0, Z_SYNC_FLUSH)) {
        deflater.broken = true;
        return false;
    }
    deflater.keptCrc = deflater.crc;
    deflater.keptSize = deflater.size;
    deflater.keptCompressedSize = deflater.compressedSize;
    return true;
}

bool ZipWriter::EndEntry() {
    if (!m_deflater) return false;
    Deflater& deflater = *m_deflater;
    Entry& entry = m_entries.back();
    bool finished = !deflater.broken && Deflate(nullptr, 0, Z_FINISH);
    if (!finished) finished = EndAtKeptPoint(entry);
    if (!deflater.broken) {
        entry.crc = static_cast<uint32_t>(deflater.crc);
        entry.size = static_cast<uint32_t>(deflater.size);
        entry.compressedSize = static_cast<uint32_t>(deflater.compressedSize);
    }
    deflateEnd(&deflater.stream);
    m_deflater.reset();
    std::tm local = LocalTimeNow();
    ToDosDateTime(local, entry.dosDate, entry.dosTime);
    return finished && PatchLocalHeader(entry);
}

bool ZipWriter::EndAtKeptPoint(Entry& entry) {
    Deflater& deflater = *m_deflater;
    deflater.broken = true;
    entry.crc = static_cast<uint32_t>(deflater.keptCrc);
    entry.size = static_cast<uint32_t>(deflater.keptSize);
    entry.compressedSize = static_cast<uint32_t>(deflater.keptCompressedSize + sizeof kFinalEmptyBlock);
    uint64_t kept = entry.offset + kLocalHeaderSize + entry.name.size() + deflater.keptCompressedSize;
    if (SeekTo(kept) && WriteRaw(kFinalEmptyBlock, sizeof kFinalEmptyBlock)) return true;
    m_lost = true;
    return false;
}

bool ZipWriter::PatchLocalHeader(const Entry& entry) {
    if (!m_file || m_failed || m_lost) return false;
    std::string header =
        LocalHeader(entry.name, entry.crc, entry.compressedSize, entry.size, entry.dosTime, entry.dosDate);
    bool patched = std::fseek(m_file, static_cast<long>(entry.offset), SEEK_SET) == 0 &&
                   std::fwrite(header.data(), 1, kLocalHeaderSize, m_file) == kLocalHeaderSize;
    bool back = std::fseek(m_file, static_cast<long>(m_position), SEEK_SET) == 0;
    if (!patched || !back) m_lost = true;
    return !m_lost;
}

bool ZipWriter::AddEntry(const std::string& name, const std::string& content) {
    return BeginEntry(name) && Write(content.data(), content.size()) && EndEntry();
}

bool ZipWriter::Close() {
    if (!m_file) return false;
    if (m_deflater) EndEntry();
    uint64_t directoryOffset = m_position;
    for (const Entry& entry : m_entries) {
        std::string header = Fields()
                                 .U32(kCentralHeaderSignature)
                                 .U16(kVersionNeeded)
                                 .U16(kVersionNeeded)
                                 .U16(NameFlags(entry.name))
                                 .U16(kMethodDeflate)
                                 .U16(entry.dosTime)
                                 .U16(entry.dosDate)
                                 .U32(entry.crc)
                                 .U32(entry.compressedSize)
                                 .U32(entry.size)
                                 .U16(static_cast<uint16_t>(entry.name.size()))
                                 .U16(0)  // extra field
                                 .U16(0)  // comment
                                 .U16(0)  // disk number
                                 .U16(0)  // internal attributes
                                 .U32(0)  // external attributes
                                 .U32(entry.offset)
                                 .Text(entry.name)
                                 .Bytes();
        WriteRaw(header.data(), header.size());
    }
    uint64_t directorySize = m_position - directoryOffset;
    uint16_t count = static_cast<uint16_t>(std::min<size_t>(m_entries.size(), 0xffff));
    std::string end = Fields()
                          .U32(kEndOfCentralDirectorySignature)
                          .U16(0)
                          .U16(0)
                          .U16(count)
                          .U16(count)
                          .U32(static_cast<uint32_t>(directorySize))
                          .U32(static_cast<uint32_t>(directoryOffset))
                          .U16(0)
                          .Bytes();
    WriteRaw(end.data(), end.size());
    // An entry that ended early may have left bytes beyond the directory.
    if (!m_failed && m_end > m_position && !TruncateFile(m_file, m_position)) m_lost = true;
    bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return closed && !m_failed && !m_lost && m_entries.size() <= 0xffff;
}
