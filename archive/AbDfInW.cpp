#include "archive/AbDfInW.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

namespace kivo {

TAbDfInBitStream::TAbDfInBitStream(TStream* aStream, TAbProgressStep aOnProgress,
                                   int64_t aStreamSize)
    : FStream(aStream), FStreamSize(aStreamSize) {
    KIVO_ASSERT(aStream != nullptr,
                "TAbDfInBitStream.Create: Cannot create a bit stream wrapping a nil stream");
    if (aOnProgress && aStreamSize > 0) FOnProgress = std::move(aOnProgress);
    FBuffer.reset(new uint8_t[MaxKeep + BlockSize + Pad]);
    std::memset(FBuffer.get(), 0, Pad);
    FBufPos = FBufEnd = FBuffer.get();
    // Progress is reported per block read, so a source read in place must not
    // have a callback.
    FDirect = !FOnProgress && (typeid(*aStream) == typeid(TMemoryStream) ||
                               typeid(*aStream) == typeid(TReadOnlyMemoryStream));
}

bool TAbDfInBitStream::MapDirect() {
    FDirect = false;
    const uint8_t* Memory = typeid(*FStream) == typeid(TMemoryStream)
                                ? static_cast<TMemoryStream*>(FStream)->Memory()
                                : static_cast<TReadOnlyMemoryStream*>(FStream)->Memory();
    const int64_t Pos = FStream->Position(), Size = FStream->Size();
    if (Memory == nullptr || Size - Pos <= DirectTail || Unread() != 0) return false;
    // The source stands where the buffer ends, as after a read.
    FStream->Seek(Size - DirectTail, soBeginning);
    FBufPos = Memory + Pos;
    FBufEnd = Memory + Size - DirectTail;
    FByteCount += Size - DirectTail - Pos;
    return true;
}

TAbDfInBitStream::~TAbDfInBitStream() {
    try {
        Reposition();
    } catch (...) {
        // Destructors must not throw; Inflate repositions explicitly on its normal paths.
    }
}

void TAbDfInBitStream::Reposition() {
    if (FRepositioned) return;
    FRepositioned = true;
    int64_t Back = Unread() + FBitsLeft / 8;
    FBufPos = FBufEnd;
    FBitsLeft = 0;
    FBitBuffer = 0;
    if (Back != 0) FStream->Seek(-Back, soCurrent);
}

bool TAbDfInBitStream::Refill() {
    int64_t Keep = Unread();
    KIVO_ASSERT(Keep <= MaxKeep,
                "TAbDfInBitStream.ibsFillBuffer: the buffer should be almost empty");
    if (FEndOfData || FRepositioned) return false;
    if (FDirect && MapDirect()) return true;
    uint8_t* Buf = FBuffer.get();
    std::memmove(Buf, FBufPos, static_cast<size_t>(Keep));
    int64_t Want = BlockSize - FBlockCarry;
    int64_t Got = FStream->Read(Buf + Keep, Want);
    Got = std::clamp<int64_t>(Got, 0, Want);
    FBlockCarry = static_cast<uint32_t>((FBlockCarry + Got) & 3);
    FBufPos = Buf;
    FBufEnd = Buf + Keep + Got;
    std::memset(Buf + Keep + Got, 0, Pad);
    if (Got == 0) FEndOfData = true;
    FByteCount += Got;
    if (FOnProgress)
        FOnProgress(static_cast<int32_t>(std::nearbyint(static_cast<double>(FByteCount) * 100.0 /
                                                        static_cast<double>(FStreamSize))));
    return Got > 0;
}

bool TAbDfInBitStream::EnsureSlow(uint32_t aBits) {
    KIVO_ASSERT(aBits <= MaxEnsureBits, "TAbDfInBitStream: too many bits requested");
    for (;;) {
        if (Unread() >= 8) {
            // Branch-free top-up: load eight bytes, count the whole bytes that fit.
            FBitBuffer |= AbDfLoad64(FBufPos) << FBitsLeft;
            FBufPos += (63 - FBitsLeft) >> 3;
            FBitsLeft |= 56;
            return true;
        }
        while (FBufPos < FBufEnd && FBitsLeft < aBits) {
            FBitBuffer |= static_cast<uint64_t>(*FBufPos++) << FBitsLeft;
            FBitsLeft += 8;
        }
        if (FBitsLeft >= aBits) return true;
        if (!Refill()) return false;
    }
}

bool TAbDfInBitStream::ReadBit() {
    if (!Ensure(1)) AbInflateFail(InflateCause::NoMoreDataReadBit);
    bool Bit = (FBitBuffer & 1) != 0;
    Consume(1);
    return Bit;
}

uint32_t TAbDfInBitStream::ReadBits(int32_t aCount) {
    if (aCount < 1 || aCount > 16) AbInflateFail(InflateCause::ReadBitsCount);
    if (!Ensure(static_cast<uint32_t>(aCount))) AbInflateFail(InflateCause::NoMoreDataReadBits);
    uint32_t V = static_cast<uint32_t>(FBitBuffer & ((1u << aCount) - 1));
    Consume(static_cast<uint32_t>(aCount));
    return V;
}

uint32_t TAbDfInBitStream::PeekBits(int32_t aCount) {
    KIVO_ASSERT(aCount >= 0 && aCount <= 32,
                "TAbDfInBitStream.PeekBits: count of bits must be between 1 and 32 inclusive");
    Ensure(static_cast<uint32_t>(aCount)); // past the end the missing bits read as zeros
    FPeekCount = aCount;
    return static_cast<uint32_t>(FBitBuffer & ((1ull << aCount) - 1));
}

void TAbDfInBitStream::DiscardBits(int32_t aCount) {
    if (aCount < 1 || aCount > 32) AbInflateFail(InflateCause::DiscardBitsCount);
    KIVO_ASSERT(aCount <= FPeekCount,
                "TAbDfInBitStream.DiscardBits: discarding more bits than peeked");
    FPeekCount = 0;
    if (!Ensure(static_cast<uint32_t>(aCount))) AbInflateFail(InflateCause::NoMoreDataDiscardBits);
    Consume(static_cast<uint32_t>(aCount));
}

void TAbDfInBitStream::AlignToByte() {
    Consume(FBitsLeft & 7);
}

int64_t TAbDfInBitStream::ReadAvailable(uint8_t* aBuffer, int64_t aCount) {
    int64_t Done = 0;
    while (FBitsLeft >= 8 && Done < aCount) {
        aBuffer[Done++] = static_cast<uint8_t>(FBitBuffer);
        Consume(8);
    }
    if (Done == aCount) return Done;
    // The bit buffer is empty: forget the look-ahead bits, since the bytes they
    // came from are now taken straight from the byte buffer.
    FBitBuffer = 0;
    if (FBufPos == FBufEnd && !Refill()) return Done;
    int64_t N = std::min(aCount - Done, Unread());
    std::memcpy(aBuffer + Done, FBufPos, static_cast<size_t>(N));
    FBufPos += N;
    return Done + N;
}

void TAbDfInBitStream::ReadBuffer(void* aBuffer, int64_t aCount) {
    KIVO_ASSERT(
        FBitsLeft % 8 == 0,
        "TAbDfInBitStream.ReadBuffer. cannot read a buffer unless the stream is byte-aligned");
    uint8_t* P = static_cast<uint8_t*>(aBuffer);
    while (aCount > 0) {
        int64_t N = ReadAvailable(P, aCount);
        if (N == 0) AbInflateFail(InflateCause::NoMoreDataReadBuffer);
        P += N;
        aCount -= N;
    }
}

} // namespace kivo
