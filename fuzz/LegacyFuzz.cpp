// Feeds arbitrary bytes to the shrink, reduce and implode decoders. The first
// byte picks the method (1-6), the dictionary size and tree count, and a
// source that hands out everything or a few bytes per read; the next three
// bytes give the uncompressed size (at most 1 MiB); the rest is the item's
// data. Any outcome other than a decode or an engine error (a crash, a
// sanitizer report, a hang, another exception) is a finding, and so is
// output that runs further past the uncompressed size than one copy reaches.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FuzzSupport.h"
#include "archive/AbExcept.h"
#include "archive/AbUnzipHelper.h"
#include "runtime/Classes.h"

using namespace kivo;
using kivo::fuzz::TTrickle;

namespace {

// A memory destination that refuses more than Limit bytes, as the
// extraction driver's output stream refuses data beyond the declared size
// (shrinking itself runs to the end of its input).
class TCappedMemory : public TMemoryStream {
public:
    explicit TCappedMemory(int64_t Limit) : FLimit(Limit) {}
    int64_t Write(const void* Buffer, int64_t Count) override {
        if (Position() + Count > FLimit) throw EAbZipDataTooLong();
        return TMemoryStream::Write(Buffer, Count);
    }

private:
    int64_t FLimit;
};

constexpr int64_t MaxSize = 1 << 20;
constexpr int64_t LongestCopy = 0x7F + 255 + 3; // a reduced copy with factor 1

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 4) return 0;
    const uint8_t Mode = Data[0];
    const int64_t UnCompressedSize = (Data[1] | Data[2] << 8 | Data[3] << 16) % (MaxSize + 1);
    Data += 4;
    Size -= 4;
    const int32_t Method = 1 + Mode % 6;
    const int64_t Step = (Mode >> 5) & 7; // 0: everything at once

    TTrickle Src(Data, static_cast<int64_t>(Size), Step == 0 ? INT64_MAX : Step);
    TCappedMemory Dst(MaxSize + LongestCopy);
    TAbUnzipHelper Helper(&Src, &Dst);
    Helper.SetCompressionMethod(Method);
    Helper.SetUnCompressedSize(UnCompressedSize);
    Helper.SetDictionarySize((Mode & 0x08) != 0 ? ds8K : ds4K);
    Helper.SetShannonFanoTreeCount((Mode & 0x10) != 0 ? 3 : 2);
    try {
        Helper.Execute();
    } catch (const EAbZipDataTooLong&) {
        if (Method != 1) std::abort(); // the others stop at the uncompressed size
    } catch (const EAbZipInvalid&) {
    }
    if (Method != 1 && Dst.Size() > UnCompressedSize + LongestCopy) std::abort();
    return 0;
}
