// Open folders, and the way to a folder below a base folder that follows no
// symbolic link.
//
// A target folder may already hold "sub" as a link to a folder elsewhere; an
// archive entry "sub/victim.txt" written by name would then land outside
// the folder the user chose. OpenFolderBelow takes every step below the base
// from the open folder before it and refuses a link, and a writer that
// creates and renames its file inside the folder handle it got (see
// TReplacingFile) cannot be redirected by a link put in place after the
// walk. The base folder itself may be reached through links: it is the
// caller's choice (a temporary folder behind a link, a folder the user
// linked on purpose).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "runtime/DateTime.h"

namespace kivo {

// What stands at a name inside a folder; a link is reported as a link,
// never followed.
enum TEntryKind : uint8_t { ekNone, ekFile, ekFolder, ekLink, ekOther };

struct TFolderWalk;

// An open folder; closed when the object goes.
class TFolderHandle {
public:
    TFolderHandle() = default;
    ~TFolderHandle();
    TFolderHandle(TFolderHandle&& Other) noexcept;
    TFolderHandle& operator=(TFolderHandle&& Other) noexcept;
    TFolderHandle(const TFolderHandle&) = delete;
    TFolderHandle& operator=(const TFolderHandle&) = delete;

    // Opens Path itself, following links. Check Valid(); the errno value
    // of a failure is in Error().
    static TFolderHandle Open(const std::string& Path);
    // A second handle to the same folder (invalid when this one is).
    TFolderHandle Duplicate() const;

    bool Valid() const { return FHandle >= 0; }
    int Error() const { return FError; }
    // The folder's name as it was reached, for messages and derived names.
    const std::string& Path() const { return FPath; }
    // The operating system's handle, for the platform's own file services.
    int Handle() const { return FHandle; }

    // ekNone also when the name cannot be looked up.
    TEntryKind KindOf(const std::string& Name) const;
    // Sets the folder's own last-write time (local time; 0 leaves it) and
    // its read-only attribute (the owner's write permission). False when
    // the folder cannot be changed.
    bool SetLastWriteTime(TDateTime Value) const;
    bool SetReadOnly(bool ReadOnly) const;
    // Sets the folder's read, write and execute bits to those of Mode less
    // the process's umask (never set-user-ID, set-group-ID or sticky).
    bool SetPermissions(uint32_t Mode) const;
    // Makes Name a symbolic link holding Target: a new link beside it,
    // renamed over whatever file or link is there (a link is replaced, never
    // followed). 0, or the errno value of the failure (EISDIR for a folder
    // at the name).
    int MakeLink(const std::string& Name, const std::string& Target) const;

private:
    friend TFolderWalk OpenFolderBelow(const std::string& Base, std::string_view Relative,
                                       bool Create);
    TFolderHandle(int Handle, std::string Path, int Error)
        : FHandle(Handle), FError(Error), FPath(std::move(Path)) {}
    void Close();

    int FHandle = -1;
    int FError = 0;
    std::string FPath;
};

// The result of OpenFolderBelow: the folder, or why there is none.
struct TFolderWalk {
    TFolderHandle Folder;     // valid when the walk reached the folder
    bool CrossesLink = false; // a step below the base is a symbolic link
    int Error = 0;            // otherwise the errno value of the failed step
};

// Opens Base (following links), then each component of Relative ('/'
// separated; empty, "." and ".." components are refused with EINVAL) from
// the folder before it without following a symbolic link. With Create,
// missing folders are made with the permissions new folders get.
TFolderWalk OpenFolderBelow(const std::string& Base, std::string_view Relative, bool Create);

} // namespace kivo
