// SSH sessions and SFTP channels through libssh2: the part of the SSH service
// that makes no system call of its own, shared by the POSIX and Windows
// builds (the sockets are in Sftp.cpp and win32/Sftp.cpp).
#include <algorithm>
#include <cstring>
#include <libssh2.h>
#include <libssh2_sftp.h>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/Sftp.h"

namespace kivo {

namespace {

unsigned int Length(const std::string& Text) {
    return static_cast<unsigned int>(Text.size());
}

TSftpAttributes FromLibrary(const LIBSSH2_SFTP_ATTRIBUTES& A) {
    TSftpAttributes R;
    R.Flags = static_cast<uint32_t>(A.flags);
    R.Size = A.filesize;
    R.Uid = static_cast<uint32_t>(A.uid);
    R.Gid = static_cast<uint32_t>(A.gid);
    R.Permissions = static_cast<uint32_t>(A.permissions);
    R.AccessTime = static_cast<uint32_t>(A.atime);
    R.ModifyTime = static_cast<uint32_t>(A.mtime);
    return R;
}

// Base64 without padding, as OpenSSH prints fingerprints.
std::string UnpaddedBase64(const unsigned char* Data, size_t Size) {
    static const char Table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string Out;
    uint32_t Bits = 0;
    int Count = 0;
    for (size_t I = 0; I < Size; ++I) {
        Bits = (Bits << 8) | Data[I];
        Count += 8;
        while (Count >= 6) {
            Count -= 6;
            Out += Table[(Bits >> Count) & 63];
        }
    }
    if (Count > 0) Out += Table[(Bits << (6 - Count)) & 63];
    return Out;
}

// The known-hosts key type of a session host key type; 0 when unknown.
int KnownHostKeyType(int HostKeyType) {
    switch (HostKeyType) {
    case LIBSSH2_HOSTKEY_TYPE_RSA: return LIBSSH2_KNOWNHOST_KEY_SSHRSA;
    case LIBSSH2_HOSTKEY_TYPE_DSS: return LIBSSH2_KNOWNHOST_KEY_SSHDSS;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_256: return LIBSSH2_KNOWNHOST_KEY_ECDSA_256;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_384: return LIBSSH2_KNOWNHOST_KEY_ECDSA_384;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_521: return LIBSSH2_KNOWNHOST_KEY_ECDSA_521;
    case LIBSSH2_HOSTKEY_TYPE_ED25519: return LIBSSH2_KNOWNHOST_KEY_ED25519;
    default: return 0;
    }
}

struct TKnownHostsDeleter {
    void operator()(LIBSSH2_KNOWNHOSTS* K) const { libssh2_knownhost_free(K); }
};

struct TAgentDeleter {
    void operator()(LIBSSH2_AGENT* A) const {
        libssh2_agent_disconnect(A);
        libssh2_agent_free(A);
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Handles and the channel

TSftpHandle::TSftpHandle(LIBSSH2_SFTP_HANDLE* Handle, size_t ReadAhead)
    : FHandle(Handle), FAhead(ReadAhead) {}

TSftpHandle::~TSftpHandle() {
    libssh2_sftp_close_handle(FHandle);
}

int64_t TSftpHandle::Read(void* Buffer, size_t Count) {
    if (FAhead.empty()) return libssh2_sftp_read(FHandle, static_cast<char*>(Buffer), Count);
    if (FAheadPos == FAheadLen) {
        // libssh2 keeps up to four times the size asked for in flight.
        const ssize_t Got =
            libssh2_sftp_read(FHandle, reinterpret_cast<char*>(FAhead.data()), FAhead.size());
        if (Got <= 0) return Got;
        FAheadPos = 0;
        FAheadLen = static_cast<size_t>(Got);
    }
    const size_t N = std::min(Count, FAheadLen - FAheadPos);
    std::memcpy(Buffer, FAhead.data() + FAheadPos, N);
    FAheadPos += N;
    return static_cast<int64_t>(N);
}

int64_t TSftpHandle::Write(const void* Buffer, size_t Count) {
    return libssh2_sftp_write(FHandle, static_cast<const char*>(Buffer), Count);
}

int32_t TSftpHandle::ReadDir(std::string& Name, TSftpAttributes& Attributes) {
    char NameBuffer[4096];
    char LongEntry[4096];
    LIBSSH2_SFTP_ATTRIBUTES A{};
    const int Rc = libssh2_sftp_readdir_ex(FHandle, NameBuffer, sizeof NameBuffer, LongEntry,
                                           sizeof LongEntry, &A);
    if (Rc > 0) {
        Name.assign(NameBuffer, std::min<size_t>(static_cast<size_t>(Rc), sizeof NameBuffer - 1));
        Attributes = FromLibrary(A);
    }
    return Rc;
}

TSftpChannel::~TSftpChannel() {
    libssh2_sftp_shutdown(FChannel);
}

bool TSftpChannel::Stat(const std::string& Path, TSftpAttributes& Attributes) {
    LIBSSH2_SFTP_ATTRIBUTES A{};
    if (libssh2_sftp_stat_ex(FChannel, Path.data(), Length(Path), LIBSSH2_SFTP_STAT, &A) != 0)
        return false;
    Attributes = FromLibrary(A);
    return true;
}

namespace {
std::unique_ptr<TSftpHandle> Open(LIBSSH2_SFTP* Channel, const std::string& Path,
                                  unsigned long Flags, long Mode, int Type, size_t ReadAhead = 0) {
    LIBSSH2_SFTP_HANDLE* H =
        libssh2_sftp_open_ex(Channel, Path.data(), Length(Path), Flags, Mode, Type);
    return H == nullptr ? nullptr : std::make_unique<TSftpHandle>(H, ReadAhead);
}
} // namespace

std::unique_ptr<TSftpHandle> TSftpChannel::OpenForReading(const std::string& Path,
                                                          size_t ReadAhead) {
    return Open(FChannel, Path, LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE, ReadAhead);
}

std::unique_ptr<TSftpHandle> TSftpChannel::OpenForWriting(const std::string& Path, uint32_t Mode) {
    return Open(FChannel, Path, LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC,
                static_cast<long>(Mode), LIBSSH2_SFTP_OPENFILE);
}

std::unique_ptr<TSftpHandle> TSftpChannel::OpenFolder(const std::string& Path) {
    return Open(FChannel, Path, 0, 0, LIBSSH2_SFTP_OPENDIR);
}

bool TSftpChannel::Unlink(const std::string& Path) {
    return libssh2_sftp_unlink_ex(FChannel, Path.data(), Length(Path)) == 0;
}

bool TSftpChannel::MakeDir(const std::string& Path, uint32_t Mode) {
    return libssh2_sftp_mkdir_ex(FChannel, Path.data(), Length(Path), static_cast<long>(Mode)) == 0;
}

// ---------------------------------------------------------------------------
// Session

bool TSshSession::InitLibrary() {
    return libssh2_init(0) == 0;
}

TSshSession::TSshSession()
    : FSession(libssh2_session_init_ex(nullptr, nullptr, nullptr, nullptr)) {}

TSshSession::~TSshSession() {
    if (FSession == nullptr) return;
    libssh2_session_disconnect_ex(FSession, SSH_DISCONNECT_BY_APPLICATION,
                                  "Going to shutdown. Bye.", "");
    libssh2_session_free(FSession);
}

std::string TSshSession::LastError(const std::string& Fallback) const {
    char* Message = nullptr;
    int Len = 0;
    libssh2_session_last_error(FSession, &Message, &Len, 0);
    if (Message == nullptr || Len <= 0) return Fallback;
    return std::string(Message, static_cast<size_t>(Len));
}

bool TSshSession::LastCallFailed() const {
    return libssh2_session_last_errno(FSession) != 0;
}

void TSshSession::SetTimeout(int TimeoutMs) {
    libssh2_session_set_timeout(FSession, TimeoutMs);
}

bool TSshSession::Startup(const TTcpSocket& Socket) {
    return libssh2_session_handshake(FSession, static_cast<libssh2_socket_t>(Socket.Handle())) == 0;
}

void TSshSession::SetBlocking(bool Blocking) {
    libssh2_session_set_blocking(FSession, Blocking ? 1 : 0);
}

TSshHostKeyState TSshSession::CheckHostKey(const std::string& KnownHostsFile,
                                           const std::string& Host, int32_t Port,
                                           std::string& Fingerprint) {
    size_t KeyLength = 0;
    int KeyType = 0;
    const char* Key = libssh2_session_hostkey(FSession, &KeyLength, &KeyType);
    const char* Hash = libssh2_hostkey_hash(FSession, LIBSSH2_HOSTKEY_HASH_SHA256);
    if (Key == nullptr || Hash == nullptr) return hksNoKey;
    Fingerprint = "SHA256:" + UnpaddedBase64(reinterpret_cast<const unsigned char*>(Hash), 32);

    std::unique_ptr<LIBSSH2_KNOWNHOSTS, TKnownHostsDeleter> Known(libssh2_knownhost_init(FSession));
    if (!Known) return hksUnknown;
    // A missing or unreadable file lists no host.
    libssh2_knownhost_readfile(Known.get(), KnownHostsFile.c_str(), LIBSSH2_KNOWNHOST_FILE_OPENSSH);
    const int Mask =
        LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW | KnownHostKeyType(KeyType);
    libssh2_knownhost* Entry = nullptr;
    switch (
        libssh2_knownhost_checkp(Known.get(), Host.c_str(), Port, Key, KeyLength, Mask, &Entry)) {
    case LIBSSH2_KNOWNHOST_CHECK_MATCH: return hksKnown;
    case LIBSSH2_KNOWNHOST_CHECK_MISMATCH: return hksChanged;
    default: return hksUnknown;
    }
}

bool TSshSession::UserAuthList(const std::string& User, std::string& Methods) {
    const char* List = libssh2_userauth_list(FSession, User.data(), Length(User));
    if (List == nullptr) return false;
    Methods = List;
    return true;
}

bool TSshSession::Authenticated() {
    return libssh2_userauth_authenticated(FSession) != 0;
}

bool TSshSession::AuthenticatePassword(const std::string& User, const std::string& Password) {
    return libssh2_userauth_password_ex(FSession, User.data(), Length(User), Password.data(),
                                        Length(Password), nullptr) == 0;
}

bool TSshSession::AuthenticateAgent(const std::string& User) {
    std::unique_ptr<LIBSSH2_AGENT, TAgentDeleter> Agent(libssh2_agent_init(FSession));
    if (!Agent || libssh2_agent_connect(Agent.get()) != 0 ||
        libssh2_agent_list_identities(Agent.get()) != 0)
        return false;
    libssh2_agent_publickey* Previous = nullptr;
    libssh2_agent_publickey* Identity = nullptr;
    while (libssh2_agent_get_identity(Agent.get(), &Identity, Previous) == 0) {
        if (libssh2_agent_userauth(Agent.get(), User.c_str(), Identity) == 0) return true;
        Previous = Identity;
    }
    return false;
}

bool TSshSession::AuthenticateKeyFile(const std::string& User, const std::string& PrivateKey) {
    if (!FileExists(PrivateKey)) return false;
    return libssh2_userauth_publickey_fromfile_ex(FSession, User.data(), Length(User), nullptr,
                                                  PrivateKey.c_str(), nullptr) == 0;
}

std::unique_ptr<TSftpChannel> TSshSession::OpenSftp() {
    LIBSSH2_SFTP* Channel = libssh2_sftp_init(FSession);
    return Channel == nullptr ? nullptr : std::make_unique<TSftpChannel>(Channel);
}

} // namespace kivo
