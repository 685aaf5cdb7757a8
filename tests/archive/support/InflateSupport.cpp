#include "support/InflateSupport.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <vector>
#include <zlib.h>

#include "archive/AbDfBase.h"
#include "archive/AbDfDec.h"
#include "archive/AbDfHufD.h"
#include "archive/AbDfInW.h"
#include "archive/AbDfOutW.h"
#include "support/ZipFixtures.h"

namespace kivo::test {

std::string ZlibDeflateRaw(const std::string& Data, int Level, int Strategy, int WindowBits,
                           int MemLevel) {
    z_stream Z{};
    if (deflateInit2(&Z, Level, Z_DEFLATED, -WindowBits, MemLevel, Strategy) != Z_OK) return {};
    std::string Out(deflateBound(&Z, Data.size()) + 64, '\0');
    Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
    Z.avail_in = static_cast<uInt>(Data.size());
    Z.next_out = reinterpret_cast<Bytef*>(Out.data());
    Z.avail_out = static_cast<uInt>(Out.size());
    int Rc = deflate(&Z, Z_FINISH);
    Out.resize(Z.total_out);
    deflateEnd(&Z);
    return Rc == Z_STREAM_END ? Out : std::string();
}

bool ZlibInflateRaw(const std::string& Data, std::string& Output, size_t* Consumed) {
    z_stream Z{};
    if (inflateInit2(&Z, -15) != Z_OK) return false;
    Output.clear();
    Z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
    Z.avail_in = static_cast<uInt>(Data.size());
    int Rc;
    char Buf[65536];
    do {
        Z.next_out = reinterpret_cast<Bytef*>(Buf);
        Z.avail_out = sizeof Buf;
        Rc = inflate(&Z, Z_NO_FLUSH);
        Output.append(Buf, sizeof Buf - Z.avail_out);
    } while (Rc == Z_OK);
    if (Consumed != nullptr) *Consumed = Z.total_in;
    inflateEnd(&Z);
    return Rc == Z_STREAM_END;
}

uint32_t ZlibCrc32(const std::string& Data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
}

uint32_t ZlibAdler32(const std::string& Data) {
    return static_cast<uint32_t>(
        adler32(1, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
}

std::string MakeText(size_t Size, uint32_t Seed) {
    static const char* const Words[] = {
        "the",   "archive",    "of",       "and",        "stream",   "a",     "to",
        "in",    "window",     "is",       "decoder",    "block",    "that",  "for",
        "with",  "bytes",      "length",   "distance",   "Huffman",  "code",  "literal",
        "table", "output",     "input",    "bits",       "buffer",   "error", "cause",
        "which", "from",       "when",     "every",      "symbol",   "match", "history",
        "slide", "compressed", "original", "extraction", "checksum", "tree",  "end",
        "it",    "on",         "as",       "by"};
    std::mt19937 Rng(Seed);
    // Roughly Zipf-distributed word choice: low indexes are much more common.
    std::string Out;
    Out.reserve(Size + 32);
    size_t Line = 0;
    while (Out.size() < Size) {
        double U = std::uniform_real_distribution<double>(0, 1)(Rng);
        size_t Inx = static_cast<size_t>(std::size(Words) * U * U * U);
        Out += Words[std::min(Inx, std::size(Words) - 1)];
        uint32_t R = Rng() % 100;
        if (R < 6) Out += ',';
        if (R < 9) Out += '.';
        if (++Line > 12 && R > 80) {
            Out += '\n';
            Line = 0;
        } else {
            Out += ' ';
        }
        if (R == 99) Out += std::to_string(Rng() % 100000);
    }
    Out.resize(Size);
    return Out;
}

std::string MakeBinary(size_t Size) {
    std::string Exe = ziptest::ReadBytes("/proc/self/exe");
    std::string Out;
    while (Out.size() < Size && !Exe.empty())
        Out.append(Exe, 0, std::min(Exe.size(), Size - Out.size()));
    return Out;
}

std::string MakeRandom(size_t Size, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    std::string Out(Size, '\0');
    for (auto& C : Out)
        C = static_cast<char>(Rng());
    return Out;
}

// ---------------------------------------------------------------------------

TTrickleStream::TTrickleStream(std::string Data, int MaxStep, uint32_t Seed)
    : FData(std::move(Data)), FMaxStep(MaxStep), FState(Seed) {}

int64_t TTrickleStream::Read(void* Buffer, int64_t Count) {
    ++FReadCalls;
    FState = FState * 1103515245u + 12345u;
    int64_t Step = 1 + static_cast<int64_t>((FState >> 16) % static_cast<uint32_t>(FMaxStep));
    int64_t N = std::min({Count, Step, static_cast<int64_t>(FData.size()) - FPos});
    if (N <= 0) return 0;
    std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(N));
    FPos += N;
    return N;
}

int64_t TTrickleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    switch (Origin) {
    case soBeginning: FPos = Offset; break;
    case soCurrent: FPos += Offset; break;
    case soEnd: FPos = static_cast<int64_t>(FData.size()) + Offset; break;
    }
    return FPos;
}

// ---------------------------------------------------------------------------

void TBitWriter::Bits(uint32_t Value, int Count) {
    for (int i = 0; i < Count; ++i) {
        FAcc |= ((Value >> i) & 1u) << FCount;
        if (++FCount == 8) {
            FBytes += static_cast<char>(FAcc);
            FAcc = 0;
            FCount = 0;
        }
    }
}

void TBitWriter::Code(uint32_t Code, int Length) {
    for (int i = Length - 1; i >= 0; --i)
        Bits((Code >> i) & 1u, 1);
}

void TBitWriter::FixedLitLen(int Symbol) {
    if (Symbol < 144)
        Code(0x30u + static_cast<uint32_t>(Symbol), 8);
    else if (Symbol < 256)
        Code(0x190u + static_cast<uint32_t>(Symbol - 144), 9);
    else if (Symbol < 280)
        Code(static_cast<uint32_t>(Symbol - 256), 7);
    else
        Code(0xC0u + static_cast<uint32_t>(Symbol - 280), 8);
}

void TBitWriter::AlignToByte() {
    if (FCount > 0) Bits(0, 8 - FCount);
}

std::string TBitWriter::Bytes() const {
    std::string Out = FBytes;
    if (FCount > 0) Out += static_cast<char>(FAcc);
    return Out;
}

// ---------------------------------------------------------------------------

std::string CauseOf(const std::string& Message) {
    const std::string Open = "(Internal cause: ";
    size_t P = Message.find(Open);
    if (P == std::string::npos || Message.empty() || Message.back() != ')')
        return "<not an inflate error: " + Message + ">";
    return Message.substr(P + Open.size(), Message.size() - P - Open.size() - 1);
}

namespace {
class TWrittenMemoryStream : public TMemoryStream {};
} // namespace

TDecodeResult RunInflate(const std::string& Data, bool Deflate64, int MaxStep, int32_t ExtraOptions,
                         TInflateDest Dest) {
    TDecodeResult R;
    std::unique_ptr<TStream> Src;
    if (MaxStep > 0)
        Src = std::make_unique<TTrickleStream>(Data, MaxStep);
    else
        Src =
            std::make_unique<TReadOnlyMemoryStream>(Data.data(), static_cast<int64_t>(Data.size()));
    std::unique_ptr<TMemoryStream> DstOwner = Dest == TInflateDest::InPlace
                                                  ? std::make_unique<TMemoryStream>()
                                                  : std::make_unique<TWrittenMemoryStream>();
    TMemoryStream& Dst = *DstOwner;
    TAbDeflateHelper Helper;
    Helper.SetOptions(Helper.Options() | (Deflate64 ? OptionDeflate64 : 0) | ExtraOptions);
    try {
        R.Checksum = Inflate(Src.get(), &Dst, &Helper);
        R.Ok = true;
        R.Consumed = Helper.CompressedSize();
    } catch (const EAbInflateError& E) {
        R.Cause = CauseOf(E.Message());
    }
    R.Output.assign(reinterpret_cast<const char*>(Dst.Memory()), static_cast<size_t>(Dst.Size()));
    return R;
}

namespace {
uint32_t Mask(uint32_t Bits) {
    return Bits >= 32 ? 0xFFFFFFFFu : (1u << Bits) - 1;
}

// Literal/length and distance codes of one block, decoded until end of block.
void RefDecodeData(TAbDfInBitStream& In, TAbDfOutputWindow& Out, const TAbDfDecodeHuffmanTree& Lit,
                   const TAbDfDecodeHuffmanTree& Dist, bool Deflate64, int64_t& Produced) {
    for (;;) {
        uint32_t W = static_cast<uint32_t>(Lit.LookupBitLength());
        uint32_t Bits = In.PeekBits(static_cast<int32_t>(W + (Deflate64 ? 16 : 5)));
        uint32_t E = Lit.Decode(Bits & Mask(W));
        uint32_t Sym = E & 0xFFFF, CodeLen = (E >> 16) & 0xFF, Extra = E >> 24;
        if (Sym < 256) {
            In.DiscardBits(static_cast<int32_t>(CodeLen));
            Out.AddLiteral(static_cast<uint8_t>(Sym));
            ++Produced;
            continue;
        }
        if (Sym == 256) {
            In.DiscardBits(static_cast<int32_t>(CodeLen));
            return;
        }
        if (Sym > 285) AbInflateFail(InflateCause::BadLengthSymbol);
        uint32_t Len;
        if (Sym == 285 && !Deflate64) {
            Len = 258;
            In.DiscardBits(static_cast<int32_t>(CodeLen));
        } else {
            Len = AbDfLengthBase[Sym - 257] + ((Bits >> CodeLen) & Mask(Extra));
            In.DiscardBits(static_cast<int32_t>(CodeLen + Extra));
        }
        uint32_t DW = static_cast<uint32_t>(Dist.LookupBitLength());
        uint32_t DBits = In.PeekBits(static_cast<int32_t>(DW + 14));
        uint32_t DE = Dist.Decode(DBits & Mask(DW));
        uint32_t DSym = DE & 0xFFFF, DLen = (DE >> 16) & 0xFF, DExtra = DE >> 24;
        if (!Deflate64 && DSym > 29) AbInflateFail(InflateCause::BadDistanceSymbol);
        if (Deflate64 && DE == AbDfUnusedEntry) AbInflateFail(InflateCause::UnusedDistanceSymbol);
        uint32_t Distance = AbDfDistanceBase[DSym] + ((DBits >> DLen) & Mask(DExtra));
        In.DiscardBits(static_cast<int32_t>(DLen + DExtra));
        if (Distance > Produced) AbInflateFail(InflateCause::DistanceTooFar);
        Out.AddLenDist(static_cast<int32_t>(Len), static_cast<int32_t>(Distance));
        Produced += Len;
    }
}

void RefDynamicBlock(TAbDfInBitStream& In, TAbDfOutputWindow& Out, bool Deflate64,
                     int64_t& Produced) {
    uint32_t HLit = In.ReadBits(5) + 257, HDist = In.ReadBits(5) + 1, HCLen = In.ReadBits(4) + 4;
    if (HLit > 286) AbInflateFail(InflateCause::TooManyLiteralCodes);
    if (!Deflate64 && HDist > 30) AbInflateFail(InflateCause::TooManyDistanceCodes);
    uint8_t Pre[19] = {};
    for (uint32_t i = 0; i < HCLen; ++i)
        Pre[AbDfCodeLengthOrder[i]] = static_cast<uint8_t>(In.ReadBits(3));
    TAbDfDecodeHuffmanTree PreTree(19, 7, huDecoding);
    PreTree.Build(Pre, 0, 19, nullptr, 0);
    uint8_t Lens[318] = {};
    uint32_t N = HLit + HDist, i = 0;
    while (i < N) {
        uint32_t W = static_cast<uint32_t>(PreTree.LookupBitLength());
        uint32_t Bits = In.PeekBits(static_cast<int32_t>(W + 7));
        uint32_t E = PreTree.Decode(Bits & Mask(W));
        uint32_t Sym = E & 0xFFFF, CodeLen = (E >> 16) & 0xFF;
        if (Sym > 18) AbInflateFail(InflateCause::BadCodeLengthSymbol);
        if (CodeLen == 0 || CodeLen > W) AbInflateFail(InflateCause::BadCodeLength);
        if (Sym < 16) {
            In.DiscardBits(static_cast<int32_t>(CodeLen));
            Lens[i++] = static_cast<uint8_t>(Sym);
            continue;
        }
        uint32_t CountBits = Sym == 16 ? 2 : Sym == 17 ? 3 : 7;
        uint32_t Repeat = ((Bits >> CodeLen) & Mask(CountBits)) + (Sym == 18 ? 11 : 3);
        In.DiscardBits(static_cast<int32_t>(CodeLen + CountBits));
        if ((Sym == 16 && i == 0) || i + Repeat > 318)
            AbInflateFail(InflateCause::BadCodeLengthRepeat);
        uint8_t Value = Sym == 16 ? Lens[i - 1] : 0;
        for (uint32_t k = 0; k < Repeat; ++k)
            Lens[i++] = Value;
    }
    TAbDfDecodeHuffmanTree Lit(286, 15, huDecoding), Dist(Deflate64 ? 32 : 30, 15, huDecoding);
    Lit.Build(Lens, 0, static_cast<int32_t>(HLit), AbDfLengthExtraBits, 257);
    Dist.Build(Lens, static_cast<int32_t>(HLit), static_cast<int32_t>(HDist), AbDfDistanceExtraBits,
               0);
    RefDecodeData(In, Out, Lit, Dist, Deflate64, Produced);
}
} // namespace

TDecodeResult ReferenceInflate(const std::string& Data, bool Deflate64) {
    TDecodeResult R;
    TReadOnlyMemoryStream Src(Data.data(), static_cast<int64_t>(Data.size()));
    TMemoryStream Dst;
    try {
        TAbDfInBitStream In(&Src, nullptr, 0);
        TAbDfOutputWindow Out(&Dst, Deflate64, true, 0, false, nullptr);
        int64_t Produced = 0;
        bool Last;
        do {
            Last = In.ReadBit();
            switch (In.ReadBits(2)) {
            case 0: {
                In.AlignToByte();
                uint32_t Len = In.ReadBits(16), NLen = In.ReadBits(16);
                if (NLen != (~Len & 0xFFFF)) AbInflateFail(InflateCause::StoredLength);
                std::vector<uint8_t> Buf(Len);
                In.ReadBuffer(Buf.data(), Len);
                Out.AddBuffer(Buf.data(), Len);
                Produced += Len;
                break;
            }
            case 1:
                RefDecodeData(In, Out, StaticLiteralTree(), StaticDistanceTree(), Deflate64,
                              Produced);
                break;
            case 2: RefDynamicBlock(In, Out, Deflate64, Produced); break;
            default: AbInflateFail(InflateCause::InvalidBlockType);
            }
        } while (!Last);
        R.Checksum = Out.Checksum();
        In.Reposition();
        R.Ok = true;
        R.Consumed = Src.Position();
    } catch (const EAbInternalInflateError& E) {
        R.Cause = E.Message();
    }
    R.Output.assign(reinterpret_cast<const char*>(Dst.Memory()), static_cast<size_t>(Dst.Size()));
    return R;
}

} // namespace kivo::test
