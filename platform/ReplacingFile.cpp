#include "platform/ReplacingFile.h"

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "runtime/SysUtils.h"

namespace kivo {

namespace {

// The target's name cut to at most 64 bytes on a character boundary: the
// temporary name stays short however long the target's is.
std::string ShortStem(const std::string& Name) {
    std::string Stem = Name.substr(0, 64);
    while (!Stem.empty() && (static_cast<unsigned char>(Stem.back()) & 0xC0) == 0x80)
        Stem.pop_back();
    if (!Stem.empty() && (static_cast<unsigned char>(Stem.back()) & 0x80) != 0) Stem.pop_back();
    return Stem;
}

std::string RandomTag() {
    static const char Chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 Gen{std::random_device{}()};
    std::string Tag(8, ' ');
    for (char& C : Tag)
        C = Chars[Gen() % 36];
    return Tag;
}

// The permission bits the new file ends with. Set-user-ID, set-group-ID and
// sticky bits never pass to new contents.
mode_t FinalMode(const std::string& TargetName, mode_t Created, TReplacingFileAccess Access) {
    struct stat Replaced {};
    mode_t Mode = (::stat(TargetName.c_str(), &Replaced) == 0 ? Replaced.st_mode : Created) & 0777;
    if (Access == rfaReadOnly) Mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    if (Access == rfaWritable) Mode |= S_IWUSR;
    return Mode;
}

} // namespace

int ReplaceRefusal(const std::string& TargetName) {
    struct stat St {};
    if (::stat(TargetName.c_str(), &St) != 0) return 0;
    if (S_ISDIR(St.st_mode)) return EISDIR;
    if (!S_ISREG(St.st_mode)) return EINVAL;
    // Read-only by its attributes: even a user who may write it keeps it.
    if ((St.st_mode & S_IWUSR) == 0) return EACCES;
    return ::access(TargetName.c_str(), W_OK) == 0 ? 0 : errno;
}

TReplacingFile::TReplacingFile(const std::string& TargetName, TReplacingFileAccess Access,
                               size_t BufferSize)
    : FTargetName(TargetName) {
    std::string Dir = ExtractFilePath(TargetName);
    if (Dir.empty()) Dir = "./";
    const std::string Stem = ShortStem(ExtractFileName(TargetName));
    for (int Attempt = 0; Attempt < 100 && FHandle < 0; ++Attempt) {
        FTempName = Dir + "." + Stem + "." + RandomTag() + ".part";
        // The permissions of a new file follow the process's umask.
        FHandle = ::open(FTempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (FHandle < 0 && errno != EEXIST) break;
    }
    if (FHandle < 0) throw EFCreateError(TargetName, errno);
    struct stat Created {};
    if (::fstat(FHandle, &Created) == 0) {
        const mode_t Mode = FinalMode(TargetName, Created.st_mode, Access);
        if (Mode != (Created.st_mode & 07777)) (void)::fchmod(FHandle, Mode);
    }
    FBuffer.reserve(BufferSize);
}

TReplacingFile::~TReplacingFile() {
    Discard();
}

int64_t TReplacingFile::Read(void*, int64_t) {
    return 0;
}

int64_t TReplacingFile::Write(const void* Buffer, int64_t Count) {
    if (Count <= 0) return 0;
    const auto* P = static_cast<const uint8_t*>(Buffer);
    const auto N = static_cast<size_t>(Count);
    if (FBuffer.size() + N > FBuffer.capacity()) Flush();
    if (N >= FBuffer.capacity())
        WriteThrough(P, N);
    else
        FBuffer.insert(FBuffer.end(), P, P + N);
    FPosition += Count;
    return Count;
}

int64_t TReplacingFile::Seek(int64_t Offset, TSeekOrigin Origin) {
    if (Offset == 0 && Origin == soCurrent) return FPosition;
    Flush();
    const int Whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t R = ::lseek(FHandle, static_cast<off_t>(Offset), Whence);
    if (R < 0) return -1;
    FPosition = R;
    return FPosition;
}

void TReplacingFile::Commit() {
    try {
        Flush();
        ApplyLastWriteTime();
        const int Fd = FHandle;
        FHandle = -1;
        if (::close(Fd) != 0 && errno != EINTR) throw EInOutError(errno);
        if (::rename(FTempName.c_str(), FTargetName.c_str()) != 0)
            throw EFCreateError(FTargetName, errno);
    } catch (...) {
        Discard();
        throw;
    }
    FCommitted = true;
}

void TReplacingFile::Discard() {
    FBuffer.clear();
    if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
    }
    if (!FCommitted && !FTempName.empty()) {
        ::unlink(FTempName.c_str());
        FTempName.clear();
    }
}

void TReplacingFile::Flush() {
    if (FBuffer.empty()) return;
    WriteThrough(FBuffer.data(), FBuffer.size());
    FBuffer.clear();
}

void TReplacingFile::WriteThrough(const uint8_t* Data, size_t Count) {
    if (FHandle < 0) throw EInOutError(EBADF);
    while (Count > 0) {
        const ssize_t N = ::write(FHandle, Data, Count);
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) throw EInOutError(N < 0 ? errno : ENOSPC);
        Data += N;
        Count -= static_cast<size_t>(N);
    }
}

void TReplacingFile::ApplyLastWriteTime() {
    if (FLastWriteTime == 0.0) return;
    timespec Times[2];
    Times[0].tv_sec = 0;
    Times[0].tv_nsec = UTIME_OMIT; // access time untouched
    Times[1].tv_sec = static_cast<time_t>(LocalDateTimeToUnix(FLastWriteTime));
    Times[1].tv_nsec = 0;
    (void)::futimens(FHandle, Times);
}

} // namespace kivo
