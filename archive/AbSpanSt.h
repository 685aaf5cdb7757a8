// Streams over a spanned or split ZIP set: several image files (a split
// archive: set.z01, set.z02, ..., set.zip) or several removable disks that
// together hold one archive, read or written as one stream.
//
// Removable-disk spanning needs a disk-request handler; without one every
// request counts as refused (EAbUserAbort). Volume labels of new disks are
// not written on this platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Classes.h"

namespace kivo {

// Requests of the span streams; Sender is the stream.
using TAbSpanRequestImageEvent =
    std::function<void(TStream* Sender, int32_t ImageNumber, std::string& ImageName, bool& Abort)>;
using TAbSpanRequestDiskEvent = std::function<void(TStream* Sender, bool& Abort)>;
using TAbSpanRequestNthDiskEvent =
    std::function<void(TStream* Sender, uint8_t DiskNumber, bool& Abort)>;

class TAbSpanBaseStream : public TStream {
public:
    explicit TAbSpanBaseStream(const std::string& ArchiveName) : FArchiveName(ArchiveName) {}
    const std::string& ArchiveName() const { return FArchiveName; }
    const TAbSpanRequestImageEvent& OnRequestImage() const { return FOnRequestImage; }
    virtual void SetOnRequestImage(TAbSpanRequestImageEvent Value) {
        FOnRequestImage = std::move(Value);
    }

    // Name of image ImageNumber (1-based): the archive name with its
    // extension cut to the dot and first letter, followed by the number with
    // at least two digits (archive.zip -> archive.z01); ".01" when the name
    // has no extension.
    static std::string DefaultImageName(const std::string& ArchiveName, int32_t ImageNumber);

protected:
    // The default name, passed through OnRequestImage (Abort: EAbUserAbort).
    std::string GetImageName(int32_t ImageNumber);

    std::string FArchiveName;
    TAbSpanRequestImageEvent FOnRequestImage;
};

class TAbSpanReadStream : public TAbSpanBaseStream {
public:
    // Stream is the already opened last image (taken over); CurrentImage is
    // its 0-based disk number.
    TAbSpanReadStream(const std::string& ArchiveName, std::unique_ptr<TStream> Stream,
                      uint32_t CurrentImage);

    // Reads across image boundaries; 0 without an open image.
    int64_t Read(void* Buffer, int64_t Count) override;
    // EAbException "TAbSpanReadStream.Write unsupported".
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Only Seek(0, soCurrent) is allowed: the position inside the current image.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    // Moves to Offset inside disk Image (switching images when needed);
    // nothing without an open image.
    void SeekImage(uint32_t Image, int64_t Offset);

    void SetOnRequestImage(TAbSpanRequestImageEvent Value) override;
    const TAbSpanRequestNthDiskEvent& OnRequestNthDisk() const { return FOnRequestNthDisk; }
    void SetOnRequestNthDisk(TAbSpanRequestNthDiskEvent Value) {
        FOnRequestNthDisk = std::move(Value);
    }

    uint32_t CurrentImage() const { return FCurrentImage; }
    uint32_t LastImage() const { return FLastImage; }
    bool IsSplit() const { return FIsSplit; }
    bool HasImage() const { return FStream != nullptr; }

private:
    void DetectSplit();
    void SwitchToImage(uint32_t Image);

    uint32_t FCurrentImage;
    bool FIsSplit = true;
    uint32_t FLastImage;
    std::unique_ptr<TStream> FStream;
    TAbSpanRequestNthDiskEvent FOnRequestNthDisk;
};

class TAbSpanWriteStream : public TAbSpanBaseStream {
public:
    // Stream is the first image's stream (taken over). Threshold > 0: split
    // files of at most Threshold bytes; otherwise removable disks filled to
    // capacity.
    TAbSpanWriteStream(const std::string& ArchiveName, int64_t Threshold,
                       std::unique_ptr<TStream> Stream);
    ~TAbSpanWriteStream() override;

    // EAbException "TAbSpanWriteStream.Read unsupported".
    int64_t Read(void* Buffer, int64_t Count) override;
    // Writes across images, starting new ones as they fill.
    int64_t Write(const void* Buffer, int64_t Count) override;
    // Writes a block that must not be divided between images. False when
    // FailOnSpan and the block did not fit (a new image was started and
    // nothing written).
    bool WriteUnspanned(const void* Buffer, int64_t Count, bool FailOnSpan = false);
    // Only Seek(0, soCurrent) is allowed: the position inside the current image.
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    // Gives the current image's stream back to the caller.
    std::unique_ptr<TStream> ReleaseStream();

    uint32_t CurrentImage() const { return FCurrentImage; }
    int64_t ImageSize() const { return FImageSize; }
    const TAbSpanRequestDiskEvent& OnRequestBlankDisk() const { return FOnRequestBlankDisk; }
    void SetOnRequestBlankDisk(TAbSpanRequestDiskEvent Value) {
        FOnRequestBlankDisk = std::move(Value);
    }

private:
    void NewImage();

    uint32_t FCurrentImage = 0;
    int64_t FImageSize = 0;
    std::unique_ptr<TStream> FStream;
    int64_t FThreshold;
    TAbSpanRequestDiskEvent FOnRequestBlankDisk;
};

} // namespace kivo
