// Shared pieces of the DEFLATE / Deflate64 codec: the options-and-results
// helper, the decoder's error classes and cause texts, the write-only log
// stream and the bit bucket stream that test paths decode into.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Classes.h"
#include "runtime/SysUtils.h"

namespace kivo {

// Progress callback: percentage of the compressed input read so far.
using TAbProgressStep = std::function<void(int32_t aPercentDone)>;

// Option bits of TAbDeflateHelper::Options.
constexpr int32_t OptionStoredBlocks = 0x00000001;  // encoder: may emit stored blocks
constexpr int32_t OptionStaticBlocks = 0x00000002;  // encoder: may emit fixed-Huffman blocks
constexpr int32_t OptionDynamicBlocks = 0x00000004; // encoder: may emit dynamic blocks
constexpr int32_t OptionLazyMatch = 0x00000008;     // encoder: lazy matching
constexpr int32_t OptionDeflate64 = 0x00000010;     // the stream is Deflate64
constexpr int32_t OptionAdler32 = 0x00000020;       // checksum is Adler-32 instead of CRC-32
constexpr int32_t OptionTestOnly = 0x40000000;      // decode and checksum without writing

// Options, results and encoder settings of one Inflate (or Deflate) call.
class TAbDeflateHelper {
public:
    TAbDeflateHelper() = default;

    int32_t AmpleLength() const { return FAmpleLength; }
    void SetAmpleLength(int32_t Value);
    int32_t ChainLength() const { return FChainLength; }
    void SetChainLength(int32_t Value);
    const std::string& LogFile() const { return FLogFile; }
    void SetLogFile(const std::string& Value) { FLogFile = Value; }
    int32_t MaxLazyLength() const { return FMaxLazy; }
    void SetMaxLazyLength(int32_t Value);
    int32_t Options() const { return FOptions; }
    void SetOptions(int32_t Value);
    // When positive, decoding stops once this many bytes have been produced.
    int64_t PartialSize() const { return FPartSize; }
    void SetPartialSize(int64_t Value) { FPartSize = Value; }
    // Results: compressed bytes consumed, decompressed bytes produced.
    int64_t CompressedSize() const { return FSizeCompressed; }
    void SetCompressedSize(int64_t Value) { FSizeCompressed = Value; }
    int64_t NormalSize() const { return FSizeNormal; }
    void SetNormalSize(int64_t Value) { FSizeNormal = Value; }
    // Size of the compressed input for progress percentages; -1 = the source's size.
    int64_t StreamSize() const { return FStreamSize; }
    void SetStreamSize(int64_t Value) { FStreamSize = Value; }
    int32_t WindowSize() const { return FWindowSize; }
    void SetWindowSize(int32_t Value);
    char16_t PKZipOption() const { return FZipOption; }
    void SetPKZipOption(char16_t Value);

    // Copies every setting and result, the log file name and the callback included.
    void Assign(const TAbDeflateHelper& aHelper);

