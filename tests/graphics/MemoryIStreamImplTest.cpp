// The in-memory COM stream that GDI+ encodes into (Windows only).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

#include "graphics/MemoryIStreamImpl.h"

namespace {

struct Releaser {
    void operator()(MemoryIStreamImpl* stream) const { stream->Release(); }
};
using StreamPtr = std::unique_ptr<MemoryIStreamImpl, Releaser>;

StreamPtr NewStream() {
    auto* stream = new MemoryIStreamImpl;
    stream->AddRef();
    return StreamPtr(stream);
}

ULONGLONG SeekTo(IStream* stream, LONGLONG move, DWORD origin, HRESULT expected = S_OK) {
    LARGE_INTEGER distance;
    distance.QuadPart = move;
    ULARGE_INTEGER position;
    position.QuadPart = 12345;
    EXPECT_EQ(stream->Seek(distance, origin, &position), expected);
    return position.QuadPart;
}

std::vector<BYTE> Pattern(size_t size) {
    std::vector<BYTE> data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<BYTE>(i * 7 + i / 251);
    return data;
}

TEST(MemoryIStreamImplTest, ReadsWhatWasWrittenAndSignalsTheEnd) {
    auto stream = NewStream();
    BYTE buffer[16] = {};
    ULONG count = 99;
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &count), S_FALSE) << "empty stream";
    EXPECT_EQ(count, 0u);

    ULONG written = 0;
    ASSERT_EQ(stream->Write("0123456789", 10, &written), S_OK);
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(stream->Read(buffer, 4, &count), S_FALSE) << "the position is at the end after writing";
    EXPECT_EQ(count, 0u);

    SeekTo(stream.get(), 6, STREAM_SEEK_SET);
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &count), S_OK);
    EXPECT_EQ(count, 4u) << "cut to the data that is left";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "6789");
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &count), S_FALSE);
    EXPECT_EQ(count, 0u);
}

TEST(MemoryIStreamImplTest, RejectsNullBuffers) {
    auto stream = NewStream();
    ULONG count = 0;
    EXPECT_EQ(stream->Write(nullptr, 4, &count), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Read(nullptr, 4, &count), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Size(), 0u);
}

TEST(MemoryIStreamImplTest, SeekClampsEveryOriginToTheData) {
    auto stream = NewStream();
    ASSERT_EQ(stream->Write("0123456789", 10, nullptr), S_OK);
    EXPECT_EQ(SeekTo(stream.get(), 3, STREAM_SEEK_SET), 3u);
    EXPECT_EQ(SeekTo(stream.get(), 50, STREAM_SEEK_SET), 10u);
    EXPECT_EQ(SeekTo(stream.get(), -1, STREAM_SEEK_SET), 10u) << "a negative move is a huge unsigned one";
    SeekTo(stream.get(), 4, STREAM_SEEK_SET);
    EXPECT_EQ(SeekTo(stream.get(), 2, STREAM_SEEK_CUR), 6u);
    EXPECT_EQ(SeekTo(stream.get(), -100, STREAM_SEEK_CUR), 0u);
    EXPECT_EQ(SeekTo(stream.get(), 100, STREAM_SEEK_CUR), 10u);
    EXPECT_EQ(SeekTo(stream.get(), 10, STREAM_SEEK_END), 10u);
    EXPECT_EQ(SeekTo(stream.get(), -4, STREAM_SEEK_END), 6u);
    EXPECT_EQ(SeekTo(stream.get(), INT64_MIN, STREAM_SEEK_END), 0u);
    EXPECT_EQ(SeekTo(stream.get(), INT64_MAX, STREAM_SEEK_CUR), 10u);

    SeekTo(stream.get(), 5, STREAM_SEEK_SET);
    EXPECT_EQ(SeekTo(stream.get(), 1, 3, STG_E_INVALIDFUNCTION), 12345u) << "no position written";
    EXPECT_EQ(SeekTo(stream.get(), 0, STREAM_SEEK_CUR), 5u) << "the position is unchanged";
}

TEST(MemoryIStreamImplTest, StatReportsTheBytesWrittenNotTheCommittedSize) {
    auto stream = NewStream();
    ASSERT_EQ(stream->Write("0123456789", 10, nullptr), S_OK);
    STATSTG stat;
    std::memset(&stat, 0xAB, sizeof stat);
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 10u);
    EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
    EXPECT_EQ(stat.grfMode, static_cast<DWORD>(STGM_SIMPLE));
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_TRUE(IsEqualCLSID(stat.clsid, IID_IStream));
    EXPECT_NE(stat.mtime.dwHighDateTime, 0u);
}

TEST(MemoryIStreamImplTest, GrowingAcrossTheReservationKeepsTheData) {
    auto stream = NewStream();
    std::vector<BYTE> data = Pattern(5 * 4096 + 123);
    for (size_t at = 0; at < data.size(); at += 1000) {
        ULONG chunk = static_cast<ULONG>(std::min<size_t>(1000, data.size() - at));
        ASSERT_EQ(stream->Write(&data[at], chunk, nullptr), S_OK) << at;
    }
    ASSERT_EQ(stream->Size(), data.size());
    EXPECT_EQ(std::vector<BYTE>(stream->Data(), stream->Data() + data.size()), data);

    // One large write that jumps well past the reservation, then a read-back.
    std::vector<BYTE> more = Pattern(40000);
    ASSERT_EQ(stream->Write(more.data(), static_cast<ULONG>(more.size()), nullptr), S_OK);
    SeekTo(stream.get(), 0, STREAM_SEEK_SET);
    std::vector<BYTE> back(data.size() + more.size());
    ULONG count = 0;
    ASSERT_EQ(stream->Read(back.data(), static_cast<ULONG>(back.size()), &count), S_OK);
    ASSERT_EQ(count, back.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
    EXPECT_TRUE(std::equal(more.begin(), more.end(), back.begin() + data.size()));
}

TEST(MemoryIStreamImplTest, ShrinkingKeepsThePositionWithinTheData) {
    auto stream = NewStream();
    std::vector<BYTE> data = Pattern(3 * 4096);
    ASSERT_EQ(stream->Write(data.data(), static_cast<ULONG>(data.size()), nullptr), S_OK);
    ULARGE_INTEGER size;
    size.QuadPart = 100;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    EXPECT_EQ(stream->Size(), 100u);
    BYTE buffer[64];
    ULONG count = 7;
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &count), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(SeekTo(stream.get(), 0, STREAM_SEEK_CUR), 100u);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 100, stream->Data()));

    size.QuadPart = 1ull << 32;
    EXPECT_EQ(stream->SetSize(size), STG_E_MEDIUMFULL) << "sizes beyond 32 bits cannot be held";
    EXPECT_EQ(stream->Size(), 100u);
}

TEST(MemoryIStreamImplTest, AnswersIStreamAndItsBaseInterfacesOnly) {
    auto stream = NewStream();
    for (const IID* iid : {&IID_IStream, &IID_ISequentialStream, &IID_IUnknown}) {
        void* answer = nullptr;
        ASSERT_EQ(stream->QueryInterface(*iid, &answer), S_OK);
        EXPECT_EQ(answer, static_cast<IStream*>(stream.get()));
        EXPECT_EQ(stream->Release(), 1u) << "QueryInterface took one reference";
    }
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(stream->QueryInterface(IID_IPersist, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
}

}  // namespace
