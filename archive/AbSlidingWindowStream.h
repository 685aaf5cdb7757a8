// TabSlidingWindowStream: a write-once stream that keeps the most recent
// 32-40 KiB of what was written in memory, so that a decoder can read its
// recent output back, and writes older data to the destination in order,
// every byte exactly once.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "runtime/Classes.h"

namespace kivo {

class TabSlidingWindowStream : public TStream {
public:
    static constexpr int32_t ChunkSize = 8192;
    static constexpr int32_t ChunkCount = 5;
    static constexpr int32_t MaxTransfer = 32768; // per Read or Write call

    // Seeks aStream (not owned) to position 0: the data is written there
    // from its start, whatever the stream held before.
    explicit TabSlidingWindowStream(TStream* aStream);
    // Writes out what is still held; errors are swallowed here, so call
    // Flush first where they matter.
    ~TabSlidingWindowStream() override;
    TabSlidingWindowStream(const TabSlidingWindowStream&) = delete;
    TabSlidingWindowStream& operator=(const TabSlidingWindowStream&) = delete;

    // Only at the end of the data; at most MaxTransfer bytes per call.
    int64_t Write(const void* Buffer, int64_t Count) override;
    // At most MaxTransfer bytes and no further than the end of the data.
    // Positions before the first byte written read as zeros.
    int64_t Read(void* Buffer, int64_t Count) override;
    // Anywhere from the first byte still held (down to -32768 at the start)
    // to the end of the data.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return bsSize; }
    // Writes out every held byte the destination does not have yet.
    void Flush();

private:
    using TChunk = std::array<uint8_t, ChunkSize>;

    void bsSlide();
    void bsWriteChunk(int32_t Index);
    void bsSetPosition(int64_t Position);

    std::array<std::unique_ptr<TChunk>, ChunkCount> bsChunks; // the newest last
    int64_t bsBufferStart = -ChunkSize * 4;                   // logical position of chunk 0
    int32_t bsLastPos = 0;                                    // bytes used in the newest chunk
    int32_t bsCurChunk = ChunkCount - 1;
    int32_t bsPosInChunk = 0;
    int64_t bsPosInBuffer = ChunkSize * 4; // bsCurChunk * ChunkSize + bsPosInChunk
    int64_t bsSize = 0;
    // Everything before this logical position is in the destination; a
    // chunk written out early (Flush) is never written twice.
    int64_t bsWrittenTo = 0;
    bool bsDirty = false;
    TStream* bsStream;
};

} // namespace kivo
