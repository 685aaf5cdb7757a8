#include "archive/AbLzma.h"

#include <algorithm>
#include <lzma.h>
#include <memory>
#include <vector>

#include "archive/AbByteOrder.h"

namespace kivo {

namespace {

constexpr int32_t LzmaPropsSize = 5;
constexpr int64_t LzmaBufferSize = 65536;
// The smallest dictionary the decoder takes; LZMA encoders never refer
// further back than the bytes produced, so a larger one than the data is
// never needed either.
constexpr uint32_t MinDictionary = 4096;

const char* LzmaErrorText(int32_t Code) {
    switch (Code) {
    case LzmaErrData: return "LZMA Data Error.";
    case LzmaErrMem: return "LZMA Memory Error.";
    case LzmaErrCrc: return "LZMA CRC Error.";
    case LzmaErrUnsupported: return "LZMA \"Unsupported\" Error.";
    case LzmaErrParam: return "LZMA Parameter Error.";
    case LzmaErrInputEof: return "LZMA Input EOF Error.";
    case LzmaErrOutputEof: return "LZMA Output EOF Error.";
    case LzmaErrRead: return "LZMA Read Error.";
    case LzmaErrWrite: return "LZMA Write Error.";
    case LzmaErrProgress: return "LZMA Progress Error.";
    case LzmaErrFail: return "LZMA \"Fail\" Error.";
    case LzmaErrThread: return "LZMA Thread Error.";
    case LzmaErrArchive: return "LZMA Archive Error.";
    case LzmaErrNoArchive: return "LZMA \"No Archive\" Error.";
    default: return nullptr;
    }
}

std::string LzmaMessage(int32_t Code) {
    const char* Text = LzmaErrorText(Code);
    return Text != nullptr ? std::string(Text) : Format("Unknown LZMA error (%d)", Code);
}

// The layer's code for a failure liblzma reports.
int32_t CodeOf(lzma_ret Ret) {
    switch (Ret) {
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return LzmaErrMem;
    case LZMA_OPTIONS_ERROR:
    case LZMA_UNSUPPORTED_CHECK: return LzmaErrUnsupported;
    case LZMA_PROG_ERROR: return LzmaErrParam;
    case LZMA_DATA_ERROR:
    case LZMA_FORMAT_ERROR:
    case LZMA_BUF_ERROR: return LzmaErrData;
    default: return LzmaErrFail;
    }
}

// The decoder's options from the 5 property bytes: lc, lp and pb packed as
// (pb * 5 + lp) * 9 + lc, then the dictionary size.
lzma_options_lzma OptionsFrom(const uint8_t* Props, int32_t PropsSize, int64_t OutSize) {
    if (Props == nullptr || PropsSize < LzmaPropsSize) throw EAbLZMAException(LzmaErrUnsupported);
    uint32_t D = Props[0];
    if (D >= 9 * 5 * 5) throw EAbLZMAException(LzmaErrUnsupported);
    lzma_options_lzma Options{};
    Options.lc = D % 9;
    D /= 9;
    Options.lp = D % 5;
    Options.pb = D / 5;
    if (Options.lc + Options.lp > LZMA_LCLP_MAX) throw EAbLZMAException(LzmaErrUnsupported);
    uint64_t Dictionary = GetLE32(Props + 1);
    if (OutSize >= 0) Dictionary = std::min<uint64_t>(Dictionary, static_cast<uint64_t>(OutSize));
    Options.dict_size = static_cast<uint32_t>(std::max<uint64_t>(Dictionary, MinDictionary));
    // With a known size the data may end with or without an end marker.
    Options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(Options, OutSize >= 0 ? static_cast<uint64_t>(OutSize) : UINT64_MAX);
    return Options;
}

struct TLzmaEnd {
    void operator()(lzma_stream* S) const { lzma_end(S); }
};

} // namespace

EAbLZMAException::EAbLZMAException(int32_t Code) : Exception(LzmaMessage(Code)), ErrorCode(Code) {}

void LzmaDecodeStream(const uint8_t* Props, int32_t PropsSize, TStream* Source, int64_t OutSize,
                      TStream* Dest) {
    lzma_options_lzma Options = OptionsFrom(Props, PropsSize, OutSize);
    const lzma_filter Filters[] = {{LZMA_FILTER_LZMA1EXT, &Options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream Stream = LZMA_STREAM_INIT;
    if (const lzma_ret Ret = lzma_raw_decoder(&Stream, Filters); Ret != LZMA_OK)
        throw EAbLZMAException(CodeOf(Ret));
    const std::unique_ptr<lzma_stream, TLzmaEnd> Guard(&Stream);

    std::vector<uint8_t> In(LzmaBufferSize), Out(LzmaBufferSize);
    bool InputEnded = false;
    for (;;) {
        if (Stream.avail_in == 0 && !InputEnded) {
            const int64_t N = Source->Read(In.data(), LzmaBufferSize);
            InputEnded = N <= 0;
            Stream.next_in = In.data();
            Stream.avail_in = InputEnded ? 0 : static_cast<size_t>(N);
        }
        const size_t InBefore = Stream.avail_in;
        Stream.next_out = Out.data();
        Stream.avail_out = Out.size();
        const lzma_ret Ret = lzma_code(&Stream, LZMA_RUN);
        const auto Produced = static_cast<int64_t>(Out.size() - Stream.avail_out);
        if (Produced > 0 && Dest->Write(Out.data(), Produced) != Produced)
            throw EAbLZMAException(LzmaErrWrite);
        if (Ret == LZMA_STREAM_END) return;
        const bool Progressed = Produced > 0 || Stream.avail_in != InBefore;
        // Data that ends early stops here; the caller's size and checksum
        // comparison reports it.
        if (InputEnded && !Progressed) return;
        if (Ret != LZMA_OK && Ret != LZMA_BUF_ERROR) throw EAbLZMAException(CodeOf(Ret));
        if (!Progressed) throw EAbLZMAException(LzmaErrData);
    }
}

void LzmaDecodeItemData(TStream* Source, int64_t OutSize, TStream* Dest) {
    uint8_t Header[4];
    Source->ReadBuffer(Header, sizeof Header);
    const uint16_t PropsSize = GetLE16(Header + 2);
    std::vector<uint8_t> Props(PropsSize);
    Source->ReadBuffer(Props.data(), PropsSize);
    LzmaDecodeStream(Props.data(), PropsSize, Source, OutSize, Dest);
}

} // namespace kivo