    TAbProgressStep OnProgressStep;

private:
    int32_t FAmpleLength = 8;
    int32_t FChainLength = 32;
    std::string FLogFile;
    int32_t FMaxLazy = 16;
    int32_t FOptions = 0x0000000F;
    int64_t FPartSize = 0;
    int64_t FSizeCompressed = 0;
    int64_t FSizeNormal = 0;
    int64_t FStreamSize = 0;
    int32_t FWindowSize = 32768;
    char16_t FZipOption = u'n';
};

// Raised inside the decoder; the message is the bare cause.
class EAbInternalInflateError : public Exception {
public:
    using Exception::Exception;
};

// The only decoder error that leaves Inflate; the message names the cause.
class EAbInflateError : public Exception {
public:
    explicit EAbInflateError(const std::string& aMsg);
};

// Raised when PartialSize bytes have been produced; Inflate catches it.
class EAbPartSizedInflate : public Exception {
public:
    EAbPartSizedInflate() : Exception("partial size reached") {}
    using Exception::Exception;
};

// Raised by a progress callback to stop decoding; Inflate catches it.
class EAbAbortProgress : public Exception {
public:
    using Exception::Exception;
};

// Causes carried by EAbInternalInflateError (and so by EAbInflateError).
namespace InflateCause {
inline constexpr const char* InvalidBlockType =
    "starting new block, but invalid block type [Inflate]";
inline constexpr const char* StoredLength =
    "invalid stored block (length and NOT length do not match) [InflateStoredBlock]";
inline constexpr const char* TooManyLiteralCodes =
    "count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]";
inline constexpr const char* TooManyDistanceCodes =
    "count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]";
inline constexpr const char* BadCodeLengthSymbol =
    "decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}";
inline constexpr const char* BadCodeLength =
    "decoded a code length out of range {ReadLitDistCodeLengths}";
// A repeat code 16 with no previous length, or a repeat running past the 318 code lengths.
inline constexpr const char* BadCodeLengthRepeat =
    "decoded a repeat of code lengths with nothing to repeat or past the last length "
    "{ReadLitDistCodeLengths}";
inline constexpr const char* BadLengthSymbol =
    "decoded an invalid length symbol: greater than 285 [DecodeData]";
inline constexpr const char* BadDistanceSymbol =
    "decoded an invalid distance symbol: greater than 29 [DecodeData]";
// Deflate64: a distance code that the block's distance code does not use.
inline constexpr const char* UnusedDistanceSymbol =
    "decoded an invalid distance symbol: code not in use [DecodeData]";
// A match that reaches back before the first byte this stream produced.
inline constexpr const char* DistanceTooFar =
    "decoded a distance greater than the count of bytes decoded so far [DecodeData]";
inline constexpr const char* NoMoreDataReadBit =
    "no more compressed data in stream [TAbDfInBitStream.ReadBit]";
inline constexpr const char* NoMoreDataReadBits =
    "no more compressed data in stream [TAbDfInBitStream.ReadBits]";
inline constexpr const char* NoMoreDataDiscardBits =
    "no more compressed data in stream [TAbDfInBitStream.DiscardBits]";
inline constexpr const char* NoMoreDataReadBuffer =
    "no more compressed data in stream [TAbDfInBitStream.ReadBuffer]";
inline constexpr const char* ReadBitsCount =
    "count of bits must be between 1 and 16 inclusive [TAbDfInBitStream.ReadBits]";
inline constexpr const char* DiscardBitsCount =
    "count of bits must be between 1 and 32 inclusive [TAbDfInBitStream.DiscardBits]";
} // namespace InflateCause

// The one way the decoder reports corrupt data.
[[noreturn]] void AbInflateFail(const char* aCause);

// ---------------------------------------------------------------------------
// TAbLogger: a write-only text stream into a file, buffered.

enum TAbLineDelimiter : uint8_t { ldCRLF, ldLF };

class TAbLogger : public TStream {
public:
    explicit TAbLogger(const std::string& aLogName);
    ~TAbLogger() override; // writes out the buffer

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    // Writes the text converted to the ANSI code page.
    void WriteStr(const std::string& S);
    // Writes the text and a line delimiter.
    void WriteLine(const std::string& S);

    TAbLineDelimiter LineDelimiter() const { return FLineDelimiter; }
    void SetLineDelimiter(TAbLineDelimiter Value) { FLineDelimiter = Value; }

private:
    void FlushBuffer();
    static constexpr int32_t BufferSize = 4096;
    std::unique_ptr<TBufferedFileStream> FStream;
    uint8_t FBuffer[BufferSize];
    int32_t FBufPos = 0;
    TAbLineDelimiter FLineDelimiter = ldCRLF;
};

// ---------------------------------------------------------------------------
// TAbBitBucketStream: accepts any amount of data and keeps the most recent
// part in a ring, so that a reader can seek back a little and reread.

class TAbBitBucketStream : public TStream {
public:
    // 4096, 8192 and 32768 are kept, anything else becomes 32768; the ring
    // holds that many bytes plus 1024.
    explicit TAbBitBucketStream(int32_t aBufSize);

    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return FSize; }
    // Sets the logical size only.
    void ForceSize(int64_t aSize) { FSize = aSize; }

private:
    std::unique_ptr<uint8_t[]> FBuffer;
    int64_t FBufSize = 0;
    int64_t FBufPosn = 0; // read position in the ring
    int64_t FPosn = 0;    // logical position
    int64_t FSize = 0;    // logical size: bytes ever written
    int64_t FTail = 0;    // ring position where the next byte is stored
};

} // namespace kivo
