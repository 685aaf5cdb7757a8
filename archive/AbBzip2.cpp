#include "archive/AbBzip2.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kivo {

namespace {

const char* const SInvalidStreamOp = "Invalid stream operation";

// The library's count fields are 32-bit: larger transfers go in pieces.
constexpr int64_t MaxStep = int64_t{1} << 30;
constexpr int64_t DiscardPiece = 8192;

// The library's memory comes from the process heap; Items x Size is checked
// for overflow.
void* BzAlloc(void*, int Items, int Size) {
    if (Items < 0 || Size < 0) return nullptr;
    const auto Bytes = static_cast<size_t>(Items) * static_cast<size_t>(Size);
    return std::malloc(std::max<size_t>(Bytes, 1));
}

void BzFree(void*, void* Address) {
    std::free(Address);
}

} // namespace

EBZDecompressionError::EBZDecompressionError(int Code)
    : ECustomBZip2Error(Format("error %d", Code)) {}
EBZCompressionError::EBZCompressionError(int Code) : ECustomBZip2Error(Format("error %d", Code)) {}
EBZip2Error::EBZip2Error(int Code) : ECustomBZip2Error(Format("Compression Error %d", Code)) {}

// ---------------------------------------------------------------------------
// TCustomBZip2Stream

TCustomBZip2Stream::TCustomBZip2Stream(TStream* Strm)
    : FStrm(Strm), FStrmPos(Strm->Position()), FBuffer(new char[BufferSize]) {
    FBZRec.bzalloc = BzAlloc;
    FBZRec.bzfree = BzFree;
}

// ---------------------------------------------------------------------------
// TBZDecompressionStream

TBZDecompressionStream::TBZDecompressionStream(TStream* Source)
    : TCustomBZip2Stream(Source), FStartPos(FStrmPos) {
    InitDecoder();
}

TBZDecompressionStream::~TBZDecompressionStream() {
    EndDecoder();
}

// Sets up a decoder for the next stream; input still buffered stays for it.
void TBZDecompressionStream::InitDecoder() {
    const int Rc = BZ2_bzDecompressInit(&FBZRec, 0, 0);
    if (Rc != BZ_OK) throw EBZDecompressionError(Rc);
    FDecoding = true;
}

void TBZDecompressionStream::EndDecoder() {
    if (FDecoding) BZ2_bzDecompressEnd(&FBZRec);
    FDecoding = false;
}

// Takes the next piece of Source into the buffer, from where the last piece
// ended even when someone moved Source meanwhile.
void TBZDecompressionStream::Refill() {
    if (FStrm->Position() != FStrmPos) FStrm->Seek(FStrmPos, soBeginning);
    const int64_t N = FStrm->Read(FBuffer.get(), BufferSize);
    if (N <= 0) {
        FSourceEnded = true;
        return;
    }
    FStrmPos += N;
    FBZRec.next_in = FBuffer.get();
    FBZRec.avail_in = static_cast<unsigned>(N);
}

int64_t TBZDecompressionStream::Read(void* Buffer, int64_t Count) {
    auto* Out = static_cast<char*>(Buffer);
    int64_t Done = 0;
    while (Done < Count && !FFinished) {
        if (FBZRec.avail_in == 0 && !FSourceEnded) Refill();
        if (FStreamEnded) {
            // Another stream follows only where bytes follow.
            if (FBZRec.avail_in == 0) {
                FFinished = true;
                break;
            }
            InitDecoder();
            FStreamEnded = false;
        }
        const auto Room = static_cast<unsigned>(std::min(Count - Done, MaxStep));
        const unsigned InBefore = FBZRec.avail_in;
        FBZRec.next_out = Out + Done;
        FBZRec.avail_out = Room;
        const int Rc = BZ2_bzDecompress(&FBZRec);
        const unsigned Produced = Room - FBZRec.avail_out;
        Done += Produced;
        FOutPos += Produced;
        Progress();
        if (Rc == BZ_STREAM_END) {
            EndDecoder();
            FStreamEnded = true;
            ++FStreamsDone;
            continue;
        }
        // Bytes after a complete stream that start no other stream are not
        // bzip2 data: the data ended with the last stream.
        if (Rc == BZ_DATA_ERROR_MAGIC && FStreamsDone > 0) {
            EndDecoder();
            FFinished = true;
            break;
        }
        if (Rc != BZ_OK) throw EBZCompressionError(Rc);
        if (Produced == 0 && FBZRec.avail_in == InBefore) {
            // The decoder wants more input and Source has none: the data ends
            // inside a stream. What was decoded before that goes out first.
            if (Done > 0) break;
            throw EBZCompressionError(BZ_UNEXPECTED_EOF);
        }
    }
    return Done;
}

