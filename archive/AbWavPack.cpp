#include "archive/AbWavPack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>
#include <wavpack/wavpack.h>

#include "runtime/SysUtils.h"

namespace kivo {

namespace {

constexpr uint32_t MaxFramesPerStep = 4096;
constexpr size_t OutputBufferSize = 262144;
constexpr int MaxChannels = 4096;
constexpr int LibraryErrorSize = 80;

[[noreturn]] void Fail(const std::string& Reason) {
    throw Exception("WavPack decompression failed: " + Reason);
}

// The library's view of the source stream. Positions count from where the
// source stood when decoding began. The callbacks run inside C code, so none
// throws: a stream error is kept and raised once the library has returned,
// and the library itself sees a failed read or seek.
class TWavPackSource {
public:
    explicit TWavPackSource(TStream* aSource) : FSource(aSource), FBase(aSource->Position()) {}

    static WavpackStreamReader64 Table;

    // Raises the first stream error a callback met.
    void Check() const {
        if (FError) std::rethrow_exception(FError);
    }

private:
    static TWavPackSource* Self(void* Id) { return static_cast<TWavPackSource*>(Id); }

    template <typename T, typename Fn> T Guard(T Failure, Fn&& Body) noexcept {
        try {
            return Body();
        } catch (...) {
            if (!FError) FError = std::current_exception();
            return Failure;
        }
    }

    static int32_t ReadBytes(void* Id, void* Data, int32_t Count) {
        TWavPackSource* S = Self(Id);
        if (Count <= 0) return 0;
        auto* Out = static_cast<uint8_t*>(Data);
        int32_t Done = 0;
        if (S->FPushedBack >= 0) {
            Out[Done++] = static_cast<uint8_t>(S->FPushedBack);
            S->FPushedBack = -1;
        }
        return Done + S->Guard<int32_t>(0, [&] {
            return static_cast<int32_t>(S->FSource->ReadUpTo(Out + Done, Count - Done));
        });
    }
    static int32_t WriteBytes(void*, void*, int32_t) { return 0; }
    static int64_t GetPos(void* Id) {
        TWavPackSource* S = Self(Id);
        return S->Guard<int64_t>(
            -1, [&] { return S->FSource->Position() - S->FBase - (S->FPushedBack >= 0 ? 1 : 0); });
    }
    static int SetPosAbs(void* Id, int64_t Pos) { return Self(Id)->SeekTo(Pos, soBeginning); }
    static int SetPosRel(void* Id, int64_t Delta, int Mode) {
        switch (Mode) {
        case SEEK_SET: return Self(Id)->SeekTo(Delta, soBeginning);
        case SEEK_CUR: return Self(Id)->SeekTo(Delta, soCurrent);
        case SEEK_END: return Self(Id)->SeekTo(Delta, soEnd);
        default: return -1;
        }
    }
    // One byte may be pending; a second push is refused.
    static int PushBackByte(void* Id, int C) {
        TWavPackSource* S = Self(Id);
        if (S->FPushedBack >= 0 || C < 0) return EOF;
        S->FPushedBack = C & 0xFF;
        return C;
    }
    static int64_t GetLength(void* Id) {
        TWavPackSource* S = Self(Id);
        return S->Guard<int64_t>(0, [&] { return S->FSource->Size() - S->FBase; });
    }
    static int CanSeek(void*) { return 1; }
    static int TruncateHere(void*) { return -1; }
    static int Close(void*) { return 0; }

    // 0 on success, -1 when the target lies outside the data or the stream
    // refuses.
    int SeekTo(int64_t Offset, TSeekOrigin Origin) noexcept {
        return Guard<int>(-1, [&] {
            int64_t Target = Offset;
            if (Origin == soCurrent) Target += FSource->Position() - FBase - (FPushedBack >= 0);
            if (Origin == soEnd) Target += FSource->Size() - FBase;
            FPushedBack = -1;
            if (Target < 0) return -1;
            return FSource->Seek(FBase + Target, soBeginning) == FBase + Target ? 0 : -1;
        });
    }

