#include "archive/AbDfBase.h"

#include <algorithm>
#include <cstring>

#include "archive/AbExcept.h"
#include "runtime/CodePages.h"

namespace kivo {

// ---------------------------------------------------------------------------
// TAbDeflateHelper

namespace {
// Encoder tuning values below 4 (other than -1, "no limit") make no sense.
int32_t SaneTuning(int32_t Value) {
    return (Value != -1 && Value < 4) ? 4 : Value;
}
} // namespace

void TAbDeflateHelper::SetAmpleLength(int32_t Value) {
    if (Value == FAmpleLength) return;
    FAmpleLength = SaneTuning(Value);
    FZipOption = u'?';
}

void TAbDeflateHelper::SetChainLength(int32_t Value) {
    if (Value == FChainLength) return;
    FChainLength = SaneTuning(Value);
    FZipOption = u'?';
}

void TAbDeflateHelper::SetMaxLazyLength(int32_t Value) {
    if (Value == FMaxLazy) return;
    FMaxLazy = SaneTuning(Value);
    FZipOption = u'?';
}

void TAbDeflateHelper::SetOptions(int32_t Value) {
    if (Value == FOptions) return;
    FOptions = Value;
    FZipOption = u'?';
}

void TAbDeflateHelper::SetWindowSize(int32_t Value) {
    // Round up to a multiple of 1024 (in 64 bits, so that no value overflows).
    int64_t V = Value;
    int64_t Rounded = V >= 0 ? (V + 1023) / 1024 * 1024 : -((-V) / 1024 * 1024);
    if (Rounded > 31744 && Rounded != 32768) Rounded = (FOptions & OptionDeflate64) ? 65536 : 32768;
    FWindowSize = static_cast<int32_t>(Rounded);
}

void TAbDeflateHelper::SetPKZipOption(char16_t Value) {
    if (Value >= u'A' && Value <= u'Z') Value = static_cast<char16_t>(Value - u'A' + u'a');
    if (Value == FZipOption) return;
    int32_t Opts = FOptions;
    int32_t Ample, Chain, Lazy;
    switch (Value) {
    case u'0':
        Opts = (Opts & ~0xF) | 0x1;
        Ample = 8;
        Chain = 32;
        Lazy = 16;
        break;
    case u'2':
        Opts |= 0xF;
        Ample = 8;
        Chain = 32;
        Lazy = 16;
        break;
    case u'f':
        Opts |= 0x7;
        Ample = 4;
        Chain = 32;
        Lazy = 6;
        break;
    case u'n':
        Opts |= 0xF;
        Ample = 16;
        Chain = 32;
        Lazy = 24;
        break;
    case u's':
        Opts |= 0x7;
        Ample = 4;
        Chain = 4;
        Lazy = 4;
        break;
    case u'x':
        Opts |= 0xF;
        Ample = 64;
        Chain = 4096;
        Lazy = 258;
        break;
    default: return; // unknown letters are ignored
    }
    FOptions = Opts;
    FAmpleLength = Ample;
    FChainLength = Chain;
    FMaxLazy = Lazy;
    FZipOption = Value;
}

void TAbDeflateHelper::Assign(const TAbDeflateHelper& aHelper) {
    FAmpleLength = aHelper.FAmpleLength;
    FChainLength = aHelper.FChainLength;
    FLogFile = aHelper.FLogFile;
    FMaxLazy = aHelper.FMaxLazy;
    OnProgressStep = aHelper.OnProgressStep;
    FOptions = aHelper.FOptions;
    FPartSize = aHelper.FPartSize;
    FSizeCompressed = aHelper.FSizeCompressed;
    FSizeNormal = aHelper.FSizeNormal;
    FStreamSize = aHelper.FStreamSize;
    FWindowSize = aHelper.FWindowSize;
    FZipOption = aHelper.FZipOption;
}

// ---------------------------------------------------------------------------
// Errors

EAbInflateError::EAbInflateError(const std::string& aMsg)
    : Exception(
          "Morvanta inflate error, possibly a corrupted compressed stream. (Internal cause: " +
          aMsg + ")") {}

void AbInflateFail(const char* aCause) {
    throw EAbInternalInflateError(aCause);
}

// ---------------------------------------------------------------------------
// TAbLogger

TAbLogger::TAbLogger(const std::string& aLogName) {
    KIVO_ASSERT(!aLogName.empty(), "TAbLogger.Create: a filename must be provided for the logger");
    FStream = std::make_unique<TBufferedFileStream>(aLogName, fmCreate);
}

TAbLogger::~TAbLogger() {
    try {
        FlushBuffer();
    } catch (...) {
        // A destructor must not throw; the log is best effort.
    }
}

void TAbLogger::FlushBuffer() {
    if (FBufPos > 0) {
        int32_t N = FBufPos;
        FBufPos = 0;
        FStream->WriteBuffer(FBuffer, N);
    }
}

int64_t TAbLogger::Read(void*, int64_t) {
    KIVO_ASSERT(false, "TAbLogger.Read: loggers are write-only, no reading allowed");
    return 0;
}

int64_t TAbLogger::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const uint8_t* P = static_cast<const uint8_t*>(Buffer);
    int64_t Left = Count;
    while (Left > 0) {
        if (FBufPos == BufferSize) FlushBuffer();
        int32_t N = static_cast<int32_t>(std::min<int64_t>(Left, BufferSize - FBufPos));
        std::memcpy(FBuffer + FBufPos, P, static_cast<size_t>(N));
        FBufPos += N;
        P += N;
        Left -= N;
    }
    return Count;
}

