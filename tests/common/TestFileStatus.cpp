#include "tests/common/TestFileStatus.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kivo::test {

namespace {

std::optional<struct stat> StatOf(const std::string& Path, bool FollowLinks = true) {
    struct stat St {};
    const int Rc = FollowLinks ? ::stat(Path.c_str(), &St) : ::lstat(Path.c_str(), &St);
    if (Rc != 0) return std::nullopt;
    return St;
}

// Runs chattr on Path; true when it worked.
bool Chattr(const char* Flag, const std::string& Path) {
    std::string Quoted = "'";
    for (char C : Path)
        Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
    Quoted += "'";
    return std::system(("chattr " + std::string(Flag) + " " + Quoted + " 2>/dev/null").c_str()) ==
           0;
}

} // namespace

bool IsReadOnly(const std::string& Path) {
    const auto St = StatOf(Path);
    return St && (St->st_mode & S_IWUSR) == 0;
}

bool SetReadOnly(const std::string& Path, bool ReadOnly) {
    return ::chmod(Path.c_str(), ReadOnly ? 0444 : 0644) == 0;
}

std::optional<unsigned> PermissionBits(const std::string& Path) {
    const auto St = StatOf(Path);
    if (!St) return std::nullopt;
    return static_cast<unsigned>(St->st_mode & 07777);
}

bool SetPermissionBits(const std::string& Path, unsigned Bits) {
    return ::chmod(Path.c_str(), static_cast<mode_t>(Bits)) == 0;
}

bool MakeSymbolicLink(const std::string& Target, const std::string& Name) {
    return ::symlink(Target.c_str(), Name.c_str()) == 0;
}

std::optional<std::string> LinkTarget(const std::string& Path) {
    std::vector<char> Buffer(4096);
    const ssize_t N = ::readlink(Path.c_str(), Buffer.data(), Buffer.size());
    if (N < 0) return std::nullopt;
    return std::string(Buffer.data(), static_cast<size_t>(N));
}

bool IsPlainFile(const std::string& Path) {
    const auto St = StatOf(Path, false);
    return St && S_ISREG(St->st_mode);
}

bool SetFileTimes(const std::string& Path, std::optional<int64_t> Access,
                  std::optional<int64_t> Write) {
    auto Spec = [](std::optional<int64_t> T) {
        return T ? timespec{static_cast<time_t>(*T), 0} : timespec{0, UTIME_OMIT};
    };
    const timespec Times[2] = {Spec(Access), Spec(Write)};
    return ::utimensat(AT_FDCWD, Path.c_str(), Times, 0) == 0;
}

std::optional<int64_t> FileAccessTime(const std::string& Path) {
    const auto St = StatOf(Path);
    if (!St) return std::nullopt;
    return static_cast<int64_t>(St->st_atim.tv_sec);
}

std::optional<int64_t> FileWriteTime(const std::string& Path) {
    const auto St = StatOf(Path);
    if (!St) return std::nullopt;
    return static_cast<int64_t>(St->st_mtim.tv_sec);
}

bool DenyWriting(const std::string& Folder) {
    // Root writes regardless of permission bits; only the flag stops it.
    if (::geteuid() == 0) return Chattr("+i", Folder);
    return ::chmod(Folder.c_str(), 0555) == 0;
}

void AllowWriting(const std::string& Folder) {
    if (::geteuid() == 0)
        Chattr("-i", Folder);
    else
        ::chmod(Folder.c_str(), 0755);
}

} // namespace kivo::test
