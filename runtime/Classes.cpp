#include "runtime/Classes.h"

#include <algorithm>
#include <cstring>

#include "runtime/OsFile.h"
#include "runtime/SysMessages.h"

namespace kivo {

const char* const SReadError = "Stream-Lesefehler";
const char* const SWriteError = "Stream-Schreibfehler";

namespace {

std::string OsText(int Err) {
    // A conflicting share mode gets the text of a sharing violation.
    if (os::IsSharingViolation(Err)) return TrimSystemText(SysErrorMessage(32)) + ".";
    return ErrnoMessage(Err);
}

} // namespace

EFCreateError::EFCreateError(const std::string& AFileName, int OsCode)
    : EFileStreamError(Format("Datei \"%s\" kann nicht erstellt werden. %s", AFileName.c_str(),
                              OsText(OsCode).c_str()),
                       AFileName, OsCode) {}

EFOpenError::EFOpenError(const std::string& AFileName, int OsCode)
    : EFileStreamError(Format("Datei \"%s\" kann nicht geöffnet werden. %s", AFileName.c_str(),
                              OsText(OsCode).c_str()),
                       AFileName, OsCode) {}

EReadError::EReadError() : EFilerError(SReadError) {}
EWriteError::EWriteError() : EFilerError(SWriteError) {}

EListError::EListError(int64_t Index)
    : Exception(
          Format("Listenindex überschreitet das Maximum (%lld)", static_cast<long long>(Index))) {}

// ---------------------------------------------------------------------------
// TStream

int64_t TStream::Size() {
    int64_t Pos = Seek(0, soCurrent);
    int64_t Result = Seek(0, soEnd);
    Seek(Pos, soBeginning);
    return Result;
}

void TStream::SetSize(int64_t) {}

int64_t TStream::ReadUpTo(void* Buffer, int64_t Count) {
    auto* P = static_cast<uint8_t*>(Buffer);
    int64_t Done = 0;
    // Streams may return fewer bytes than asked before their end (pipes,
    // spanned sets); only a read that returns nothing ends the stream.
    while (Done < Count) {
        int64_t N = Read(P + Done, Count - Done);
        if (N <= 0) break;
        Done += N;
    }
    return Done;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
    if (ReadUpTo(Buffer, Count) < Count) throw EReadError();
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
    const auto* P = static_cast<const uint8_t*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        int64_t N = Write(P + Done, Count - Done);
        if (N <= 0) throw EWriteError();
        Done += N;
    }
}

int64_t TStream::CopyFrom(TStream* Source, int64_t Count, int64_t BufferSize) {
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    if (BufferSize <= 0) BufferSize = 65536;
    BufferSize = std::min(BufferSize, std::max<int64_t>(Count, 1));
    std::vector<uint8_t> Buffer(static_cast<size_t>(BufferSize));
    int64_t Left = Count;
    while (Left > 0) {
        int64_t N = std::min(Left, BufferSize);
        Source->ReadBuffer(Buffer.data(), N);
        WriteBuffer(Buffer.data(), N);
        Left -= N;
    }
    return Count;
}

// The position a seek in a memory-backed stream moves to. Seeks past the end
// are allowed: reads there return nothing, and a write to a TMemoryStream
// fills the gap with zeros.
static int64_t SeekTarget(int64_t Position, int64_t Size, int64_t Offset, TSeekOrigin Origin) {
    switch (Origin) {
    case soBeginning: return Offset;
    case soCurrent: return Position + Offset;
    case soEnd: return Size + Offset;
    }
    return Position;
}

// ---------------------------------------------------------------------------
// TMemoryStream

void TMemoryStream::Reserve(int64_t Capacity) {
    if (Capacity <= static_cast<int64_t>(FData.size())) return;
    // Grow geometrically so that appending byte runs stays linear.
    size_t NewCap =
        std::max<size_t>(static_cast<size_t>(Capacity), FData.size() + FData.size() / 2);
    FData.resize(std::max<size_t>(NewCap, 256));
}

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0 || FPosition >= FSize) return 0;
    int64_t N = std::min(Count, FSize - FPosition);
    std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0 || FPosition < 0) return 0;
    int64_t End = FPosition + Count;
    if (End > FSize) {
        Reserve(End);
        if (FPosition > FSize)
            std::memset(FData.data() + FSize, 0, static_cast<size_t>(FPosition - FSize));
        FSize = End;
    }
    std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
    FPosition = End;
    return Count;
}

