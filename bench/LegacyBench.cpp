// Decoding throughput of the legacy ZIP methods beside Deflate: every item of
// the shared legacy archives (shrunk, reduced with factors 1-4, imploded with
// 4K/8K dictionaries and 2/3 trees) decoded from memory again and again, and
// the same decoded bytes deflated here by zlib (level 6, raw) and decoded by
// Inflate. Figures are bytes of output per second; output goes to a sink that
// keeps only its size, so the numbers are the decoders' own.
//
//   LegacyBench [--benchmark_filter=...]   (run from anywhere; the archives
//   are read from the shared test data folder)
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <zlib.h>

#include "BenchSupport.h"
#include "archive/AbByteOrder.h"
#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "archive/AbUnzipHelper.h"
#include "runtime/Classes.h"

using namespace kivo;
using kivo::bench::DeflateRaw;
using kivo::bench::ReadFile;

namespace {

// Takes any amount of data and remembers only how much, at any position.
class TSink : public TStream {
public:
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void*, int64_t Count) override {
        FPos += Count;
        FSize = std::max(FSize, FPos);
        return Count;
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        FPos = (Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : FSize) + Offset;
        return FPos;
    }
    int64_t Size() override { return FSize; }

private:
    int64_t FPos = 0;
    int64_t FSize = 0;
};

struct TItem {
    uint16_t Method;
    uint16_t Flags;
    int64_t Size;
    std::string Packed;
};

// The items of a ZIP file, from its local headers.
std::vector<TItem> ItemsOf(const std::string& Archive) {
    const std::string Zip = ReadFile(std::string(KIVO_TESTDATA_DIR) + "/" + Archive);
    const auto* P = reinterpret_cast<const uint8_t*>(Zip.data());
    std::vector<TItem> Items;
    for (size_t At = 0; At + 30 <= Zip.size() && GetLE32(P + At) == 0x04034B50;) {
        const size_t Data = At + 30 + GetLE16(P + At + 26) + GetLE16(P + At + 28);
        Items.push_back({GetLE16(P + At + 8), GetLE16(P + At + 6), GetLE32(P + At + 22),
                         Zip.substr(Data, GetLE32(P + At + 18))});
        At = Data + Items.back().Packed.size();
    }
    return Items;
}

int64_t DecodeLegacy(const TItem& Item, TStream* Dst) {
    TReadOnlyMemoryStream Src(Item.Packed.data(), static_cast<int64_t>(Item.Packed.size()));
    TAbUnzipHelper Helper(&Src, Dst);
    Helper.SetCompressionMethod(Item.Method);
    Helper.SetUnCompressedSize(Item.Size);
    Helper.SetDictionarySize((Item.Flags & Ab_ZipFlagImplode8KDictionary) != 0 ? ds8K : ds4K);
    Helper.SetShannonFanoTreeCount((Item.Flags & Ab_ZipFlagImplode3Trees) != 0 ? 3 : 2);
    Helper.Execute();
    return Item.Size;
}

void BM_Legacy(benchmark::State& State, const char* Archive) {
    const std::vector<TItem> Items = ItemsOf(Archive);
    int64_t Bytes = 0;
    for (auto _ : State) {
        for (const TItem& Item : Items) {
            TSink Sink;
            Bytes += DecodeLegacy(Item, &Sink);
            if (Sink.Size() != Item.Size) State.SkipWithError("wrong output size");
        }
    }
    State.SetBytesProcessed(Bytes);
}

// The legacy corpus's own files (decoded from the shrunk archive), deflated.
void BM_DeflateSameData(benchmark::State& State) {
    std::vector<std::pair<std::string, int64_t>> Streams;
    for (const TItem& Item : ItemsOf("legacy_shrink.zip")) {
        TMemoryStream Out;
        DecodeLegacy(Item, &Out);
        const std::string Data(reinterpret_cast<const char*>(Out.Memory()),
                               static_cast<size_t>(Out.Size()));
        Streams.emplace_back(DeflateRaw(Data, 6), Out.Size());
    }
    int64_t Bytes = 0;
    for (auto _ : State) {
        for (const auto& [Packed, Size] : Streams) {
            TReadOnlyMemoryStream Src(Packed.data(), static_cast<int64_t>(Packed.size()));
            TSink Sink;
            TAbDeflateHelper Helper;
            Inflate(&Src, &Sink, &Helper);
            Bytes += Size;
        }
    }
    State.SetBytesProcessed(Bytes);
}

BENCHMARK_CAPTURE(BM_Legacy, shrink, "legacy_shrink.zip");
BENCHMARK_CAPTURE(BM_Legacy, reduce1, "legacy_reduce1.zip");
BENCHMARK_CAPTURE(BM_Legacy, reduce4, "legacy_reduce4.zip");
BENCHMARK_CAPTURE(BM_Legacy, implode_4k_2trees, "legacy_implode_4k_2trees.zip");
BENCHMARK_CAPTURE(BM_Legacy, implode_4k_3trees, "legacy_implode_4k_3trees.zip");
BENCHMARK_CAPTURE(BM_Legacy, implode_8k_2trees, "legacy_implode_8k_2trees.zip");
BENCHMARK_CAPTURE(BM_Legacy, implode_8k_3trees, "legacy_implode_8k_3trees.zip");
BENCHMARK(BM_DeflateSameData);

} // namespace

BENCHMARK_MAIN();