int64_t TAbLogger::Seek(int64_t Offset, TSeekOrigin Origin) {
    KIVO_ASSERT(Offset == 0 && (Origin == soCurrent || Origin == soEnd),
                "TAbLogger.Seek: loggers are write-only, no seeking allowed");
    return FStream->Seek(0, Origin) + FBufPos;
}

void TAbLogger::WriteStr(const std::string& S) {
    std::string Ansi = Utf8ToAnsi(S);
    Write(Ansi.data(), static_cast<int64_t>(Ansi.size()));
}

void TAbLogger::WriteLine(const std::string& S) {
    WriteStr(S);
    if (FLineDelimiter == ldCRLF)
        Write("\r\n", 2);
    else
        Write("\n", 1);
}

// ---------------------------------------------------------------------------
// TAbBitBucketStream

TAbBitBucketStream::TAbBitBucketStream(int32_t aBufSize) {
    int64_t Size = (aBufSize == 4096 || aBufSize == 8192 || aBufSize == 32768) ? aBufSize : 32768;
    FBufSize = Size + 1024;
    // Not cleared: only bytes written can be read or sought back to, and
    // testing makes one bucket per item.
    FBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(FBufSize));
}

int64_t TAbBitBucketStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const uint8_t* P = static_cast<const uint8_t*>(Buffer);
    // Only the last ring's worth survives: the leading surplus passes through
    // the ring without being looked at again.
    int64_t Skip = Count > FBufSize ? Count - FBufSize : 0;
    FTail = (FTail + Skip) % FBufSize;
    P += Skip;
    int64_t Left = Count - Skip;
    while (Left > 0) {
        int64_t N = std::min(Left, FBufSize - FTail);
        std::memcpy(FBuffer.get() + FTail, P, static_cast<size_t>(N));
        FTail = (FTail + N) % FBufSize;
        P += N;
        Left -= N;
    }
    FSize += Count;
    FPosn = FSize;
    FBufPosn = FTail;
    return Count;
}

int64_t TAbBitBucketStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    if (Count > FBufSize || Count > FSize - FPosn) throw EAbBBSReadTooManyBytes(Count);
    uint8_t* P = static_cast<uint8_t*>(Buffer);
    int64_t Left = Count;
    while (Left > 0) {
        int64_t N = std::min(Left, FBufSize - FBufPosn);
        std::memcpy(P, FBuffer.get() + FBufPosn, static_cast<size_t>(N));
        FBufPosn = (FBufPosn + N) % FBufSize;
        P += N;
        Left -= N;
    }
    FPosn += Count;
    return Count;
}

int64_t TAbBitBucketStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t Target;
    switch (Origin) {
    case soBeginning: Target = Offset; break;
    case soCurrent: Target = FPosn + Offset; break;
    case soEnd:
        if (Offset == 0) {
            FPosn = FSize;
            FBufPosn = FTail;
            return FPosn;
        }
        Target = FSize + Offset;
        break;
    default: throw EAbBBSInvalidOrigin();
    }
    // Only the bytes still in the ring can be reached; a negative target never.
    if (Target > FSize || Target <= FSize - FBufSize || Target < 0) throw EAbBBSSeekOutsideBuffer();
    FPosn = Target;
    FBufPosn = ((FTail - (FSize - Target)) % FBufSize + FBufSize) % FBufSize;
    return FPosn;
}

} // namespace kivo
