// Streams, their errors, and the component base class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/SysUtils.h"

namespace kivo {

// ---------------------------------------------------------------------------
// Stream errors

class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EFileStreamError : public EStreamError {
public:
    EFileStreamError(std::string Message, std::string AFileName, int OsCode)
        : EStreamError(std::move(Message)), FileName(std::move(AFileName)), OsErrorCode(OsCode) {}
    std::string FileName;
    int OsErrorCode = 0; // errno of the failed call
};
// A file could not be created / opened.
class EFCreateError : public EFileStreamError {
public:
    EFCreateError(const std::string& AFileName, int OsCode);
};
class EFOpenError : public EFileStreamError {
public:
    EFOpenError(const std::string& AFileName, int OsCode);
};
class EFilerError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
// A short read or write: "Stream-Lesefehler" / "Stream-Schreibfehler".
class EReadError : public EFilerError {
public:
    EReadError();
};
class EWriteError : public EFilerError {
public:
    EWriteError();
};
// An index outside a list: "Listenindex überschreitet das Maximum (%d)".
class EListError : public Exception {
public:
    explicit EListError(int64_t Index);
};

extern const char* const SReadError;  // "Stream-Lesefehler"
extern const char* const SWriteError; // "Stream-Schreibfehler"

// ---------------------------------------------------------------------------
// Streams

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to Count bytes; returns the number read (0 at the end or on
    // an error).
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // Writes up to Count bytes; returns the number written.
    virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
    // Moves the position; returns the new position.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t Value) { Seek(Value, soBeginning); }
    virtual int64_t Size();
    virtual void SetSize(int64_t NewSize);

    // Reads until Count bytes arrived or the stream ends; returns the number read.
    int64_t ReadUpTo(void* Buffer, int64_t Count);
    // Transfer exactly Count bytes or raise EReadError / EWriteError.
    void ReadBuffer(void* Buffer, int64_t Count);
    void WriteBuffer(const void* Buffer, int64_t Count);

    // Copies Count bytes from Source's position (Count 0: the whole of Source
    // from its start) in blocks of BufferSize bytes (0: 64 KiB). Returns the
    // number copied; a short read raises EReadError.
    int64_t CopyFrom(TStream* Source, int64_t Count, int64_t BufferSize = 0);
};

// A growable block of memory.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return FSize; }
    void SetSize(int64_t NewSize) override;

    uint8_t* Memory() { return FData.data(); }
    const uint8_t* Memory() const { return FData.data(); }
    // Appending in place, for a writer that builds its output where it ends
    // up: with the position at the end, memory there for at least MinCount
    // bytes (Avail receives how many fit before the buffer ends); nullptr when
    // the position is not at the end. Bytes put there join the stream through
    // CommitAppend, which moves the end and the position as Write would. The
    // memory, and the stream's bytes before it, stay where they are until a
    // call that grows the buffer (AppendSpace, Write, SetSize).
    uint8_t* AppendSpace(int64_t MinCount, int64_t& Avail);
    void CommitAppend(int64_t Count);
    void Clear();
    void LoadFromStream(TStream* Stream);
    void LoadFromFile(const std::string& FileName);
    void SaveToStream(TStream* Stream);
    void SaveToFile(const std::string& FileName);

private:
    void Reserve(int64_t Capacity);
    std::vector<uint8_t> FData; // capacity; FSize bytes are valid
    int64_t FSize = 0;
    int64_t FPosition = 0;
};

// A read-only view of memory owned by someone else.
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* Data, int64_t Size)
        : FData(static_cast<const uint8_t*>(Data)), FSize(Size) {}
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override { return FSize; }
    const uint8_t* Memory() const { return FData; }

private:
    const uint8_t* FData;
    int64_t FSize;
    int64_t FPosition = 0;
};

// File open modes: one access mode or'ed with one share mode, or fmCreate.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFF00;

// An open file as the operating system identifies it (a file descriptor on
// POSIX systems).
using THandle = int;

// A stream over an open file handle.
class THandleStream : public TStream {
public:
    explicit THandleStream(THandle Handle) : FHandle(Handle) {}
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    void SetSize(int64_t NewSize) override;
    THandle Handle() const { return FHandle; }

protected:
    THandle FHandle = -1;
};

// A file opened or created by name. Share modes are kept with advisory
// locks (flock) between the processes that honour them: exclusive and
// deny-read take an exclusive lock, deny-write a shared one for readers and
// an exclusive one for writers, deny-none none. A conflicting lock makes
// the open fail as a sharing violation would.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& FileName, uint16_t Mode);
    // Create with explicit permission bits for a new file.
    TFileStream(const std::string& FileName, uint16_t Mode, uint32_t Rights);
    ~TFileStream() override;
    const std::string& FileName() const { return FFileName; }

private:
    void Open(uint16_t Mode, uint32_t Rights);
    std::string FFileName;
};

// A file stream that reads and writes through a buffer of BufferSize bytes.
class TBufferedFileStream : public TFileStream {
public:
    TBufferedFileStream(const std::string& FileName, uint16_t Mode, int32_t BufferSize = 32768);
    ~TBufferedFileStream() override;
    int64_t Read(void* Buffer, int64_t Count) override;
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    int64_t Size() override;
    void SetSize(int64_t NewSize) override;
    // Writes pending bytes to the file; raises EWriteError when it cannot.
    void FlushBuffer();

private:
    // Writes pending bytes and moves the buffer's window to the current position.
    void EmptyBuffer();
    bool FillBuffer();
    std::vector<uint8_t> FBuffer;
    int64_t FFilePos = 0;   // file offset of FBuffer[0]
    int32_t FBufPos = 0;    // current position inside FBuffer
    int32_t FBufCount = 0;  // valid bytes in FBuffer (read mode)
    bool FModified = false; // FBuffer[0..FBufPos) holds unwritten bytes
    int64_t FFileSize = -1; // cached size, -1 when unknown
};

// ---------------------------------------------------------------------------
// Components: an owner frees the components it owns.

enum TOperation : uint8_t { opInsert, opRemove };

enum TComponentStateFlag : uint8_t { csLoading = 1, csDesigning = 2, csDestroying = 4 };

class TComponent {
public:
    explicit TComponent(TComponent* AOwner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value) { FName = Value; }
    intptr_t Tag() const { return FTag; }
    void SetTag(intptr_t Value) { FTag = Value; }
    uint8_t ComponentState() const { return FComponentState; }
    void SetDesigning(bool Value);

    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const;

    // AComponent will tell this component (Notification opRemove) when it is
    // destroyed, also when it is not owned by it.
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

protected:
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Called after the component's properties were loaded from a form.
    virtual void Loaded() { FComponentState &= ~csLoading; }

private:
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);

    TComponent* FOwner = nullptr;
    std::string FName;
    intptr_t FTag = 0;
    uint8_t FComponentState = 0;
    std::vector<TComponent*> FComponents;   // owned
    std::vector<TComponent*> FFreeNotifies; // not owned
};

} // namespace kivo
