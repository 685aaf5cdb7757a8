// bzip2 streams over libbz2: TBZDecompressionStream reads the decoded data
// of bzip2 data held in another stream (ZIP method 12 and the bzip2
// container), TBZCompressionStream writes bzip2 data into another stream.
// Neither owns the stream it wraps.
#pragma once

#include <bzlib.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Classes.h"
#include "runtime/SysUtils.h"

namespace kivo {

// Errors of the bzip2 streams: "error %d" with libbz2's negative result code,
// or "Invalid stream operation" for a read, write or seek a stream refuses.
class ECustomBZip2Error : public Exception {
public:
    using Exception::Exception;
};
// Raised when a decoder cannot be set up or restarted, and for refused
// operations of the decompression stream.
class EBZDecompressionError : public ECustomBZip2Error {
public:
    explicit EBZDecompressionError(int Code);
    explicit EBZDecompressionError(std::string Message) : ECustomBZip2Error(std::move(Message)) {}
};
// Raised by the library's results while data passes through a stream (both
// directions, as callers expect), including bzip2 data that ends inside a
// stream (BZ_UNEXPECTED_EOF).
class EBZCompressionError : public ECustomBZip2Error {
public:
    explicit EBZCompressionError(int Code);
    explicit EBZCompressionError(std::string Message) : ECustomBZip2Error(std::move(Message)) {}
};
// "Compression Error %d": a consistency failure inside the library. The
// shared libbz2 handles those itself, so only a build that links the library
// with its error hook redirected raises it.
class EBZip2Error : public ECustomBZip2Error {
public:
    explicit EBZip2Error(int Code);
};

// Block sizes of 100 000 to 900 000 bytes: more memory, better compression.
enum TBlockSize100k : uint8_t { bs1, bs2, bs3, bs4, bs5, bs6, bs7, bs8, bs9 };

class TCustomBZip2Stream;
using TBZProgressEvent = std::function<void(TCustomBZip2Stream* Sender)>;

// What both directions share: the wrapped stream, its position after the
// last transfer, the library's stream record and a 64 KiB buffer.
class TCustomBZip2Stream : public TStream {
public:
    static constexpr int64_t BufferSize = 65536;

    TCustomBZip2Stream(const TCustomBZip2Stream&) = delete;
    TCustomBZip2Stream& operator=(const TCustomBZip2Stream&) = delete;

    // Fired after every step of the library.
    const TBZProgressEvent& OnProgress() const { return FOnProgress; }
    void SetOnProgress(TBZProgressEvent Value) { FOnProgress = std::move(Value); }

protected:
    explicit TCustomBZip2Stream(TStream* Strm);
    void Progress() {
        if (FOnProgress) FOnProgress(this);
    }

    TStream* FStrm;
    int64_t FStrmPos;
    TBZProgressEvent FOnProgress;
    bz_stream FBZRec{};
    std::unique_ptr<char[]> FBuffer;
};

// Reads the data that the bzip2 data in Source decodes to, from Source's
// position at creation on. Concatenated bzip2 streams decode one after the
// other, as the bzip2 tool does; bytes after the last stream that do not
// start another one are ignored. Data that ends inside a stream is an error,
// never a short success.
class TBZDecompressionStream : public TCustomBZip2Stream {
public:
    // EBZDecompressionError when the decoder cannot be set up.
    explicit TBZDecompressionStream(TStream* Source);
    ~TBZDecompressionStream() override;

    // Fills Buffer with up to Count decoded bytes; fewer only at the end of
    // the data. EBZCompressionError with the library's code for damaged data
    // and for data that ends inside a stream (after the bytes decoded before
    // that point have been returned). Puts Source back where this stream left
    // it when someone else moved it.
    int64_t Read(void* Buffer, int64_t Count) override;
    // EBZDecompressionError "Invalid stream operation".
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Seek(0, soBeginning) starts decoding again from the first byte;
    // forward seeks (from the current position, or from the beginning to a
    // point not before it) decode and discard. Anything else raises
    // EBZDecompressionError "Invalid stream operation". Returns the number of
    // bytes decoded so far.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

private:
    void InitDecoder();
    void EndDecoder();
    void Refill();
    void Restart();
    void Discard(int64_t Count);

    int64_t FStartPos;        // where the bzip2 data starts in Source
    int64_t FOutPos = 0;      // bytes decoded so far, over all streams
    int32_t FStreamsDone = 0; // bzip2 streams decoded to their end
    bool FDecoding = false;   // the library holds a decoder state
    bool FSourceEnded = false;
    bool FStreamEnded = false; // the last stream ended; another may follow
    bool FFinished = false;    // nothing more to decode
};

// Compresses what is written to it into Dest. Flush (or the destructor)
// finishes the bzip2 stream; writes after that are refused.
class TBZCompressionStream : public TCustomBZip2Stream {
public:
    // EBZCompressionError when the encoder cannot be set up.
    TBZCompressionStream(TBlockSize100k BlockSize100k, TStream* Dest);
    // Finishes the stream unless Flush did; errors are swallowed there.
    ~TBZCompressionStream() override;

    // EBZCompressionError "Invalid stream operation".
    int64_t Read(void* Buffer, int64_t Count) override;
    // Takes all Count bytes; Dest's write errors pass through.
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Seek(0, soCurrent) gives the bytes taken so far; anything else raises
    // EBZCompressionError "Invalid stream operation".
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    // Writes the rest of the compressed data and the stream's end.
    void Flush();

private:
    void Compress(int Action);

    int64_t FInPos = 0;
    bool FFinished = false;
};

} // namespace kivo
