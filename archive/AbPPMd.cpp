#include "archive/AbPPMd.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <type_traits>

#include "Ppmd8.h"
#include "archive/AbByteOrder.h"
#include "archive/AbExcept.h"

namespace kivo {

namespace {

constexpr int64_t InputBufferSize = 4098;
constexpr size_t OutputBufferSize = 4096;

// The decoder pulls its input one byte at a time through this reader. The
// callback runs inside C code, so it never throws: a failed or empty refill
// is recorded, the decoder gets zeros, and Check() raises the failure once
// the decoder has returned.
struct TPpmdByteReader {
    IByteIn Vt; // first member: the decoder hands back a pointer to it
    TStream* Source = nullptr;
    const uint8_t* Cur = nullptr;
    const uint8_t* End = nullptr;
    bool Ended = false;
    std::exception_ptr Error;
    uint8_t Buffer[InputBufferSize];

    explicit TPpmdByteReader(TStream* aSource) : Vt{&ReadByte}, Source(aSource) {}

    static Byte ReadByte(IByteInPtr p) {
        auto* Self = reinterpret_cast<TPpmdByteReader*>(const_cast<IByteIn*>(p));
        if (Self->Cur == Self->End && !Self->Refill()) return 0;
        return *Self->Cur++;
    }

    bool Refill() noexcept {
        if (Ended) return false;
        int64_t N = 0;
        try {
            N = Source->Read(Buffer, InputBufferSize);
        } catch (...) {
            Error = std::current_exception();
        }
        if (N <= 0) {
            Ended = true;
            return false;
        }
        Cur = Buffer;
        End = Buffer + N;
        return true;
    }

    // Raises what went wrong while the decoder was reading.
    void Check() const {
        if (Error) std::rethrow_exception(Error);
        if (Ended) throw EAbReadError();
    }
};
static_assert(std::is_standard_layout_v<TPpmdByteReader>);

void* HeapAlloc(ISzAllocPtr, size_t Size) {
    return std::malloc(Size);
}
void HeapFree(ISzAllocPtr, void* Address) {
    std::free(Address);
}
const ISzAlloc HeapAllocator = {&HeapAlloc, &HeapFree};

// The model and its memory, freed on every path.
struct TPpmd8Model {
    CPpmd8 P;
    TPpmd8Model() { Ppmd8_Construct(&P); }
    ~TPpmd8Model() { Ppmd8_Free(&P, &HeapAllocator); }
    TPpmd8Model(const TPpmd8Model&) = delete;
    TPpmd8Model& operator=(const TPpmd8Model&) = delete;
};

struct TPpmdParams {
    unsigned Order;
    uint32_t MemorySize;
    unsigned RestoreMethod;
};

// Reads the parameter word and refuses what the decoder cannot run.
TPpmdParams ReadParams(TStream* Source) {
    uint8_t Word[2];
    Source->ReadBuffer(Word, 2);
    const uint16_t W = GetLE16(Word);
    const TPpmdParams Params{(W & 0xFu) + 1, (((W >> 4) & 0xFFu) + 1) << 20,
                             static_cast<unsigned>(W >> 12)};
    if (Params.Order < PPMD8_MIN_ORDER || Params.RestoreMethod >= PPMD8_RESTORE_METHOD_UNSUPPPORTED)
        throw EAbZipInvalidMethod();
    return Params;
}

// Decodes symbols until the first negative one, writing the output in
// blocks; a read failure of the input ends in its error, not in output.
void DecodeSymbols(CPpmd8* P, TPpmdByteReader& Reader, TStream* Dest) {
    uint8_t Out[OutputBufferSize];
    for (;;) {
        size_t N = 0;
        int Symbol = 0;
        while (N < OutputBufferSize && (Symbol = Ppmd8_DecodeSymbol(P)) >= 0)
            Out[N++] = static_cast<uint8_t>(Symbol);
        Reader.Check();
        if (N > 0) Dest->WriteBuffer(Out, static_cast<int64_t>(N));
        if (Symbol < 0) return;
    }
}

} // namespace

void PpmdDecodeStream(TStream* Source, TStream* Dest) {
    const TPpmdParams Params = ReadParams(Source);
    auto Reader = std::make_unique<TPpmdByteReader>(Source);
    auto Model = std::make_unique<TPpmd8Model>();
    if (!Ppmd8_Alloc(&Model->P, Params.MemorySize, &HeapAllocator)) throw std::bad_alloc();
    Model->P.Stream.In = &Reader->Vt;
    const bool Started = Ppmd8_Init_RangeDec(&Model->P);
    Reader->Check();
    // A first code word the encoder never writes: the data is damaged, and
    // nothing comes out of it.
    if (!Started) return;
    Ppmd8_Init(&Model->P, Params.Order, Params.RestoreMethod);
    DecodeSymbols(&Model->P, *Reader, Dest);
}

} // namespace kivo