    TStream* FSource;
    int64_t FBase;
    int FPushedBack = -1;
    std::exception_ptr FError;
};

WavpackStreamReader64 TWavPackSource::Table = {
    &TWavPackSource::ReadBytes, &TWavPackSource::WriteBytes, &TWavPackSource::GetPos,
    &TWavPackSource::SetPosAbs, &TWavPackSource::SetPosRel,  &TWavPackSource::PushBackByte,
    &TWavPackSource::GetLength, &TWavPackSource::CanSeek,    &TWavPackSource::TruncateHere,
    &TWavPackSource::Close};

struct TWavPackCloser {
    void operator()(WavpackContext* Context) const { WavpackCloseFile(Context); }
};
using TWavPackFile = std::unique_ptr<WavpackContext, TWavPackCloser>;

TWavPackFile Open(TWavPackSource& Source) {
    char Error[LibraryErrorSize + 1] = {};
    TWavPackFile File(
        WavpackOpenFileInputEx64(&TWavPackSource::Table, &Source, nullptr, Error, OPEN_WRAPPER, 0));
    Source.Check();
    if (!File) Fail(std::string(Error, strnlen(Error, LibraryErrorSize)));
    return File;
}

// Writes the wrapper bytes the library holds (the stored RIFF header, or
// trailer pieces) and lets go of them; false when there were none.
bool WriteWrapper(WavpackContext* File, TStream* Dest) {
    const uint32_t Count = WavpackGetWrapperBytes(File);
    if (Count == 0) return false;
    const unsigned char* Data = WavpackGetWrapperData(File);
    if (Data != nullptr) Dest->WriteBuffer(Data, Count);
    WavpackFreeWrapper(File);
    return true;
}

// Stores Count samples as WAV sample bytes: one byte offset by 128, or the
// low 16, 24 or 32 bits little-endian.
uint8_t* PackSamples(const int32_t* Samples, size_t Count, int BytesPerSample, uint8_t* Out) {
    switch (BytesPerSample) {
    case 1:
        for (size_t I = 0; I < Count; ++I)
            *Out++ = static_cast<uint8_t>(Samples[I] + 128);
        break;
    case 2:
        for (size_t I = 0; I < Count; ++I) {
            const auto V = static_cast<uint32_t>(Samples[I]);
            Out[0] = static_cast<uint8_t>(V);
            Out[1] = static_cast<uint8_t>(V >> 8);
            Out += 2;
        }
        break;
    case 3:
        for (size_t I = 0; I < Count; ++I) {
            const auto V = static_cast<uint32_t>(Samples[I]);
            Out[0] = static_cast<uint8_t>(V);
            Out[1] = static_cast<uint8_t>(V >> 8);
            Out[2] = static_cast<uint8_t>(V >> 16);
            Out += 3;
        }
        break;
    default:
        for (size_t I = 0; I < Count; ++I) {
            const auto V = static_cast<uint32_t>(Samples[I]);
            Out[0] = static_cast<uint8_t>(V);
            Out[1] = static_cast<uint8_t>(V >> 8);
            Out[2] = static_cast<uint8_t>(V >> 16);
            Out[3] = static_cast<uint8_t>(V >> 24);
            Out += 4;
        }
        break;
    }
    return Out;
}

// Unpacks every sample the file holds and writes it as WAV sample bytes.
void WriteSamples(WavpackContext* File, TWavPackSource& Source, TStream* Dest) {
    const int Channels = WavpackGetNumChannels(File);
    const int BytesPerSample = WavpackGetBytesPerSample(File);
    if (Channels < 1 || Channels > MaxChannels)
        Fail("unsupported channel count " + std::to_string(Channels));
    if (BytesPerSample < 1 || BytesPerSample > 4)
        Fail("unsupported sample size " + std::to_string(BytesPerSample));

    const size_t FrameBytes = static_cast<size_t>(Channels) * static_cast<size_t>(BytesPerSample);
    std::vector<int32_t> Samples(static_cast<size_t>(MaxFramesPerStep) * Channels);
    std::vector<uint8_t> Out(OutputBufferSize);
    size_t Used = 0;
    for (;;) {
        const auto Frames = static_cast<uint32_t>(
            std::min<size_t>(MaxFramesPerStep, (Out.size() - Used) / FrameBytes));
        const uint32_t Got = WavpackUnpackSamples(File, Samples.data(), Frames);
        Source.Check();
        if (Got == 0) break;
        Used = PackSamples(Samples.data(), static_cast<size_t>(Got) * Channels, BytesPerSample,
                           Out.data() + Used) -
               Out.data();
        if (Out.size() - Used < FrameBytes) {
            Dest->WriteBuffer(Out.data(), static_cast<int64_t>(Used));
            Used = 0;
        }
    }
    if (Used > 0) Dest->WriteBuffer(Out.data(), static_cast<int64_t>(Used));

    // The stored trailer arrives in pieces: the library hands out the next
    // one only when asked to unpack once more.
    while (WriteWrapper(File, Dest)) {
        WavpackUnpackSamples(File, Samples.data(), 1);
        Source.Check();
    }
}

} // namespace

void WavPackDecodeStream(TStream* Source, TStream* Dest) {
    TWavPackSource Reader(Source);
    const TWavPackFile File = Open(Reader);
    WriteWrapper(File.get(), Dest);
    WriteSamples(File.get(), Reader, Dest);
}

} // namespace kivo