int64_t TBZDecompressionStream::Write(const void*, int64_t) {
    throw EBZDecompressionError(std::string(SInvalidStreamOp));
}

void TBZDecompressionStream::Restart() {
    EndDecoder();
    FBZRec.next_in = nullptr;
    FBZRec.avail_in = 0;
    FStrm->Seek(FStartPos, soBeginning);
    FStrmPos = FStartPos;
    FOutPos = 0;
    FStreamsDone = 0;
    FSourceEnded = FStreamEnded = FFinished = false;
    InitDecoder();
}

void TBZDecompressionStream::Discard(int64_t Count) {
    char Piece[DiscardPiece];
    while (Count > 0) {
        const int64_t N = Read(Piece, std::min(Count, DiscardPiece));
        if (N <= 0) return;
        Count -= N;
    }
}

int64_t TBZDecompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soBeginning) {
        Restart();
        return 0;
    }
    int64_t Target = -1;
    if (Origin == soCurrent && Offset >= 0 &&
        Offset <= std::numeric_limits<int64_t>::max() - FOutPos)
        Target = FOutPos + Offset;
    else if (Origin == soBeginning && Offset >= FOutPos)
        Target = Offset;
    if (Target < 0) throw EBZDecompressionError(std::string(SInvalidStreamOp));
    Discard(Target - FOutPos);
    return FOutPos;
}

// ---------------------------------------------------------------------------
// TBZCompressionStream

TBZCompressionStream::TBZCompressionStream(TBlockSize100k BlockSize100k, TStream* Dest)
    : TCustomBZip2Stream(Dest) {
    const int Rc = BZ2_bzCompressInit(&FBZRec, static_cast<int>(BlockSize100k) + 1, 0, 0);
    if (Rc != BZ_OK) throw EBZCompressionError(Rc);
}

TBZCompressionStream::~TBZCompressionStream() {
    try {
        Flush();
    } catch (...) {
        // A destructor cannot report Dest's failure; Flush can.
    }
    BZ2_bzCompressEnd(&FBZRec);
}

int64_t TBZCompressionStream::Read(void*, int64_t) {
    throw EBZCompressionError(std::string(SInvalidStreamOp));
}

// Runs the encoder over the pending input with Action, writing every buffer
// it fills to Dest, until it has taken all input (BZ_RUN) or ended the
// stream (BZ_FINISH).
void TBZCompressionStream::Compress(int Action) {
    for (;;) {
        FBZRec.next_out = FBuffer.get();
        FBZRec.avail_out = static_cast<unsigned>(BufferSize);
        const int Rc = BZ2_bzCompress(&FBZRec, Action);
        if (Rc < 0) throw EBZCompressionError(Rc);
        const int64_t Produced = BufferSize - FBZRec.avail_out;
        if (Produced > 0) {
            FStrm->WriteBuffer(FBuffer.get(), Produced);
            FStrmPos += Produced;
        }
        Progress();
        if (Action == BZ_FINISH ? Rc == BZ_STREAM_END : FBZRec.avail_in == 0) return;
    }
}

int64_t TBZCompressionStream::Write(const void* Buffer, int64_t Count) {
    if (FFinished) throw EBZCompressionError(std::string(SInvalidStreamOp));
    const auto* In = static_cast<const char*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        const auto Step = static_cast<unsigned>(std::min(Count - Done, MaxStep));
        FBZRec.next_in = const_cast<char*>(In + Done);
        FBZRec.avail_in = Step;
        Compress(BZ_RUN);
        Done += Step;
    }
    FInPos += Done;
    return Done;
}

int64_t TBZCompressionStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soCurrent) return FInPos;
    throw EBZCompressionError(std::string(SInvalidStreamOp));
}

void TBZCompressionStream::Flush() {
    if (FFinished) return;
    FFinished = true;
    FBZRec.next_in = nullptr;
    FBZRec.avail_in = 0;
    Compress(BZ_FINISH);
}

} // namespace kivo
