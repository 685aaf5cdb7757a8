// SSH and SFTP: a TCP socket to the server, an SSH session over it (start,
// host key, authentication) and an SFTP channel with its file and folder
// handles, carried out by libssh2. Every object releases what it holds when
// it goes: a handle closes, a channel shuts down, a session says goodbye and
// is freed, a socket is closed; destroy them in that order (handle, channel,
// session, socket).
//
// All calls block; the time-out set on the socket and the session bounds
// each wait for the server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _LIBSSH2_SESSION;
struct _LIBSSH2_SFTP;
struct _LIBSSH2_SFTP_HANDLE;

namespace kivo {

// The text of the last failed socket call on this thread (the system's text
// of its error, or the resolver's); "" when there was none.
std::string LastSocketErrorText();

// Path with a leading "~/" replaced by the user's home folder.
std::string ExpandUserPath(const std::string& Path);

// An IPv4 TCP socket.
class TTcpSocket {
public:
    TTcpSocket() = default;
    ~TTcpSocket();
    TTcpSocket(const TTcpSocket&) = delete;
    TTcpSocket& operator=(const TTcpSocket&) = delete;

    // Creates the socket and sets its send and receive buffers and
    // keep-alive to BufferLength (results of the options are not checked).
    bool Create(int32_t BufferLength);
    // Resolves Host and Port to IPv4 addresses; false with the resolver's
    // text in Error.
    bool Resolve(const std::string& Host, int32_t Port, std::string& Error);
    // Tries the resolved addresses in order until one answers, each for at
    // most TimeoutMs milliseconds.
    bool Connect(int TimeoutMs);
    // The system's handle of the socket (a descriptor; a SOCKET on Windows).
    intptr_t Handle() const { return FHandle; }
    void Close();

private:
    intptr_t FHandle = -1;
    std::string FAddresses; // resolved sockaddr_in records, back to back
};

// What the server's host key is to the known-hosts file.
enum TSshHostKeyState : uint8_t {
    hksKnown,   // listed with this very key
    hksUnknown, // not listed (or the file is missing)
    hksChanged, // listed with another key of the same type
    hksNoKey,   // the session has no host key to check
};

// The attribute record of a remote file or folder.
struct TSftpAttributes {
    uint32_t Flags = 0; // which of the fields below the server filled in
    uint64_t Size = 0;
    uint32_t Uid = 0, Gid = 0;
    uint32_t Permissions = 0;
    uint32_t AccessTime = 0, ModifyTime = 0; // seconds since 1970-01-01 UTC
};

// An open remote file or folder; closed when destroyed.
class TSftpHandle {
public:
    // ReadAhead above 0: Read asks the server for up to that many bytes at a
    // time and hands them out in the sizes the caller asks for, so that the
    // library keeps several read requests in flight however small the
    // caller's blocks are.
    explicit TSftpHandle(_LIBSSH2_SFTP_HANDLE* Handle, size_t ReadAhead = 0);
    ~TSftpHandle();
    TSftpHandle(const TSftpHandle&) = delete;
    TSftpHandle& operator=(const TSftpHandle&) = delete;

    // Bytes read (at most Count; 0 at the end of the file), or a negative
    // libssh2 error.
    int64_t Read(void* Buffer, size_t Count);
    // Bytes written (at most Count), or a negative libssh2 error.
    int64_t Write(const void* Buffer, size_t Count);
    // The next folder entry: its name's length (0 at the end), or a negative
    // libssh2 error. Names longer than 4095 bytes are cut.
    int32_t ReadDir(std::string& Name, TSftpAttributes& Attributes);

private:
    _LIBSSH2_SFTP_HANDLE* FHandle;
    std::vector<uint8_t> FAhead; // data received and not handed out yet
    size_t FAheadPos = 0, FAheadLen = 0;
};

// The SFTP channel of a session; shut down when destroyed.
class TSftpChannel {
public:
    explicit TSftpChannel(_LIBSSH2_SFTP* Channel) : FChannel(Channel) {}
    ~TSftpChannel();
    TSftpChannel(const TSftpChannel&) = delete;
    TSftpChannel& operator=(const TSftpChannel&) = delete;

    bool Stat(const std::string& Path, TSftpAttributes& Attributes);
    // ReadAhead as TSftpHandle's.
    std::unique_ptr<TSftpHandle> OpenForReading(const std::string& Path, size_t ReadAhead = 0);
    // Creates or truncates the file, with Mode for a new one.
    std::unique_ptr<TSftpHandle> OpenForWriting(const std::string& Path, uint32_t Mode);
    std::unique_ptr<TSftpHandle> OpenFolder(const std::string& Path);
    bool Unlink(const std::string& Path);
    bool MakeDir(const std::string& Path, uint32_t Mode);

private:
    _LIBSSH2_SFTP* FChannel;
};

// An SSH session; disconnected and freed when destroyed.
class TSshSession {
public:
    // Initialises the library and creates the session; Valid tells whether
    // it could.
    TSshSession();
    ~TSshSession();
    TSshSession(const TSshSession&) = delete;
    TSshSession& operator=(const TSshSession&) = delete;

    static bool InitLibrary();
    bool Valid() const { return FSession != nullptr; }
    // The session's last error text; Fallback when it has none.
    std::string LastError(const std::string& Fallback) const;
    bool LastCallFailed() const;

    // Waits of every later call end after TimeoutMs (0: no limit).
    void SetTimeout(int TimeoutMs);
    bool Startup(const TTcpSocket& Socket);
    void SetBlocking(bool Blocking);

    // Checks the server's host key against an OpenSSH known-hosts file
    // (hashed entries included), for Host at Port. Fingerprint is the key's
    // SHA-256 as OpenSSH prints it ("SHA256:" + unpadded Base64).
    TSshHostKeyState CheckHostKey(const std::string& KnownHostsFile, const std::string& Host,
                                  int32_t Port, std::string& Fingerprint);

    // The methods the server offers User; false when none came back.
    bool UserAuthList(const std::string& User, std::string& Methods);
    bool Authenticated();
    bool AuthenticatePassword(const std::string& User, const std::string& Password);
    // Each key the user's agent holds, in turn.
    bool AuthenticateAgent(const std::string& User);
    // The private key file PrivateKey (without a passphrase).
    bool AuthenticateKeyFile(const std::string& User, const std::string& PrivateKey);

    std::unique_ptr<TSftpChannel> OpenSftp();

private:
    _LIBSSH2_SESSION* FSession = nullptr;
};

} // namespace kivo
