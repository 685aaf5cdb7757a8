// Network shares: connecting a share by its UNC name with a user name and a
// password, shaped like the system's networking calls, and reading a file
// that lies either on a local path or on a connected share. The shares are
// reached over SMB through libsmbclient, loaded when the first share is
// connected; a connection keeps its own credentials.
//
// UNC names are "\\server\share\folder\file"; "//server/share/folder/file"
// and a mix of both separators mean the same. The server part may carry a
// port ("\\server:1445\share") for a server that does not listen on the
// standard one. Server and share names compare without regard to case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/FileSystem.h"
#include "runtime/Classes.h"

namespace kivo {

// Resource type of a share that holds files.
constexpr uint32_t RESOURCETYPE_DISK = 1;
// WNetCancelConnection2W: also forget the connection in the user profile.
constexpr uint32_t CONNECT_UPDATE_PROFILE = 1;

// Results of the share calls (Windows error codes).
constexpr uint32_t ERROR_NET_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_BAD_NETPATH = 53;   // the server cannot be reached
constexpr uint32_t ERROR_UNEXP_NET_ERR = 59; // any other network failure
constexpr uint32_t ERROR_BAD_NET_NAME = 67;  // no such share, or not a UNC name
constexpr uint32_t ERROR_SESSION_CREDENTIAL_CONFLICT = 1219;
constexpr uint32_t ERROR_NO_NETWORK = 1222;    // the SMB client library is missing
constexpr uint32_t ERROR_LOGON_FAILURE = 1326; // wrong user name or password
constexpr uint32_t ERROR_NOT_CONNECTED = 2250;

struct TNetResource {
    uint32_t Type = RESOURCETYPE_DISK;
    std::string LocalName;  // a device name to map; only an empty one is supported
    std::string RemoteName; // "\\server\share"
    std::string Provider;
};

// Connects the share named by Resource.RemoteName with the given password
// and user name ("user" or "domain\user"; empty ones log in as the current
// user), and checks that its root can be read. 0 on success, otherwise one
// of the error codes above. Connecting a share that is already connected
// with the same credentials succeeds; with others it gives
// ERROR_SESSION_CREDENTIAL_CONFLICT.
uint32_t WNetAddConnection2W(const TNetResource& Resource, const std::string& Password,
                             const std::string& UserName, uint32_t Flags);
// Ends the connection to the share Name. With Force the files still open on
// it lose it at once. 0, or ERROR_NOT_CONNECTED when there is none.
uint32_t WNetCancelConnection2W(const std::string& Name, uint32_t Flags, bool Force);

// Whether Path begins with two separators ("\\" or "//"), as a UNC name does.
bool IsUncPath(const std::string& Path);

// A file opened for reading, from a local path or from a connected share.
class TReadableFile {
public:
    virtual ~TReadableFile() = default;
    // Up to Count bytes; 0 at the end, -1 (errno set) on a failure.
    virtual int64_t Read(void* Buffer, int64_t Count) = 0;
    // The new position, or -1 (errno set) on a failure.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
    // Kind, size, last-write time (local) and identity; false on a failure.
    virtual bool GetStatus(TFileStatus& Status) = 0;
    // Whether LocalPath is this very file under another name: the same
    // device and file id for a local file; for a file on a share served by
    // this machine (a loopback server), the same file id, size and
    // last-write time.
    virtual bool IsSameFileAs(const std::string& LocalPath) = 0;
    // The open handle of a local file (for TReplacingFile::SpliceFrom); -1
    // for a file on a share.
    virtual THandle LocalHandle() const = 0;
};

// Opens Path for reading: through the share's connection when Path is a UNC
// name under a connected share, else as a local file. A folder is no file
// to read. nullptr with Error set (a Windows error code) on failure.
std::unique_ptr<TReadableFile> OpenReadableFile(const std::string& Path, uint32_t& Error);

} // namespace kivo
