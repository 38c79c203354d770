#pragma once
// Writes a ZIP archive entry by entry: every entry is compressed with raw
// deflate at level 9 (zlib), carries the CRC-32 of its data and the local
// time at which it was closed. Sizes and CRC are patched into the local
// header when the entry closes, so no data descriptors are needed and any
// unzip tool reads the result. No ZIP64: an entry or archive beyond 4 GiB
// fails. A failed write (disk full, size limit) ends the entry early, at the
// last sync point of its stream (one after every Write), so the archive keeps
// every entry and the start of the one that failed.
//
// Threads: one writer belongs to one thread at a time.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();  // closes the archive when Close was not called
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates |path| as a new, empty archive for the current user alone; fails
    // when anything of that name exists, a link included.
    bool Open(const std::filesystem::path& path);
    // Starts the entry |name| (UTF-8, "/" between folders); ends an open entry first.
    bool BeginEntry(const std::string& name);
    // Appends to the open entry. False on a write failure; the entry then takes
    // no more data and EndEntry closes it with what earlier writes gave it.
    bool Write(const void* data, size_t size);
    // Closes the entry; false when the archive could not be put right.
    bool EndEntry();
    // Ends an open entry and writes the central directory.
    bool Close();

    // A whole entry at once.
    bool AddEntry(const std::string& name, const std::string& content);

private:
    struct Entry {
        std::string name;
        uint32_t offset = 0;
        uint32_t crc = 0;
        uint32_t compressedSize = 0;
        uint32_t size = 0;
        uint16_t dosTime = 0;
        uint16_t dosDate = 0;
    };
    struct Deflater;

    bool Deflate(const void* data, size_t size, int flush);
    bool WriteRaw(const void* data, size_t size);
    bool SeekTo(uint64_t position);
    bool EndAtKeptPoint(Entry& entry);
    bool PatchLocalHeader(const Entry& entry);

    std::FILE* m_file = nullptr;
    std::unique_ptr<Deflater> m_deflater;  // set while an entry is open
    std::vector<Entry> m_entries;
    uint64_t m_position = 0;
    uint64_t m_end = 0;     // the furthest byte written: beyond m_position after an early end
    bool m_failed = false;  // the last write failed: nothing more until SeekTo
    bool m_lost = false;    // the archive cannot be put right
};

// MS-DOS date and time fields of a local time (years before 1980 become 1980).
void ToDosDateTime(const std::tm& local, uint16_t& dosDate, uint16_t& dosTime);
