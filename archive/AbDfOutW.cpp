#include "archive/AbDfOutW.h"

#include <algorithm>
#include <array>
#include <typeinfo>

#include "archive/AbUtils.h"

namespace kivo {

// ---------------------------------------------------------------------------
// Checksums

uint32_t AbDfAdler32Update(uint32_t aAdler, const uint8_t* aBuffer, size_t aCount) {
    constexpr uint32_t Base = 65521;
    // The largest run for which the 32-bit sums cannot overflow before the modulo.
    constexpr size_t MaxRun = 5552;
    uint32_t A = aAdler & 0xFFFF, B = aAdler >> 16;
    while (aCount > 0) {
        size_t N = std::min(aCount, MaxRun);
        aCount -= N;
        while (N-- > 0) {
            A += *aBuffer++;
            B += A;
        }
        A %= Base;
        B %= Base;
    }
    return (B << 16) | A;
}

// ---------------------------------------------------------------------------
// TAbDfOutputWindow

TAbDfOutputWindow::TAbDfOutputWindow(TStream* aStream, bool aUseDeflate64, bool aUseCRC32,
                                     int64_t aPartSize, bool aTestOnly, TAbLogger* aLog,
                                     int32_t aSlideUnit, bool aInPlace)
    : FHistory(aUseDeflate64 ? 65536 : 32768), FMaxMatch(aUseDeflate64 ? 65538 : 258),
      FSlideCount(aSlideUnit), FChecksum(aUseCRC32 ? 0xFFFFFFFFu : 1u), FUseCRC32(aUseCRC32),
      FTestOnly(aTestOnly), FPartSize(aPartSize > 0 ? aPartSize : 0), FStream(aStream), FLog(aLog) {
    KIVO_ASSERT(aTestOnly || aStream != nullptr,
                "TAbDfOutputWindow.Create: a destination stream is required");
    KIVO_ASSERT(aSlideUnit >= 32768,
                "TAbDfOutputWindow.Create: the slide unit is at least 32768 bytes");
    if (aInPlace && !aTestOnly && typeid(*aStream) == typeid(TMemoryStream)) {
        auto* Memory = static_cast<TMemoryStream*>(aStream);
        int64_t Avail = 0;
        if (Memory->AppendSpace(0, Avail) != nullptr) {
            FInPlace = Memory;
            MapInPlace();
            return;
        }
    }
    size_t Size = static_cast<size_t>(FHistory) + static_cast<size_t>(FSlideCount) +
                  static_cast<size_t>(FMaxMatch) + AbDfCopyOvershoot;
    FBuffer.reset(new uint8_t[Size]);
    FBase = FCurrent = FPending = FBuffer.get();
    FWritePoint = FBuffer.get() + FHistory + FSlideCount;
}

void TAbDfOutputWindow::MapInPlace() {
    const int64_t Margin = FMaxMatch + AbDfCopyOvershoot;
    // A short output should not make the stream allocate (and clear) a whole
    // slide unit: the room asked for grows with the output, from 32 KiB up to
    // the unit; room the stream already has is used up to the unit.
    const int64_t Wanted = std::clamp<int64_t>(FFlushed, 32768, FSlideCount);
    int64_t Avail = 0;
    // Only this window writes to the stream while it decodes, so the position
    // stays at the end and room is always given.
    uint8_t* P = FInPlace->AppendSpace(Wanted + Margin, Avail);
    KIVO_ASSERT(P != nullptr && Avail >= Wanted + Margin,
                "TAbDfOutputWindow: the destination moved while decoding in place");
    FBase = P - FFlushed;
    FCurrent = FPending = P;
    FWritePoint = P + std::min<int64_t>(Avail - Margin, FSlideCount);
}

TAbDfOutputWindow::~TAbDfOutputWindow() {
    try {
        Flush();
    } catch (...) {
        // Destructors must not throw; Inflate flushes explicitly on its normal paths.
    }
}

void TAbDfOutputWindow::Flush() {
    size_t N = static_cast<size_t>(FCurrent - FPending);
    if (N == 0) return;
    const uint8_t* P = FPending;
    FPending = FCurrent;
    FFlushed += static_cast<int64_t>(N);
    if (FUseCRC32)
        CrcUpdate(FChecksum, P, N);
    else
        FChecksum = AbDfAdler32Update(FChecksum, P, N);
    if (FTestOnly)
        FStreamPos += static_cast<int64_t>(N);
    else if (FInPlace != nullptr)
        FInPlace->CommitAppend(static_cast<int64_t>(N));
    else
        FStream->WriteBuffer(P, static_cast<int64_t>(N));
}

void TAbDfOutputWindow::Slide() {
    Flush();
    if (FInPlace != nullptr) {
        MapInPlace();
        return;
    }
    std::memmove(FBuffer.get(), FCurrent - FHistory, static_cast<size_t>(FHistory));
    FCurrent = FPending = FBuffer.get() + FHistory;
}

void TAbDfOutputWindow::CheckPartSize() {
    if (FPartSize > 0 && Produced() >= FPartSize) throw EAbPartSizedInflate();
}

void TAbDfOutputWindow::AddLiteral(uint8_t aCh) {
    *FCurrent++ = aCh;
    CheckPartSize();
    if (FCurrent >= FWritePoint) Slide();
}

void TAbDfOutputWindow::AddLenDist(int32_t aLen, int32_t aDist) {
    KIVO_ASSERT(aLen >= 1 && aLen <= FMaxMatch && aDist >= 1 && aDist <= FCurrent - FBase,
                "TAbDfOutputWindow.AddLenDist: length or distance out of range");
    AbDfCopyMatch(FCurrent, static_cast<uint32_t>(aDist), static_cast<uint32_t>(aLen));
    FCurrent += aLen;
    CheckPartSize();
    if (FCurrent >= FWritePoint) Slide();
}

void TAbDfOutputWindow::AddBuffer(const void* aBuffer, int64_t aCount) {
    const uint8_t* P = static_cast<const uint8_t*>(aBuffer);
    while (aCount > 0) {
        if (FCurrent >= FWritePoint) Slide();
        int64_t N = std::min<int64_t>(aCount, FWritePoint - FCurrent);
        std::memcpy(FCurrent, P, static_cast<size_t>(N));
        FCurrent += N;
        P += N;
        aCount -= N;
    }
}

int64_t TAbDfOutputWindow::Position() {
    int64_t Pending = FCurrent - FPending;
    return FTestOnly ? FStreamPos + Pending : FStream->Position() + Pending;
}

uint32_t TAbDfOutputWindow::Checksum() {
    Flush();
    return FUseCRC32 ? ~FChecksum : FChecksum;
}

} // namespace kivo
