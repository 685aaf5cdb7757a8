// File-system services: existence queries, directories, names, file times,
// attributes, temporary names and drive type. POSIX implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/DateTime.h"

namespace kivo {

constexpr char PathDelim = '/';
// The longest name of one file or folder (one path component), in bytes.
constexpr size_t MaxFileNameLength = 255;

// DOS/Windows attribute bits; on POSIX read-only is the owner-write bit
// cleared, directory the file type, hidden a leading dot of the name.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faSymLink = 0x400;
constexpr uint32_t faInvalid = 0xFFFFFFFF;

bool FileExists(const std::string& FileName);     // an existing non-directory
bool DirectoryExists(const std::string& DirName); // an existing directory
bool PathExists(const std::string& Name);         // anything at that name
int64_t GetFileSize(const std::string& FileName); // -1 when it cannot be queried

// What the file system says of one name (links followed).
struct TFileStatus {
    bool IsDirectory = false;
    bool IsRegular = false;  // a plain file (not a folder, device, pipe or socket)
    bool IsReadOnly = false; // the read-only attribute: no write permission for the owner
    int64_t Size = 0;
    TDateTime LastWriteTime = 0; // local time
    // Together they name one file, whichever of its names was asked for.
    uint64_t Device = 0;
    uint64_t FileId = 0;
};
// False (errno set) when nothing can be found at Name.
bool GetFileStatus(const std::string& Name, TFileStatus& Status);

// Creates one directory; false with errno set when it fails.
bool CreateDir(const std::string& DirName);
// Creates the directory and every missing parent; false with errno set when
// it fails (ENOTDIR when a file stands where a folder should be).
bool ForceDirectories(const std::string& DirName);
bool RemoveDir(const std::string& DirName);
bool DeleteFile(const std::string& FileName);
// Renames, replacing an existing target.
bool RenameFile(const std::string& OldName, const std::string& NewName);

// Attribute word of a file (following links); faInvalid when it cannot be read.
uint32_t FileGetAttr(const std::string& FileName);
// Applies the read-only bit (owner write permission, following links); the
// other bits have no POSIX counterpart and are ignored. False on failure.
bool FileSetAttr(const std::string& FileName, uint32_t Attr);
// Whether the current user may write to the existing file.
bool FileIsWritable(const std::string& FileName);

// What AppendToFile did: whether the file could be opened (or created), and
// the errno value of the first failure, 0 when there was none.
struct TAppendResult {
    bool Opened = false;
    int Error = 0;
};
// Writes Bytes at the end of FileName, creating the file (read-write for
// everyone the umask allows) when it is missing.
TAppendResult AppendToFile(const std::string& FileName, std::string_view Bytes);

// Last-write time as local TDateTime; false when it cannot be read.
bool FileGetLastWriteTime(const std::string& FileName, TDateTime& Value);
// Sets only the last-write time (access time untouched), from local time.
bool FileSetLastWriteTime(const std::string& FileName, TDateTime Value);

// Names.
std::string ExtractFilePath(std::string_view FileName); // up to and including the last '/'
std::string ExtractFileDir(std::string_view FileName);  // the same without the final '/'
std::string ExtractFileName(std::string_view FileName); // after the last '/'
std::string ExtractFileExt(std::string_view FileName);  // from the last '.' of the name part
std::string ChangeFileExt(std::string_view FileName, std::string_view Extension);
std::string IncludeTrailingPathDelimiter(std::string_view Path);
// Folder and Name joined by one delimiter; Name alone when Folder is empty.
std::string JoinPath(std::string_view Folder, std::string_view Name);
std::string ExcludeTrailingPathDelimiter(std::string_view Path);
// A path as the system's own programs show it to the user: with '\\'
// between the names on Windows (inside, this program writes '/' there too),
// unchanged elsewhere.
std::string SystemPathText(std::string Path);
// Absolute form of a name relative to the current directory, with "." and
// ".." components resolved textually.
std::string ExpandFileName(std::string_view FileName);
// Whether Name is absolute, not to be joined to a folder: it starts with '/'
// (on Windows also "X:/" or "X:\", or a "\\server" name).
bool IsAbsolutePath(std::string_view Name);
std::string GetCurrentDir();

// The system's temporary directory ($TMPDIR or /tmp), with a trailing '/'.
std::string GetTempDirectory();
// A unique name "<Dir>/<Prefix>XXXXXX". With CreateIt the file is created
// exclusively with owner-only permissions (mkstemp) and left empty; without
// it the name is one that no file has at the time of the call. Empty on
// failure.
std::string CreateTempFileName(const std::string& Dir, const std::string& Prefix, bool CreateIt);

// Whether the block device that holds Path is removable (sysfs "removable").
bool IsRemovablePath(const std::string& Path);
// Free bytes on the file system holding Path, -1 when it cannot be queried.
int64_t DiskFree(const std::string& Path);
// The permission bits the process's umask takes from new files, as it was
// when first asked (read once per process).
uint32_t ProcessUmask();

// The names in a folder ("." and ".." left out) in the order the file system
// gives them; false when the folder cannot be read.
bool ListFolderNames(const std::string& DirName, std::vector<std::string>& Names);

} // namespace kivo
