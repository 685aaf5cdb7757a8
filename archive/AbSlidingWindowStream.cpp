#include "archive/AbSlidingWindowStream.h"

#include <algorithm>
#include <cstring>

#include "runtime/SysUtils.h"

namespace kivo {

TabSlidingWindowStream::TabSlidingWindowStream(TStream* aStream) : bsStream(aStream) {
    for (auto& Chunk : bsChunks)
        Chunk = std::make_unique<TChunk>(TChunk{});
    bsStream->Seek(0, soBeginning);
}

TabSlidingWindowStream::~TabSlidingWindowStream() {
    try {
        Flush();
    } catch (...) {
        // A destructor cannot report; Flush before destruction does.
    }
}

int64_t TabSlidingWindowStream::Write(const void* Buffer, int64_t Count) {
    if (bsBufferStart + bsPosInBuffer != bsSize)
        throw Exception("TabSlidingWindowStream.Write: Not at end of stream");
    const int64_t Taken = std::clamp<int64_t>(Count, 0, MaxTransfer);
    const auto* From = static_cast<const uint8_t*>(Buffer);
    for (int64_t Left = Taken; Left > 0;) {
        const auto Part = static_cast<int32_t>(std::min<int64_t>(Left, ChunkSize - bsLastPos));
        std::memcpy(bsChunks[ChunkCount - 1]->data() + bsLastPos, From, static_cast<size_t>(Part));
        bsDirty = true;
        bsLastPos += Part;
        From += Part;
        Left -= Part;
        if (bsLastPos == ChunkSize) bsSlide();
    }
    bsSize += Taken;
    bsCurChunk = ChunkCount - 1;
    bsPosInChunk = bsLastPos;
    bsPosInBuffer = static_cast<int64_t>(bsCurChunk) * ChunkSize + bsPosInChunk;
    return Taken;
}

// The newest chunk is full: the oldest goes to the destination and becomes
// the new, empty newest chunk.
void TabSlidingWindowStream::bsSlide() {
    bsWriteChunk(0);
    std::rotate(bsChunks.begin(), bsChunks.begin() + 1, bsChunks.end());
    bsChunks[ChunkCount - 1]->fill(0);
    bsBufferStart += ChunkSize;
    bsLastPos = 0;
}

void TabSlidingWindowStream::bsWriteChunk(int32_t Index) {
    const int64_t Start = bsBufferStart + static_cast<int64_t>(Index) * ChunkSize;
    const int64_t End = Start + (Index == ChunkCount - 1 ? bsLastPos : ChunkSize);
    const int64_t From = std::max({Start, bsWrittenTo, int64_t{0}});
    if (From >= End) return;
    if (bsStream->Seek(From, soBeginning) != From)
        throw Exception("TabSlidingWindowStream.bsWriteChunk: seek failed");
    if (bsStream->Write(bsChunks[static_cast<size_t>(Index)]->data() + (From - Start),
                        End - From) != End - From)
        throw Exception("TabSlidingWindowStream.bsWriteChunk: write failed");
    bsWrittenTo = End;
}

int64_t TabSlidingWindowStream::Read(void* Buffer, int64_t Count) {
    const int64_t Position = bsBufferStart + bsPosInBuffer;
    const int64_t Wanted = std::min({Count, int64_t{MaxTransfer}, bsSize - Position});
    auto* To = static_cast<uint8_t*>(Buffer);
    int64_t Done = 0;
    while (Done < Wanted) {
        const auto Part = std::min<int64_t>(Wanted - Done, ChunkSize - bsPosInChunk);
        std::memcpy(To + Done, bsChunks[static_cast<size_t>(bsCurChunk)]->data() + bsPosInChunk,
                    static_cast<size_t>(Part));
        Done += Part;
        bsSetPosition(Position + Done);
    }
    return std::max<int64_t>(Done, 0);
}

int64_t TabSlidingWindowStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t Target = 0;
    switch (Origin) {
    case soBeginning: Target = Offset; break;
    case soCurrent: Target = bsBufferStart + bsPosInBuffer + Offset; break;
    case soEnd: Target = bsSize + Offset; break;
    default: throw Exception("TabSlidingWindowStream.Seek: invalid origin");
    }
    if (Target < bsBufferStart || Target > bsSize)
        throw Exception("TabSlidingWindowStream.Seek: invalid new position");
    bsSetPosition(Target);
    return Target;
}

void TabSlidingWindowStream::bsSetPosition(int64_t Position) {
    bsPosInBuffer = Position - bsBufferStart;
    bsCurChunk = static_cast<int32_t>(bsPosInBuffer / ChunkSize);
    bsPosInChunk = static_cast<int32_t>(bsPosInBuffer % ChunkSize);
}

void TabSlidingWindowStream::Flush() {
    if (!bsDirty) return;
    for (int32_t I = 0; I < ChunkCount; ++I)
        bsWriteChunk(I);
    bsDirty = false;
}

} // namespace kivo