uint8_t* TMemoryStream::AppendSpace(int64_t MinCount, int64_t& Avail) {
    Avail = 0;
    if (FPosition != FSize) return nullptr;
    Reserve(FSize + MinCount);
    Avail = static_cast<int64_t>(FData.size()) - FSize;
    return FData.data() + FSize;
}

void TMemoryStream::CommitAppend(int64_t Count) {
    KIVO_ASSERT(FPosition == FSize && Count >= 0 &&
                    FSize + Count <= static_cast<int64_t>(FData.size()),
                "TMemoryStream.CommitAppend: more bytes than AppendSpace gave");
    FSize += Count;
    FPosition = FSize;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    FPosition = SeekTarget(FPosition, FSize, Offset, Origin);
    return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
    if (NewSize < 0) NewSize = 0;
    int64_t Old = FSize;
    Reserve(NewSize);
    if (NewSize > Old) std::memset(FData.data() + Old, 0, static_cast<size_t>(NewSize - Old));
    FSize = NewSize;
    if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FSize = 0;
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
    Stream->SetPosition(0);
    int64_t Count = Stream->Size();
    SetSize(Count);
    if (Count > 0) Stream->ReadBuffer(FData.data(), Count);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&F);
}

void TMemoryStream::SaveToStream(TStream* Stream) {
    if (FSize > 0) Stream->WriteBuffer(FData.data(), FSize);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
    TFileStream F(FileName, fmCreate);
    SaveToStream(&F);
}

// ---------------------------------------------------------------------------
// TReadOnlyMemoryStream

int64_t TReadOnlyMemoryStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0 || FPosition < 0 || FPosition >= FSize) return 0;
    int64_t N = std::min(Count, FSize - FPosition);
    std::memcpy(Buffer, FData + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    FPosition = SeekTarget(FPosition, FSize, Offset, Origin);
    return FPosition;
}

// ---------------------------------------------------------------------------
// THandleStream

int64_t THandleStream::Read(void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    return std::max<int64_t>(os::FileRead(FHandle, Buffer, Count), 0);
}

int64_t THandleStream::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    return std::max<int64_t>(os::FileWrite(FHandle, Buffer, Count), 0);
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    return os::FileSeek(FHandle, Offset, Origin);
}

void THandleStream::SetSize(int64_t NewSize) {
    Seek(NewSize, soBeginning);
    if (int Err = os::FileTruncate(FHandle, NewSize); Err != 0) throw EInOutError(Err);
}

// ---------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode)
    : THandleStream(-1), FFileName(FileName) {
    Open(Mode, 0666);
}

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode, uint32_t Rights)
    : THandleStream(-1), FFileName(FileName) {
    Open(Mode, Rights);
}

void TFileStream::Open(uint16_t Mode, uint32_t Rights) {
    const int Err = os::FileOpen(FFileName, Mode, Rights, FHandle);
    if (Err == 0) return;
    if ((Mode & 0xFF00) == fmCreate) throw EFCreateError(FFileName, Err);
    throw EFOpenError(FFileName, Err);
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) os::FileClose(FHandle);
}

// ---------------------------------------------------------------------------
// TBufferedFileStream

TBufferedFileStream::TBufferedFileStream(const std::string& FileName, uint16_t Mode,
                                         int32_t BufferSize)
    : TFileStream(FileName, Mode) {
    FBuffer.resize(static_cast<size_t>(std::max(BufferSize, 16)));
}

TBufferedFileStream::~TBufferedFileStream() {
    try {
        FlushBuffer();
    } catch (...) {
        // A destructor cannot report; callers that care flush first.
    }
}

void TBufferedFileStream::FlushBuffer() {
    if (!FModified) return;
    FModified = false;
    int64_t Done = 0;
    while (Done < FBufCount) {
        const int64_t N =
            os::FileWriteAt(FHandle, FBuffer.data() + Done, FBufCount - Done, FFilePos + Done);
        if (N <= 0) throw EWriteError();
        Done += N;
    }
    if (FFileSize >= 0) FFileSize = std::max(FFileSize, FFilePos + FBufCount);
}

void TBufferedFileStream::EmptyBuffer() {
    FlushBuffer();
    FFilePos += FBufPos;
    FBufPos = 0;
    FBufCount = 0;
}

bool TBufferedFileStream::FillBuffer() {
    EmptyBuffer();
    const int64_t N =
        os::FileReadAt(FHandle, FBuffer.data(), static_cast<int64_t>(FBuffer.size()), FFilePos);
    if (N <= 0) return false;
    FBufCount = static_cast<int32_t>(N);
    return true;
}

