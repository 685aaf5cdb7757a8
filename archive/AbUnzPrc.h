// The ZIP extraction driver: positions on an item, checks its version and
// password, hands its data to the decoder of its method, checks the CRC-32
// and writes the target file with its time and attributes. The unzipper
// component installs WriteItemToFile, WriteItemToStream and VerifyZipItem as
// the helpers of a TAbZipArchive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/AbArcTyp.h"
#include "archive/AbZipTyp.h"
#include "runtime/Classes.h"

namespace kivo {

// A read-only window of aStreamSize bytes of another stream, starting at
// that stream's position when the window is made. Assumes that nobody else
// moves the underlying stream while the window is in use.
class TAbUnzipSubsetStream : public TStream {
public:
    TAbUnzipSubsetStream(TStream* aStream, int64_t aStreamSize);

    // At most the bytes left before the window's end.
    int64_t Read(void* Buffer, int64_t Count) override;
    // EAbException "TAbUnzipSubsetStream.Write not supported".
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Relative to the window's start, clamped to the window.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return FEndPos - FStartPos; }

private:
    TStream* FStream;
    int64_t FStartPos;
    int64_t FCurPos;
    int64_t FEndPos;
};

// A write-only wrapper that computes the CRC-32 of what passes through and
// reports item progress when the whole-number percentage changes. Without a
// target (testing) the bytes are counted, checked and dropped.
class TAbUnzipOutputStream : public TStream {
public:
    explicit TAbUnzipOutputStream(TStream* aStream) : FStream(aStream) {}

    // EAbException "TAbUnzipOutputStream.Read not supported".
    int64_t Read(void* Buffer, int64_t Count) override;
    // Writes all Count bytes to the target (its write error otherwise); an
    // abort from OnProgress raises EAbUserAbort after the bytes are written.
    // Bytes beyond UncompressedSize in all are refused before any of them is
    // written: EAbZipDataTooLong.
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Passed to the target; without one, the position is the bytes written.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    // The CRC-32 of everything written so far, or the writer's (below).
    uint32_t CRC32() const { return ~FCRC32; }
    // For a writer that checksums every byte it writes (Inflate does, before
    // each write): Write stops computing a second CRC-32, and the writer's
    // value is handed over with SetWriterCRC32 once it has finished.
    void SetWriterCountsCrc(bool Value) { FWriterCountsCrc = Value; }
    void SetWriterCRC32(uint32_t Value) { FCRC32 = ~Value; }
    int64_t BytesWritten() const { return FBytesWritten; }
    TStream* Stream() const { return FStream; }
    int64_t UncompressedSize() const { return FUncompressedSize; }
    void SetUncompressedSize(int64_t Value) { FUncompressedSize = Value; }
    const TAbProgressEvent& OnProgress() const { return FOnProgress; }
    void SetOnProgress(TAbProgressEvent Value) { FOnProgress = std::move(Value); }

private:
    int64_t FBytesWritten = 0;
    uint32_t FCRC32 = 0xFFFFFFFF;
    bool FWriterCountsCrc = false;
    uint8_t FCurrentProgress = 0;
    TStream* FStream;
    int64_t FUncompressedSize = 0;
    TAbProgressEvent FOnProgress;
};

// Asks for a (new) password through the archive's OnNeedPassword. A
// non-empty answer becomes the archive's Password; an empty one sets Abort.
void RequestPassword(TAbZipArchive& Archive, bool& Abort);
// When the archive has no password: RequestPassword and counts the try;
// EAbZipInvalidPassword when it still has none.
void CheckPassword(TAbZipArchive& Archive, int32_t& Tries, bool& Abort);

// The item's data, ready to be decoded: checks the version needed (6.4 and
// above: EAbZipVersion), reads the local header (EAbZipInvalid for a bad
// signature; EAbZipOverlap when the header and data do not lie in a place of
// their own) and returns a window of the compressed size after it; for an
// encrypted item a decrypt stream over that window, after the password loop
// (EAbZipInvalidPassword, EAbUserAbort). Nothing is written anywhere.
std::unique_ptr<TStream> OpenItemDataStream(TAbZipArchive& Archive, TAbZipItem* Item);

// Decodes the item's data from Source into Target through a CRC-32 counting
// wrapper and compares the CRC. Every file item is decoded, whatever size it
// declares (only one without stored data has nothing to decode); decoding
// stops with EAbZipDataTooLong as soon as the data runs past the declared
// size, and data that ends before it raises the stream read error. A CRC
// mismatch is reported through the archive's OnProcessItemFailure
// (ecMorvanta, 19) when it has one (the result is then false), else raised
// as EAbZipBadCRC. A folder item has no data: nothing is read or written.
// A null Target decodes and checks without keeping the bytes (testing).
bool ExtractItemData(TAbZipArchive& Archive, TAbZipItem* Item, TStream* Source, TStream* Target);

// The archive's ExtractHelper: a directory item creates the directory; a
// file item is decoded into a new temporary file in the target's folder,
// which replaces TargetName only once the data step has finished and the
// data passed its CRC check. The folder is reached from the base directory
// without following links (EAbUnsafePath otherwise) and the file is made and
// renamed inside it. Any failure removes the temporary file and leaves an
// existing target exactly as it was; an existing target that may not be
// written (read-only by its attributes or its permissions) is refused with
// EFCreateError before anything is decoded. Data whose CRC check failed
// (reported, not raised) is kept only where no entry had the target's name.
// A user abort also makes the archive invalid. The item's time and
// attributes are applied last.
void WriteItemToFile(TAbZipArchive& Archive, TAbZipItem* Item, const std::string& TargetName);
// The archive's ExtractToStreamHelper: EAbBadStream without a target.
void WriteItemToStream(TAbZipArchive& Archive, TAbZipItem* Item, TStream* Target);
// The archive's TestHelper: checks that the local header and data lie in a
// place of their own (EAbZipOverlap), compares the local header with the
// central directory entry (EAbZipInvalidLFH), then decodes without a target,
// with the size and CRC checks.
void VerifyZipItem(TAbZipArchive& Archive, TAbZipItem* Item);

} // namespace kivo
