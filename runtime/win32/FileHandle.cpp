// Files through CreateFileW with the share modes the streams ask for. The
// handle is kept in a C runtime descriptor, so that it fits the runtime's
// integer handles; error codes are the nearest errno values.
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "runtime/OsFile.h"
#include "runtime/win32/WideText.h"

namespace kivo::os {

namespace {

HANDLE ApiHandle(THandle Handle) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(Handle));
}

DWORD AccessOf(uint16_t Access) {
    if (Access == fmOpenWrite) return GENERIC_WRITE;
    if (Access == fmOpenReadWrite) return GENERIC_READ | GENERIC_WRITE;
    return GENERIC_READ;
}

// What others may do with the file while this handle is open.
DWORD ShareOf(uint16_t Share) {
    switch (Share) {
    case fmShareExclusive: return 0;
    case fmShareDenyWrite: return FILE_SHARE_READ;
    case fmShareDenyRead: return FILE_SHARE_WRITE;
    case fmShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    default: return FILE_SHARE_READ | FILE_SHARE_WRITE; // compatibility mode
    }
}

// One transfer of at most 1 GiB (the API counts in 32 bits).
DWORD Chunk(int64_t Count) {
    return static_cast<DWORD>(Count > (1 << 30) ? (1 << 30) : Count);
}

} // namespace

int FileOpen(const std::string& FileName, uint16_t Mode, uint32_t Rights, THandle& Handle) {
    const bool Create = (Mode & 0xFF00) == fmCreate;
    const uint16_t Access = Create ? fmOpenReadWrite : (Mode & 0x0003);
    // Without the owner's write permission a new file is read-only.
    const DWORD Attributes =
        (Create && (Rights & 0200) == 0) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    const std::wstring Path = ApiPath(FileName);
    // CREATE_ALWAYS truncates only once the share check has passed.
    HANDLE H = ::CreateFileW(Path.c_str(), AccessOf(Access), ShareOf(Mode & 0x00F0), nullptr,
                             Create ? CREATE_ALWAYS : OPEN_EXISTING, Attributes, nullptr);
    if (H == INVALID_HANDLE_VALUE) {
        const DWORD Err = ::GetLastError();
        // Opening a folder is refused with "access denied"; say what it is.
        const DWORD Attr = ::GetFileAttributesW(Path.c_str());
        if (Attr != INVALID_FILE_ATTRIBUTES && (Attr & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return EISDIR;
        return ErrnoOf(Err);
    }
    const int Fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(H), _O_BINARY);
    if (Fd < 0) {
        ::CloseHandle(H);
        return EMFILE;
    }
    Handle = Fd;
    return 0;
}

void FileClose(THandle Handle) {
    ::_close(Handle);
}

bool IsSharingViolation(int Error) {
    return Error == EBUSY;
}

int64_t FileRead(THandle Handle, void* Buffer, int64_t Count) {
    DWORD Done = 0;
    if (!::ReadFile(ApiHandle(Handle), Buffer, Chunk(Count), &Done, nullptr))
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return Done;
}

int64_t FileWrite(THandle Handle, const void* Buffer, int64_t Count) {
    DWORD Done = 0;
    if (!::WriteFile(ApiHandle(Handle), Buffer, Chunk(Count), &Done, nullptr)) return -1;
    return Done;
}

// Positioned transfers move the file position on Windows: it is put back.
int64_t FileReadAt(THandle Handle, void* Buffer, int64_t Count, int64_t Offset) {
    const int64_t Here = FileSeek(Handle, 0, soCurrent);
    OVERLAPPED At{};
    At.Offset = static_cast<DWORD>(static_cast<uint64_t>(Offset) & 0xFFFFFFFFu);
    At.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(Offset) >> 32);
    DWORD Done = 0;
    const BOOL Ok = ::ReadFile(ApiHandle(Handle), Buffer, Chunk(Count), &Done, &At);
    const DWORD Err = ::GetLastError();
    if (Here >= 0) FileSeek(Handle, Here, soBeginning);
    if (!Ok) return Err == ERROR_HANDLE_EOF ? 0 : -1;
    return Done;
}

int64_t FileWriteAt(THandle Handle, const void* Buffer, int64_t Count, int64_t Offset) {
    const int64_t Here = FileSeek(Handle, 0, soCurrent);
    OVERLAPPED At{};
    At.Offset = static_cast<DWORD>(static_cast<uint64_t>(Offset) & 0xFFFFFFFFu);
    At.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(Offset) >> 32);
    DWORD Done = 0;
    const BOOL Ok = ::WriteFile(ApiHandle(Handle), Buffer, Chunk(Count), &Done, &At);
    if (Here >= 0) FileSeek(Handle, Here, soBeginning);
    return Ok ? static_cast<int64_t>(Done) : -1;
}

int64_t FileSeek(THandle Handle, int64_t Offset, TSeekOrigin Origin) {
    const DWORD Method = Origin == soBeginning ? FILE_BEGIN
                         : Origin == soCurrent ? FILE_CURRENT
                                               : FILE_END;
    LARGE_INTEGER Distance, Result;
    Distance.QuadPart = Offset;
    if (!::SetFilePointerEx(ApiHandle(Handle), Distance, &Result, Method)) return -1;
    return Result.QuadPart;
}

int FileTruncate(THandle Handle, int64_t Size) {
    const int64_t Here = FileSeek(Handle, 0, soCurrent);
    if (FileSeek(Handle, Size, soBeginning) < 0) return LastErrno();
    const int Err = ::SetEndOfFile(ApiHandle(Handle)) ? 0 : LastErrno();
    if (Here >= 0) FileSeek(Handle, Here, soBeginning);
    return Err;
}

int64_t FileSize(THandle Handle) {
    LARGE_INTEGER Size;
    return ::GetFileSizeEx(ApiHandle(Handle), &Size) ? Size.QuadPart : -1;
}

} // namespace kivo::os