int64_t TBufferedFileStream::Read(void* Buffer, int64_t Count) {
    auto* Out = static_cast<uint8_t*>(Buffer);
    int64_t Done = 0;
    while (Done < Count) {
        int64_t Avail = FBufCount - FBufPos;
        if (Avail > 0) {
            int64_t N = std::min(Avail, Count - Done);
            std::memcpy(Out + Done, FBuffer.data() + FBufPos, static_cast<size_t>(N));
            FBufPos += static_cast<int32_t>(N);
            Done += N;
            continue;
        }
        if (Count - Done >= static_cast<int64_t>(FBuffer.size())) {
            // Large reads bypass the buffer.
            EmptyBuffer();
            const int64_t N = os::FileReadAt(FHandle, Out + Done, Count - Done, FFilePos);
            if (N <= 0) break;
            FFilePos += N;
            Done += N;
            continue;
        }
        if (!FillBuffer()) break;
    }
    return Done;
}

int64_t TBufferedFileStream::Write(const void* Buffer, int64_t Count) {
    const auto* In = static_cast<const uint8_t*>(Buffer);
    int64_t Done = 0;
    const auto Cap = static_cast<int64_t>(FBuffer.size());
    while (Done < Count) {
        if (FBufPos == Cap) {
            EmptyBuffer();
        }
        if (FBufPos == 0 && FBufCount == 0 && Count - Done >= Cap) {
            // Large writes bypass the buffer.
            const int64_t N = os::FileWriteAt(FHandle, In + Done, Count - Done, FFilePos);
            if (N <= 0) break;
            FFilePos += N;
            Done += N;
            if (FFileSize >= 0) FFileSize = std::max(FFileSize, FFilePos);
            continue;
        }
        int64_t N = std::min(Cap - FBufPos, Count - Done);
        std::memcpy(FBuffer.data() + FBufPos, In + Done, static_cast<size_t>(N));
        FBufPos += static_cast<int32_t>(N);
        FBufCount = std::max(FBufCount, FBufPos);
        FModified = true;
        Done += N;
    }
    return Done;
}

int64_t TBufferedFileStream::Size() {
    if (FFileSize < 0) FFileSize = std::max<int64_t>(os::FileSize(FHandle), 0);
    return std::max(FFileSize, FFilePos + FBufCount);
}

int64_t TBufferedFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t Target = 0;
    switch (Origin) {
    case soBeginning: Target = Offset; break;
    case soCurrent: Target = FFilePos + FBufPos + Offset; break;
    case soEnd:
        FFileSize = -1; // another writer may have grown the file
        Target = Size() + Offset;
        break;
    }
    if (Target < 0) return -1;
    if (Target >= FFilePos && Target <= FFilePos + FBufCount) {
        FBufPos = static_cast<int32_t>(Target - FFilePos);
    } else {
        FlushBuffer();
        FFilePos = Target;
        FBufPos = 0;
        FBufCount = 0;
    }
    return Target;
}

void TBufferedFileStream::SetSize(int64_t NewSize) {
    FlushBuffer();
    FBufPos = 0;
    FBufCount = 0;
    if (int Err = os::FileTruncate(FHandle, NewSize); Err != 0) throw EInOutError(Err);
    FFileSize = NewSize;
    FFilePos = NewSize; // the position moves to the new end, as for plain files
}

// ---------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    FComponentState |= csDestroying;
    // Tell everyone who asked, then free what we own (last created first).
    std::vector<TComponent*> Notifies;
    Notifies.swap(FFreeNotifies);
    for (TComponent* C : Notifies) {
        auto& Theirs = C->FFreeNotifies;
        Theirs.erase(std::remove(Theirs.begin(), Theirs.end(), this), Theirs.end());
        C->Notification(this, opRemove);
    }
    while (!FComponents.empty()) {
        TComponent* Child = FComponents.back();
        FComponents.pop_back();
        Child->FOwner = nullptr;
        delete Child;
    }
    if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::SetDesigning(bool Value) {
    if (Value)
        FComponentState |= csDesigning;
    else
        FComponentState &= ~csDesigning;
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount()) throw EListError(Index);
    return FComponents[static_cast<size_t>(Index)];
}

void TComponent::InsertComponent(TComponent* AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    Notification(AComponent, opRemove);
    FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), AComponent),
                      FComponents.end());
    AComponent->FOwner = nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
        AComponent->FFreeNotifies.end())
        AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                        FFreeNotifies.end());
    if (AComponent != nullptr) {
        auto& Theirs = AComponent->FFreeNotifies;
        Theirs.erase(std::remove(Theirs.begin(), Theirs.end(), this), Theirs.end());
    }
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent != nullptr) {
        FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                            FFreeNotifies.end());
    }
}

} // namespace kivo
