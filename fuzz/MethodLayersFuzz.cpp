// Feeds arbitrary bytes to the decoders of the further ZIP methods. The first
// byte picks the layer by its ZIP method number; the rest is that layer's
// input. Any outcome other than decoded output or the layer's own errors (a
// crash, a sanitizer report, a hang, another exception, output beyond the
// bound) is a finding.
//   12  bzip2: TBZDecompressionStream read to its end, at most 64 MiB.
//   14  LZMA: the 4-byte header, properties and data as a ZIP item holds
//       them, preceded by 3 bytes of declared size (at most 16 MiB).
//   97  WavPack: the item data (a WavPack file), output capped at 64 MiB.
//   98  PPMd: the parameter word and the range-coded data, output capped at
//       64 MiB.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/AbBzip2.h"
#include "archive/AbExcept.h"
#include "archive/AbLzma.h"
#include "archive/AbPPMd.h"
#include "archive/AbWavPack.h"
#include "runtime/Classes.h"

using namespace kivo;

namespace {

constexpr int64_t MaxOutput = int64_t{64} << 20;

// Takes at most its limit and then refuses, as the extraction driver's
// output stream refuses data beyond the declared size.
class TBoundedSink : public TStream {
public:
    explicit TBoundedSink(int64_t Limit) : FLimit(Limit) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t Count) override {
        if (Count > FLimit - FSize) std::abort();
        FSize += Count;
        return Count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }
    int64_t Written() const { return FSize; }

private:
    int64_t FLimit;
    int64_t FSize = 0;
};

// Takes up to 64 MiB and then raises an error of its own: the WavPack and
// PPMd layers have no declared size to stop at.
class TCappedSink : public TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t Count) override {
        FSize += Count;
        if (FSize > MaxOutput) throw EAbException("output cap reached");
        return Count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }

private:
    int64_t FSize = 0;
};

// WavPack and PPMd: the decoders' and the streams' errors are expected.
void FuzzWholeItem(void (*Decode)(TStream*, TStream*), const uint8_t* Data, size_t Size) {
    TReadOnlyMemoryStream Source(Data, static_cast<int64_t>(Size));
    TCappedSink Sink;
    try {
        Decode(&Source, &Sink);
    } catch (const Exception&) {
    }
}

void FuzzBzip2(const uint8_t* Data, size_t Size) {
    TReadOnlyMemoryStream Source(Data, static_cast<int64_t>(Size));
    try {
        TBZDecompressionStream Decoded(&Source);
        std::vector<uint8_t> Buffer(65536);
        int64_t Total = 0;
        for (;;) {
            const int64_t N = Decoded.Read(Buffer.data(), static_cast<int64_t>(Buffer.size()));
            if (N <= 0) break;
            Total += N;
            if (Total > MaxOutput) break;
        }
    } catch (const ECustomBZip2Error&) {
    }
}

void FuzzLzma(const uint8_t* Data, size_t Size) {
    if (Size < 3) return;
    // 24 bits of declared size: up to 16 MiB.
    const int64_t OutSize = Data[0] | (Data[1] << 8) | (Data[2] << 16);
    TReadOnlyMemoryStream Source(Data + 3, static_cast<int64_t>(Size - 3));
    TBoundedSink Sink(OutSize);
    try {
        LzmaDecodeItemData(&Source, OutSize, &Sink);
    } catch (const EAbLZMAException&) {
    } catch (const EReadError&) { // header or properties cut short
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0) return 0;
    switch (Data[0]) {
    case 12: FuzzBzip2(Data + 1, Size - 1); return 0;
    case 14: FuzzLzma(Data + 1, Size - 1); return 0;
    case 97: FuzzWholeItem(&WavPackDecodeStream, Data + 1, Size - 1); return 0;
    case 98: FuzzWholeItem(&PpmdDecodeStream, Data + 1, Size - 1); return 0;
    default: return 0;
    }
}
