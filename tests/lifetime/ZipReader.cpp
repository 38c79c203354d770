#include "lifetime/ZipReader.h"

#include <zlib.h>

#include <fstream>
#include <sstream>

namespace {

uint32_t U16(const std::string& bytes, size_t at) {
    return static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
}
uint32_t U32(const std::string& bytes, size_t at) {
    return U16(bytes, at) | U16(bytes, at + 2) << 16;
}

std::optional<std::string> Inflate(const std::string& compressed, size_t expectedSize) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return std::nullopt;
    std::string out(expectedSize + 1, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&stream, Z_FINISH);
    size_t produced = out.size() - stream.avail_out;
    bool consumedAll = stream.avail_in == 0;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || !consumedAll) return std::nullopt;
    out.resize(produced);
    return out;
}

}  // namespace

ZipContents ReadZip(const std::filesystem::path& path) {
    ZipContents contents;
    std::ifstream file(path, std::ios::binary);
    std::stringstream buffer;
    buffer << file.rdbuf();
    const std::string bytes = buffer.str();
    if (bytes.size() < 22 || U32(bytes, bytes.size() - 22) != 0x06054b50) {
        contents.error = "no end of central directory record";
        return contents;
    }
    size_t end = bytes.size() - 22;
    uint32_t count = U16(bytes, end + 10);
    size_t at = U32(bytes, end + 16);
    if (U32(bytes, end + 12) + at != end) contents.error = "central directory size or offset wrong";
    for (uint32_t i = 0; i < count && contents.error.empty(); ++i) {
        if (at + 46 > end || U32(bytes, at) != 0x02014b50) {
            contents.error = "bad central header " + std::to_string(i);
            break;
        }
        ZipEntry entry;
        entry.flags = static_cast<uint16_t>(U16(bytes, at + 8));
        entry.method = static_cast<uint16_t>(U16(bytes, at + 10));
        entry.dosTime = static_cast<uint16_t>(U16(bytes, at + 12));
        entry.dosDate = static_cast<uint16_t>(U16(bytes, at + 14));
        uint32_t crc = U32(bytes, at + 16), compressedSize = U32(bytes, at + 20), size = U32(bytes, at + 24);
        size_t nameLength = U16(bytes, at + 28);
        size_t skip = nameLength + U16(bytes, at + 30) + U16(bytes, at + 32);
        size_t local = U32(bytes, at + 42);
        entry.name = bytes.substr(at + 46, nameLength);
        at += 46 + skip;
        if (local + 30 > bytes.size() || U32(bytes, local) != 0x04034b50 || U32(bytes, local + 14) != crc ||
            U32(bytes, local + 18) != compressedSize || U32(bytes, local + 22) != size ||
            bytes.compare(local + 30, U16(bytes, local + 26), entry.name) != 0) {
            contents.error = "local header disagrees for " + entry.name;
            break;
        }
        size_t data = local + 30 + U16(bytes, local + 26) + U16(bytes, local + 28);
        auto inflated = data + compressedSize <= bytes.size()
                            ? Inflate(bytes.substr(data, compressedSize), size)
                            : std::nullopt;
        if (!inflated || inflated->size() != size) {
            contents.error = "bad deflate data for " + entry.name;
            break;
        }
        uLong actual = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(inflated->data()),
                             static_cast<uInt>(inflated->size()));
        if (actual != crc) {
            contents.error = "CRC mismatch for " + entry.name;
            break;
        }
        entry.content = *inflated;
        contents.entries.push_back(entry);
    }
    return contents;
}
