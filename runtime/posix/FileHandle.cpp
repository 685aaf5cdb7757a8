// File descriptors under the runtime's streams. Share modes become advisory
// flock locks among the processes that honour them: exclusive and deny-read
// take an exclusive lock, deny-write a shared one for readers and an
// exclusive one for writers, deny-none none.
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/OsFile.h"

namespace kivo::os {

namespace {

// Repeats a system call that a signal interrupted before it transferred anything.
template <typename Call> int64_t RetryOnInterrupt(Call SystemCall) {
    ssize_t N;
    do {
        N = SystemCall();
    } while (N < 0 && errno == EINTR);
    return N < 0 ? -1 : static_cast<int64_t>(N);
}

int OpenFlags(bool Create, uint16_t Access) {
    int Flags = O_CLOEXEC;
    Flags |= Access == fmOpenWrite ? O_WRONLY : Access == fmOpenReadWrite ? O_RDWR : O_RDONLY;
    if (Create) Flags |= O_CREAT;
    return Flags;
}

// The flock operation that keeps Share for a file opened with Access; 0 for none.
int LockFor(uint16_t Share, uint16_t Access) {
    if (Share == fmShareExclusive || Share == fmShareDenyRead) return LOCK_EX;
    if (Share == fmShareDenyWrite || Share == fmShareCompat)
        return Access == fmOpenRead ? LOCK_SH : LOCK_EX;
    return 0;
}

// Closes Fd and passes Err on, for the failure paths of FileOpen.
int CloseWith(int Fd, int Err) {
    ::close(Fd);
    return Err;
}

} // namespace

int FileOpen(const std::string& FileName, uint16_t Mode, uint32_t Rights, THandle& Handle) {
    const bool Create = (Mode & 0xFF00) == fmCreate;
    const uint16_t Access = Create ? fmOpenReadWrite : (Mode & 0x0003);
    const int Fd = ::open(FileName.c_str(), OpenFlags(Create, Access), static_cast<mode_t>(Rights));
    if (Fd < 0) return errno;
    struct stat St {};
    if (::fstat(Fd, &St) == 0 && S_ISDIR(St.st_mode)) return CloseWith(Fd, EISDIR);
    const int Lock = LockFor(Mode & 0x00F0, Access);
    if (Lock != 0 && ::flock(Fd, Lock | LOCK_NB) != 0) return CloseWith(Fd, errno);
    // Truncate only once the lock is held, so a refused create leaves the
    // other holder's file intact.
    if (Create && ::ftruncate(Fd, 0) != 0) return CloseWith(Fd, errno);
    Handle = Fd;
    return 0;
}

void FileClose(THandle Handle) {
    ::close(Handle);
}

bool IsSharingViolation(int Error) {
    return Error == EWOULDBLOCK;
}

int64_t FileRead(THandle Handle, void* Buffer, int64_t Count) {
    return RetryOnInterrupt([&] { return ::read(Handle, Buffer, static_cast<size_t>(Count)); });
}

int64_t FileWrite(THandle Handle, const void* Buffer, int64_t Count) {
    return RetryOnInterrupt([&] { return ::write(Handle, Buffer, static_cast<size_t>(Count)); });
}

int64_t FileReadAt(THandle Handle, void* Buffer, int64_t Count, int64_t Offset) {
    return RetryOnInterrupt([&] {
        return ::pread(Handle, Buffer, static_cast<size_t>(Count), static_cast<off_t>(Offset));
    });
}

int64_t FileWriteAt(THandle Handle, const void* Buffer, int64_t Count, int64_t Offset) {
    return RetryOnInterrupt([&] {
        return ::pwrite(Handle, Buffer, static_cast<size_t>(Count), static_cast<off_t>(Offset));
    });
}

int64_t FileSeek(THandle Handle, int64_t Offset, TSeekOrigin Origin) {
    const int Whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t R = ::lseek(Handle, static_cast<off_t>(Offset), Whence);
    return R < 0 ? -1 : static_cast<int64_t>(R);
}

int FileTruncate(THandle Handle, int64_t Size) {
    return ::ftruncate(Handle, static_cast<off_t>(Size)) == 0 ? 0 : errno;
}

int64_t FileSize(THandle Handle) {
    struct stat St {};
    return ::fstat(Handle, &St) == 0 ? static_cast<int64_t>(St.st_size) : -1;
}

} // namespace kivo::os
