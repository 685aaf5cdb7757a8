// A file that replaces its target only when it is complete.
//
// The data goes to a new file beside the target: a hidden name in the same
// folder ("." + the target's name + "." + eight random characters + ".part"),
// created exclusively. Commit moves it over the target in one rename, so the
// target is either the old file or the whole new one, never a mixture, and a
// failed or cancelled write never costs the user the file they had. Destroying
// a file that was not committed removes it.
//
// Given an open folder (platform/FolderHandle.h), the new file is created and
// renamed inside that very folder, whatever happens to the names on the way
// to it meanwhile.
//
// Where nothing stands at the target's name and the system can make a file
// without a name (Linux, O_TMPFILE), the new file is made that way and given
// the target's name by Commit in one step: one folder operation instead of a
// create and a rename, and nothing is left behind when the process dies.
// Where the system refuses that, or a file is there to be replaced, the
// hidden name beside the target is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FolderHandle.h"
#include "runtime/Classes.h"
#include "runtime/DateTime.h"

namespace kivo {

// The write permission the new file gets; the other permissions are those of
// the file it replaces, or those of any new file where there is none.
enum TReplacingFileAccess : uint8_t {
    rfaKeep,     // as the replaced file (as a new file where there is none)
    rfaReadOnly, // no write permission for anyone
    rfaWritable, // write permission for the owner
};

// 0 when TargetName can be replaced: nothing is there, a symbolic link
// (which is replaced, never followed), or a regular file that is not
// read-only and that this user may write. Otherwise the errno value that
// says why not (EISDIR for a folder, EACCES for a read-only file, ENAMETOOLONG
// for a name the file system cannot hold, ...).
int ReplaceRefusal(const std::string& TargetName);
// The same for the entry Name inside Folder.
int ReplaceRefusal(const TFolderHandle& Folder, const std::string& Name);

// What the constructor checks before it makes the new file.
enum TReplaceCheck : uint8_t {
    rcNone,    // nothing: Commit replaces what it can
    rcRefusal, // EFCreateError with ReplaceRefusal's errno when the target cannot be replaced
    // The caller has just found nothing at the target: no look now. Should
    // something stand there by Commit, Commit refuses what rcRefusal refuses.
    rcSeenAbsent,
};

// Which ways of making a new file without a name may be used (Linux): all by
// default; tests switch them off to take the other roads.
enum TUnnamedFiles : uint8_t {
    ufAllowed,     // made without a name, named by Commit
    ufNotCreated,  // the system refuses to make them: the hidden name from the start
    ufNotNameable, // made, but the system refuses to name them: moved to a hidden name at Commit
};
void SetUnnamedFiles(TUnnamedFiles Value);

class TReplacingFile : public TStream {
public:
    // Creates the new file with its final permissions, before any data is
    // written. BufferSize 0 writes straight through (for callers that hand
    // over large blocks). EFCreateError with the errno when the file cannot
    // be created.
    explicit TReplacingFile(const std::string& TargetName, TReplacingFileAccess Access = rfaKeep,
                            size_t BufferSize = 0);
    // The same for the entry Name inside Folder: the new file is made in that
    // folder and renamed there. TargetName() is the folder's path joined with
    // Name. With rcRefusal, a target that ReplaceRefusal refuses is refused
    // here, from the same look at the target that the file needs anyway.
    TReplacingFile(const TFolderHandle& Folder, const std::string& Name,
                   TReplacingFileAccess Access = rfaKeep, size_t BufferSize = 0,
                   TReplaceCheck Check = rcNone);
    ~TReplacingFile() override;
    TReplacingFile(const TReplacingFile&) = delete;
    TReplacingFile& operator=(const TReplacingFile&) = delete;

    // Write-only: reads give nothing.
    int64_t Read(void* Buffer, int64_t Count) override;
    // Writes all Count bytes or raises EInOutError with the errno.
    int64_t Write(const void* Buffer, int64_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

    // Copies up to Count bytes from the open file Source, from its position,
    // to the end of this file inside the kernel, so the data does not pass
    // through this process; both positions advance. The number copied (0 at
    // Source's end), or -1 (errno set) when the system cannot copy between
    // these two files this way or the copy failed: the caller then reads and
    // writes the block itself, which tells a read error from a write error.
    int64_t SpliceFrom(THandle Source, int64_t Count);

    const std::string& TargetName() const { return FTargetName; }
    // A name the new file can be reached by while it is written: its hidden
    // name beside the target, or for a file without a name its entry in
    // /proc/self/fd.
    const std::string& TempName() const { return FTempName; }
    // Whether something stood at the target's name when the file was made.
    bool Replaces() const { return FReplaces; }
    // The last-write time (local) the file gets when it is committed; 0, the
    // default, leaves the time of writing.
    void SetLastWriteTime(TDateTime Value) { FLastWriteTime = Value; }
    // Gives the new file the read, write and execute bits of Mode (Unix
    // permission bits; set-user-ID, set-group-ID and sticky never pass) less
    // those the process's umask takes away, in place of what Access chose.
    // False when the file's permissions cannot be changed.
    bool SetPermissions(uint32_t Mode);

    // Writes what is buffered, closes the file and renames it over the
    // target. EInOutError when the data cannot be written or closed,
    // EFCreateError when the rename fails; the new file is removed then and
    // the target stays as it was.
    void Commit();
    // Removes the new file; the target stays as it was.
    void Discard();
    bool Committed() const { return FCommitted; }

private:
    void Create(const TFolderHandle& Folder, TReplacingFileAccess Access, size_t BufferSize,
                TReplaceCheck Check);
    // Makes a file under a new hidden name in FFolder: its descriptor, or -1
    // with errno set.
    int CreateNamed();
    // Gives the file made without a name the name Leaf in FFolder; the errno value, 0 when named.
    int LinkUnnamed(const std::string& Leaf);
    // With rcSeenAbsent: EFCreateError when what now stands at the target
    // cannot be replaced.
    void CheckLateRefusal();
    // Names the file made without a name: the target's name where that is
    // still free (true), else a hidden name that Commit then renames over the
    // target (false).
    bool NameUnnamed();
    // Names the next new file to try: FTempLeaf in the target's folder, and
    // FTempName as the target's folder part joined with it.
    void PickTempName();
    void Flush();
    void WriteThrough(const uint8_t* Data, size_t Count);
    void ApplyLastWriteTime();

    std::string FTargetName;
    std::string FTempName;
    // The folder both files are in, and their names there.
    int FFolder = -1;
    std::string FName;
    std::string FTempLeaf;
    int FHandle = -1;
    std::vector<uint8_t> FBuffer; // capacity is the buffer size
    int64_t FPosition = 0;
    TDateTime FLastWriteTime = 0;
    uint32_t FMode = 0; // the permission bits the file has now
    bool FCommitted = false;
    bool FReplaces = false;
    bool FUnnamed = false;       // made without a name and not named yet
    bool FCheckAtCommit = false; // rcSeenAbsent: the refusal is asked at Commit
};

} // namespace kivo
