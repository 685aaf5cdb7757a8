// What tests set up and check about files beyond their contents: the
// read-only state, permission bits, symbolic links, times and folders
// nobody may write in. The POSIX and Windows implementations agree wherever
// both systems have the idea; elsewhere the functions say that they cannot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kivo::test {

// Whether the owner may not write Path: no owner write bit on POSIX, the
// read-only attribute on Windows. SetReadOnly makes a file 0444 or 0644
// (or sets or clears the attribute); false on failure.
bool IsReadOnly(const std::string& Path);
bool SetReadOnly(const std::string& Path, bool ReadOnly);

// The POSIX permission bits (mode & 07777); nullopt on Windows, which has
// none, and when Path is missing. SetPermissionBits is false on Windows.
std::optional<unsigned> PermissionBits(const std::string& Path);
bool SetPermissionBits(const std::string& Path, unsigned Bits);
// Sets the permission bits where the system has them, else only the
// read-only state the owner's write bit stands for.
inline bool SetMode(const std::string& Path, unsigned Mode) {
    return SetPermissionBits(Path, Mode) || SetReadOnly(Path, (Mode & 0200) == 0);
}

// Makes Name a symbolic link to Target, as written (relative or absolute).
// False where links cannot be made (on Windows without the privilege, or
// under Wine, whose links its Windows side cannot tell from their targets).
bool MakeSymbolicLink(const std::string& Target, const std::string& Name);
// The target of the link at Path; nullopt when Path is no link.
std::optional<std::string> LinkTarget(const std::string& Path);
// Whether Path is a plain file, not followed when it is a link.
bool IsPlainFile(const std::string& Path);

// Times in seconds since 1970 UTC; a nullopt argument leaves that time.
bool SetFileTimes(const std::string& Path, std::optional<int64_t> Access,
                  std::optional<int64_t> Write);
std::optional<int64_t> FileAccessTime(const std::string& Path);
std::optional<int64_t> FileWriteTime(const std::string& Path);

// Takes away everyone's right to change Folder's entries (its write bit, or
// for root the immutable flag); AllowWriting gives it back. False where
// that is not possible here (root on a file system without the flag;
// Windows, whose folder read-only attribute does not stop writing).
bool DenyWriting(const std::string& Folder);
void AllowWriting(const std::string& Folder);

} // namespace kivo::test
