// Feeds arbitrary bytes to Inflate. The first byte picks the mode: Deflate or
// Deflate64, writing or test-only, a source that hands out everything or a
// few bytes per read, and a destination built in place (a plain memory
// stream) or written through the output window (a derived one). Any outcome
// other than a decode or EAbInflateError (a crash, a sanitizer report, another
// exception) is a finding. When zlib accepts the rest as a raw DEFLATE stream,
// Inflate must produce the same output, checksum and size and stop after the
// same byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <zlib.h>

#include "FuzzSupport.h"
#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "runtime/Classes.h"

using namespace kivo;
using kivo::fuzz::TTrickle;

namespace {

class TWrittenMemoryStream : public TMemoryStream {};

bool ZlibInflate(const uint8_t* Data, size_t Size, std::string& Out, size_t& Used) {
    z_stream Z{};
    if (inflateInit2(&Z, -15) != Z_OK) return false;
    Z.next_in = const_cast<Bytef*>(Data);
    Z.avail_in = static_cast<uInt>(Size);
    char Buf[65536];
    int Rc;
    do {
        Z.next_out = reinterpret_cast<Bytef*>(Buf);
        Z.avail_out = sizeof Buf;
        Rc = inflate(&Z, Z_NO_FLUSH);
        Out.append(Buf, sizeof Buf - Z.avail_out);
    } while (Rc == Z_OK);
    Used = Z.total_in;
    inflateEnd(&Z);
    return Rc == Z_STREAM_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size == 0) return 0;
    const uint8_t Mode = Data[0];
    ++Data;
    --Size;
    const bool Deflate64 = Mode & 1, TestOnly = Mode & 2;
    const int64_t Step = (Mode >> 2) & 7; // 0: everything at once

    TTrickle Src(Data, static_cast<int64_t>(Size), Step == 0 ? INT64_MAX : Step);
    TMemoryStream InPlace;
    TWrittenMemoryStream Written;
    TMemoryStream& Dst = Mode & 32 ? Written : InPlace;
    TAbDeflateHelper Helper;
    Helper.SetOptions(Helper.Options() | (Deflate64 ? OptionDeflate64 : 0) |
                      (TestOnly ? OptionTestOnly : 0));
    bool Ok = false;
    uint32_t Crc = 0;
    try {
        Crc = Inflate(&Src, &Dst, &Helper);
        Ok = true;
    } catch (const EAbInflateError&) {
    }

    if (!Deflate64) {
        std::string Expect;
        size_t Used = 0;
        if (ZlibInflate(Data, Size, Expect, Used)) {
            if (!Ok) std::abort();
            if (Crc != static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Expect.data()),
                                                   static_cast<uInt>(Expect.size()))))
                std::abort();
            if (Helper.NormalSize() != static_cast<int64_t>(Expect.size())) std::abort();
            if (Helper.CompressedSize() != static_cast<int64_t>(Used)) std::abort();
            // An empty memory stream has no buffer: memcmp must not see its null pointer.
            if (!TestOnly &&
                (Dst.Size() != static_cast<int64_t>(Expect.size()) ||
                 (!Expect.empty() && std::memcmp(Dst.Memory(), Expect.data(), Expect.size()) != 0)))
                std::abort();
        }
    }
    return 0;
}
