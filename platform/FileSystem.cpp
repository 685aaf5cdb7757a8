#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

#include "platform/PosixFileStatus.h"
#include "runtime/SysUtils.h"

namespace kivo {

bool FileExists(const std::string& FileName) {
    struct stat St {};
    return !FileName.empty() && ::stat(FileName.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

bool DirectoryExists(const std::string& DirName) {
    struct stat St {};
    return !DirName.empty() && ::stat(DirName.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool PathExists(const std::string& Name) {
    struct stat St {};
    return !Name.empty() && ::lstat(Name.c_str(), &St) == 0;
}

int64_t GetFileSize(const std::string& FileName) {
    struct stat St {};
    if (::stat(FileName.c_str(), &St) != 0) return -1;
    return static_cast<int64_t>(St.st_size);
}

void FileStatusFromStat(const struct stat& St, TFileStatus& Status) {
    Status.IsDirectory = S_ISDIR(St.st_mode);
    Status.IsRegular = S_ISREG(St.st_mode);
    Status.IsReadOnly = (St.st_mode & S_IWUSR) == 0;
    Status.Size = static_cast<int64_t>(St.st_size);
    Status.LastWriteTime = UnixToLocalDateTime(static_cast<int64_t>(St.st_mtim.tv_sec)) +
                           static_cast<double>(St.st_mtim.tv_nsec / 1000000) / MSecsPerDay;
    Status.Device = static_cast<uint64_t>(St.st_dev);
    Status.FileId = static_cast<uint64_t>(St.st_ino);
}

bool GetFileStatus(const std::string& Name, TFileStatus& Status) {
    struct stat St {};
    if (Name.empty() || ::stat(Name.c_str(), &St) != 0) return false;
    FileStatusFromStat(St, Status);
    return true;
}

bool CreateDir(const std::string& DirName) {
    return ::mkdir(DirName.c_str(), 0777) == 0;
}

bool ForceDirectories(const std::string& DirName) {
    std::string Dir = ExcludeTrailingPathDelimiter(DirName);
    if (Dir.empty() || DirectoryExists(Dir)) return true;
    std::string Parent = ExtractFileDir(Dir);
    if (!Parent.empty() && Parent != Dir && !ForceDirectories(Parent)) return false;
    if (CreateDir(Dir) || DirectoryExists(Dir)) return true;
    // Something that is no folder stands where the folder should be.
    if (errno == EEXIST) errno = ENOTDIR;
    return false;
}

bool RemoveDir(const std::string& DirName) {
    return ::rmdir(DirName.c_str()) == 0;
}

bool DeleteFile(const std::string& FileName) {
    struct stat St {};
    if (::lstat(FileName.c_str(), &St) == 0 && S_ISDIR(St.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return ::unlink(FileName.c_str()) == 0;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
    return ::rename(OldName.c_str(), NewName.c_str()) == 0;
}

uint32_t FileGetAttr(const std::string& FileName) {
    struct stat St {};
    if (::stat(FileName.c_str(), &St) != 0) return faInvalid;
    uint32_t Attr = 0;
    if (S_ISDIR(St.st_mode))
        Attr |= faDirectory;
    else if (!S_ISREG(St.st_mode))
        Attr |= faSysFile;
    if ((St.st_mode & S_IWUSR) == 0) Attr |= faReadOnly;
    std::string Name = ExtractFileName(ExcludeTrailingPathDelimiter(FileName));
    if (!Name.empty() && Name[0] == '.' && Name != "." && Name != "..") Attr |= faHidden;
    struct stat Lst {};
    if (::lstat(FileName.c_str(), &Lst) == 0 && S_ISLNK(Lst.st_mode)) Attr |= faSymLink;
    if (Attr == 0) Attr = faArchive;
    return Attr;
}

bool FileSetAttr(const std::string& FileName, uint32_t Attr) {
    struct stat St {};
    if (::stat(FileName.c_str(), &St) != 0) return false;
    mode_t Mode = St.st_mode & 07777;
    if ((Attr & faReadOnly) != 0)
        Mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        Mode |= S_IWUSR;
    return ::chmod(FileName.c_str(), Mode) == 0;
}

bool FileIsWritable(const std::string& FileName) {
    return ::access(FileName.c_str(), W_OK) == 0;
}

TAppendResult AppendToFile(const std::string& FileName, std::string_view Bytes) {
    TAppendResult Result;
    const int Fd = ::open(FileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (Fd < 0) {
        Result.Error = errno;
        return Result;
    }
    Result.Opened = true;
    while (!Bytes.empty()) {
        const ssize_t N = ::write(Fd, Bytes.data(), Bytes.size());
        if (N < 0) {
            if (errno == EINTR) continue;
            Result.Error = errno;
            break;
        }
        Bytes.remove_prefix(static_cast<size_t>(N));
    }
    if (::close(Fd) != 0 && Result.Error == 0) Result.Error = errno;
    return Result;
}

bool FileGetLastWriteTime(const std::string& FileName, TDateTime& Value) {
    TFileStatus Status;
    if (!GetFileStatus(FileName, Status)) return false;
    Value = Status.LastWriteTime;
    return true;
}

bool FileSetLastWriteTime(const std::string& FileName, TDateTime Value) {
    timespec Times[2];
    Times[0].tv_sec = 0;
    Times[0].tv_nsec = UTIME_OMIT; // access time untouched
    Times[1].tv_sec = static_cast<time_t>(LocalDateTimeToUnix(Value));
    Times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, FileName.c_str(), Times, 0) == 0;
}

std::string GetCurrentDir() {
    char Buffer[PATH_MAX];
    if (::getcwd(Buffer, sizeof Buffer) == nullptr) return std::string();
    return Buffer;
}

std::string ExpandFileName(std::string_view FileName) {
    std::string Full(FileName);
    if (Full.empty() || Full[0] != PathDelim)
        Full = IncludeTrailingPathDelimiter(GetCurrentDir()) + Full;
    bool TrailingDelim = Full.size() > 1 && Full.back() == PathDelim;
    std::vector<std::string> Parts;
    size_t Start = 1;
    while (Start <= Full.size()) {
        size_t End = Full.find(PathDelim, Start);
        if (End == std::string::npos) End = Full.size();
        std::string Part = Full.substr(Start, End - Start);
        if (Part == "..") {
            if (!Parts.empty()) Parts.pop_back();
        } else if (!Part.empty() && Part != ".") {
            Parts.push_back(Part);
        }
        Start = End + 1;
    }
    std::string Result;
    for (const std::string& Part : Parts)
        Result += PathDelim + Part;
    if (Result.empty()) return "/";
    if (TrailingDelim) Result += PathDelim;
    return Result;
}

bool IsAbsolutePath(std::string_view Name) {
    return !Name.empty() && Name[0] == PathDelim;
}

std::string GetTempDirectory() {
    const char* Env = std::getenv("TMPDIR");
    std::string Dir = (Env != nullptr && Env[0] != '\0' && DirectoryExists(Env)) ? Env : "/tmp";
    return IncludeTrailingPathDelimiter(Dir);
}

std::string CreateTempFileName(const std::string& Dir, const std::string& Prefix, bool CreateIt) {
    std::string Template = IncludeTrailingPathDelimiter(Dir) + Prefix + "XXXXXX";
    std::vector<char> Buffer(Template.begin(), Template.end());
    Buffer.push_back('\0');
    int Fd = ::mkstemp(Buffer.data()); // creates the file 0600, exclusively
    if (Fd < 0) return std::string();
    ::close(Fd);
    std::string Name(Buffer.data());
    if (!CreateIt) {
        // The caller wants a name only: give the name up again. The name was
        // unique when it was made; the caller creates the file exclusively.
        ::unlink(Name.c_str());
    }
    return Name;
}

namespace {

// Reads the first line of a small sysfs attribute file.
bool ReadSysfsLine(const std::string& Path, std::string& Line) {
    std::ifstream In(Path);
    return static_cast<bool>(std::getline(In, Line));
}

} // namespace

bool IsRemovablePath(const std::string& Path) {
    // Find the existing part of the path, then the block device that holds it.
    std::string Probe = ExpandFileName(Path);
    struct stat St {};
    while (::stat(Probe.c_str(), &St) != 0) {
        if (Probe == "/") return false;
        Probe = ExtractFileDir(Probe);
        if (Probe.empty()) return false;
    }
    std::string DevDir = "/sys/dev/block/" + std::to_string(major(St.st_dev)) + ":" +
                         std::to_string(minor(St.st_dev));
    // A partition's own directory has no "removable"; its parent disk does.
    std::string Line;
    if (ReadSysfsLine(DevDir + "/removable", Line)) return Line == "1";
    if (ReadSysfsLine(DevDir + "/../removable", Line)) return Line == "1";
    return false;
}

int64_t DiskFree(const std::string& Path) {
    struct statvfs Vfs {};
    if (::statvfs(Path.c_str(), &Vfs) != 0) return -1;
    return static_cast<int64_t>(Vfs.f_bavail) * static_cast<int64_t>(Vfs.f_frsize);
}

bool ListFolderNames(const std::string& DirName, std::vector<std::string>& Names) {
    Names.clear();
    DIR* Dir = ::opendir(DirName.empty() ? "." : DirName.c_str());
    if (Dir == nullptr) return false;
    while (const dirent* Entry = ::readdir(Dir)) {
        const std::string Name = Entry->d_name;
        if (Name != "." && Name != "..") Names.push_back(Name);
    }
    ::closedir(Dir);
    return true;
}

namespace {

uint32_t ReadProcessUmask() {
    // Linux tells it without changing it; elsewhere it is set and put back.
    std::ifstream Status("/proc/self/status");
    std::string Line;
    while (std::getline(Status, Line)) {
        if (Line.rfind("Umask:", 0) == 0)
            return static_cast<uint32_t>(std::strtoul(Line.c_str() + 6, nullptr, 8)) & 0777;
    }
    const mode_t Mask = ::umask(022);
    ::umask(Mask);
    return static_cast<uint32_t>(Mask) & 0777;
}

} // namespace

uint32_t ProcessUmask() {
    // Read once: a program sets its umask when it starts, and reading the
    // process status for every file written took about 5 % of extracting
    // many small files.
    static const uint32_t Mask = ReadProcessUmask();
    return Mask;
}

} // namespace kivo
