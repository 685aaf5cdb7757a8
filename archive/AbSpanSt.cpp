#include "archive/AbSpanSt.h"

#include <algorithm>
#include <cerrno>

#include "archive/AbExcept.h"
#include "archive/AbUtils.h"
#include "platform/FileSystem.h"

namespace kivo {

namespace {

// A disk is present when the free space of the archive's drive can be read.
bool DiskPresent(const std::string& ArchiveName) {
    std::string Dir = ExtractFileDir(ExpandFileName(ArchiveName));
    return DiskFree(Dir.empty() ? std::string(1, PathDelim) : Dir) >= 0;
}

void FlushAndClose(std::unique_ptr<TStream>& Stream) {
    if (auto* Buffered = dynamic_cast<TBufferedFileStream*>(Stream.get())) Buffered->FlushBuffer();
    Stream.reset();
}

} // namespace

// ---------------------------------------------------------------------------
// TAbSpanBaseStream

std::string TAbSpanBaseStream::DefaultImageName(const std::string& ArchiveName,
                                                int32_t ImageNumber) {
    std::string Ext = ExtractFileExt(ArchiveName);
    std::string Stem = ArchiveName.substr(0, ArchiveName.size() - Ext.size());
    std::string Prefix = Ext.size() < 2 ? std::string(".") : Ext.substr(0, 2);
    return Stem + Prefix + Format("%.2d", ImageNumber);
}

std::string TAbSpanBaseStream::GetImageName(int32_t ImageNumber) {
    std::string Name = DefaultImageName(FArchiveName, ImageNumber);
    if (FOnRequestImage) {
        bool Abort = false;
        FOnRequestImage(this, ImageNumber, Name, Abort);
        if (Abort) throw EAbUserAbort();
    }
    return Name;
}

// ---------------------------------------------------------------------------
// TAbSpanReadStream

TAbSpanReadStream::TAbSpanReadStream(const std::string& ArchiveName,
                                     std::unique_ptr<TStream> Stream, uint32_t CurrentImage)
    : TAbSpanBaseStream(ArchiveName), FCurrentImage(CurrentImage), FLastImage(CurrentImage),
      FStream(std::move(Stream)) {
    DetectSplit();
}

void TAbSpanReadStream::DetectSplit() {
    FIsSplit = FileExists(GetImageName(1)) || !IsRemovableDrive(FArchiveName);
}

void TAbSpanReadStream::SetOnRequestImage(TAbSpanRequestImageEvent Value) {
    TAbSpanBaseStream::SetOnRequestImage(std::move(Value));
    DetectSplit();
}

void TAbSpanReadStream::SwitchToImage(uint32_t Image) {
    FStream.reset();
    FCurrentImage = Image;
    std::string Name;
    if (!FIsSplit) {
        // Removable disks: every disk carries the archive's own name.
        if (!FOnRequestNthDisk) throw EAbUserAbort();
        do {
            bool Abort = false;
            FOnRequestNthDisk(this, static_cast<uint8_t>(Image + 1), Abort);
            if (Abort) throw EAbUserAbort();
        } while (!DiskPresent(FArchiveName));
        Name = FArchiveName;
    } else {
        Name = Image == FLastImage ? FArchiveName : GetImageName(static_cast<int32_t>(Image + 1));
    }
    FStream = std::make_unique<TBufferedFileStream>(Name, fmOpenRead | fmShareDenyWrite, 32768);
}

int64_t TAbSpanReadStream::Read(void* Buffer, int64_t Count) {
    if (!FStream || Count <= 0) return 0;
    auto* Out = static_cast<uint8_t*>(Buffer);
    int64_t Done = FStream->Read(Out, Count);
    while (Done < Count && FCurrentImage < FLastImage) {
        SwitchToImage(FCurrentImage + 1);
        int64_t N = FStream->Read(Out + Done, Count - Done);
        Done += std::max<int64_t>(N, 0);
    }
    return Done;
}

int64_t TAbSpanReadStream::Write(const void*, int64_t) {
    throw EAbException("TAbSpanReadStream.Write unsupported");
}

int64_t TAbSpanReadStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soCurrent) return FStream ? FStream->Position() : 0;
    throw EAbException("TAbSpanReadStream.Seek unsupported");
}

void TAbSpanReadStream::SeekImage(uint32_t Image, int64_t Offset) {
    if (!FStream) return;
    if (Image != FCurrentImage) SwitchToImage(Image);
    FStream->Seek(Offset, soBeginning);
}

// ---------------------------------------------------------------------------
// TAbSpanWriteStream

TAbSpanWriteStream::TAbSpanWriteStream(const std::string& ArchiveName, int64_t Threshold,
                                       std::unique_ptr<TStream> Stream)
    : TAbSpanBaseStream(ArchiveName), FStream(std::move(Stream)), FThreshold(Threshold) {}

TAbSpanWriteStream::~TAbSpanWriteStream() = default;

int64_t TAbSpanWriteStream::Read(void*, int64_t) {
    throw EAbException("TAbSpanWriteStream.Read unsupported");
}

void TAbSpanWriteStream::NewImage() {
    FlushAndClose(FStream);
    ++FCurrentImage;
    if (FThreshold > 0) {
        // The finished segment carries the archive's name; it becomes .zNN.
        if (!RenameFile(FArchiveName, GetImageName(static_cast<int32_t>(FCurrentImage))))
            throw EInOutError(errno);
    } else {
        if (!FOnRequestBlankDisk) throw EAbUserAbort();
        do {
            bool Abort = false;
            FOnRequestBlankDisk(this, Abort);
            if (Abort) throw EAbUserAbort();
        } while (!DiskPresent(FArchiveName));
    }
    FStream =
        std::make_unique<TBufferedFileStream>(FArchiveName, fmCreate | fmShareDenyWrite, 32768);
    FImageSize = 0;
}

int64_t TAbSpanWriteStream::Write(const void* Buffer, int64_t Count) {
    if (!FStream || Count <= 0) return 0;
    const auto* In = static_cast<const uint8_t*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        int64_t Piece = Count - Done;
        if (FThreshold > 0) Piece = std::min(Piece, FThreshold - FImageSize);
        int64_t Written = Piece > 0 ? std::max<int64_t>(FStream->Write(In + Done, Piece), 0) : 0;
        FImageSize += Written;
        Done += Written;
        if (Done >= Count) break;
        // A fresh image that takes nothing will not take more later.
        if (Written == 0 && FImageSize == 0) break;
        NewImage();
    }
    return Done;
}

bool TAbSpanWriteStream::WriteUnspanned(const void* Buffer, int64_t Count, bool FailOnSpan) {
    if (!FStream) throw EWriteError();
    int64_t Written = 0;
    if (FThreshold <= 0 || Count <= FThreshold - FImageSize)
        Written = std::max<int64_t>(FStream->Write(Buffer, Count), 0);
    if (Written < Count) {
        if (Written > 0) {
            int64_t Pos = FStream->Position();
            FStream->SetSize(Pos - Written);
        }
        NewImage();
        if (FailOnSpan) return false;
        if (FStream->Write(Buffer, Count) != Count) throw EWriteError();
    }
    FImageSize += Count;
    return true;
}

int64_t TAbSpanWriteStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soCurrent) return FStream ? FStream->Position() : 0;
    throw EAbException("TAbSpanWriteStream.Seek unsupported");
}

std::unique_ptr<TStream> TAbSpanWriteStream::ReleaseStream() {
    return std::move(FStream);
}

} // namespace kivo
