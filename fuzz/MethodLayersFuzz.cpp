// Feeds arbitrary bytes to the decoders of the further ZIP methods. The first
// byte picks the layer by its ZIP method number; the rest is that layer's
// input. Any outcome other than decoded output or the layer's own errors (a
// crash, a sanitizer report, a hang, another exception, output beyond the
// bound) is a finding.
//   12  bzip2: TBZDecompressionStream read to its end, at most 64 MiB.
//   14  LZMA: the 4-byte header, properties and data as a ZIP item holds
//       them, preceded by 3 bytes of declared size (at most 16 MiB).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/AbBzip2.h"
#include "archive/AbLzma.h"
#include "runtime/Classes.h"

using namespace kivo;

namespace {

constexpr int64_t MaxBzip2Output = int64_t{64} << 20;

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
            if (Total > MaxBzip2Output) break;
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
    // Layers still to come: 97 (WavPack) and 98 (PPMd) get their cases here.
    default: return 0;
    }
}
