#include "platform/NetShare.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <libsmbclient.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/PosixFileStatus.h"
#include "runtime/DateTime.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

// ---------------------------------------------------------------------------
// The SMB client library, loaded when the first share is connected: its many
// dependencies would otherwise be loaded and relocated at the start of every
// program that links the platform, share or no share.

struct TSmbApi {
    decltype(&smbc_new_context) NewContext = nullptr;
    decltype(&smbc_free_context) FreeContext = nullptr;
    decltype(&smbc_init_context) InitContext = nullptr;
    decltype(&smbc_setDebug) SetDebug = nullptr;
    decltype(&smbc_setOptionUserData) SetUserData = nullptr;
    decltype(&smbc_getOptionUserData) GetUserData = nullptr;
    decltype(&smbc_setFunctionAuthDataWithContext) SetAuth = nullptr;
    decltype(&smbc_setOptionNoAutoAnonymousLogin) SetNoAnonymous = nullptr;
    decltype(&smbc_setOptionUseKerberos) SetUseKerberos = nullptr;
    decltype(&smbc_setOptionFallbackAfterKerberos) SetFallbackAfterKerberos = nullptr;
    decltype(&smbc_setPort) SetPort = nullptr;
    decltype(&smbc_getFunctionOpendir) Opendir = nullptr;
    decltype(&smbc_getFunctionClosedir) Closedir = nullptr;
    decltype(&smbc_getFunctionOpen) Open = nullptr;
    decltype(&smbc_getFunctionRead) Read = nullptr;
    decltype(&smbc_getFunctionLseek) Lseek = nullptr;
    decltype(&smbc_getFunctionFstat) Fstat = nullptr;
    decltype(&smbc_getFunctionClose) Close = nullptr;
};

template <typename T> bool Bind(void* Library, const char* Name, T& Function) {
    Function = reinterpret_cast<T>(::dlsym(Library, Name));
    return Function != nullptr;
}

// Null when the library or one of its functions is missing.
const TSmbApi* LoadSmbApi() {
    void* L = ::dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
    if (L == nullptr) return nullptr;
    static TSmbApi Api;
    const bool Ok =
        Bind(L, "smbc_new_context", Api.NewContext) &&
        Bind(L, "smbc_free_context", Api.FreeContext) &&
        Bind(L, "smbc_init_context", Api.InitContext) && Bind(L, "smbc_setDebug", Api.SetDebug) &&
        Bind(L, "smbc_setOptionUserData", Api.SetUserData) &&
        Bind(L, "smbc_getOptionUserData", Api.GetUserData) &&
        Bind(L, "smbc_setFunctionAuthDataWithContext", Api.SetAuth) &&
        Bind(L, "smbc_setOptionNoAutoAnonymousLogin", Api.SetNoAnonymous) &&
        Bind(L, "smbc_setOptionUseKerberos", Api.SetUseKerberos) &&
        Bind(L, "smbc_setOptionFallbackAfterKerberos", Api.SetFallbackAfterKerberos) &&
        Bind(L, "smbc_setPort", Api.SetPort) && Bind(L, "smbc_getFunctionOpendir", Api.Opendir) &&
        Bind(L, "smbc_getFunctionClosedir", Api.Closedir) &&
        Bind(L, "smbc_getFunctionOpen", Api.Open) && Bind(L, "smbc_getFunctionRead", Api.Read) &&
        Bind(L, "smbc_getFunctionLseek", Api.Lseek) &&
        Bind(L, "smbc_getFunctionFstat", Api.Fstat) && Bind(L, "smbc_getFunctionClose", Api.Close);
    return Ok ? &Api : nullptr; // the library stays loaded for the process's life
}

const TSmbApi* SmbApi() {
    static const TSmbApi* const Api = LoadSmbApi();
    return Api;
}

// The loaded library; used only once a connection was made with it.
const TSmbApi& Smb() {
    return *SmbApi();
}

// ---------------------------------------------------------------------------
// UNC names

struct TUncName {
    std::string Server; // without the port
    uint16_t Port = 0;  // 0: the standard port
    std::string Share;
    std::string Rest; // the path below the share, '/'-separated, no leading '/'
};

bool IsSeparator(char C) {
    return C == '\\' || C == '/';
}

// Splits "\\server[:port]\share[\rest]"; false when Path is no UNC name.
bool ParseUnc(const std::string& Path, TUncName& Name) {
    if (!IsUncPath(Path)) return false;
    size_t Start = 2;
    auto NextPart = [&]() {
        size_t End = Start;
        while (End < Path.size() && !IsSeparator(Path[End]))
            ++End;
        std::string Part = Path.substr(Start, End - Start);
        Start = End < Path.size() ? End + 1 : End;
        return Part;
    };
    std::string Server = NextPart();
    Name.Share = NextPart();
    if (Server.empty() || Name.Share.empty()) return false;
    const size_t Colon = Server.rfind(':');
    Name.Port = 0;
    if (Colon != std::string::npos) {
        const std::string PortText = Server.substr(Colon + 1);
        if (PortText.empty() || PortText.size() > 5 ||
            PortText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const unsigned long Port = std::stoul(PortText);
        if (Port == 0 || Port > 65535) return false;
        Name.Port = static_cast<uint16_t>(Port);
        Server.erase(Colon);
    }
    Name.Server = Server;
    Name.Rest.clear();
    while (Start < Path.size() && IsSeparator(Path[Start]))
        ++Start;
    for (size_t I = Start; I < Path.size(); ++I)
        Name.Rest += IsSeparator(Path[I]) ? '/' : Path[I];
    return !Name.Server.empty();
}

// The key a share is kept under: "server:port/share" in lower case.
std::string ShareKey(const TUncName& Name) {
    return AsciiLowerCase(Name.Server + ":" + std::to_string(Name.Port) + "/" + Name.Share);
}

// Percent-encodes everything but unreserved characters and '/', so names
// with '%', '?' or spaces reach the server as they are.
std::string EncodeUrlPath(const std::string& Text) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string Out;
    for (char C : Text) {
        const auto U = static_cast<unsigned char>(C);
        if ((U >= 'A' && U <= 'Z') || (U >= 'a' && U <= 'z') || (U >= '0' && U <= '9') ||
            C == '-' || C == '.' || C == '_' || C == '~' || C == '/') {
            Out += C;
        } else {
            Out += '%';
            Out += Hex[U >> 4];
            Out += Hex[U & 15];
        }
    }
    return Out;
}

// The library's name of a path on the share (the port is a context option).
std::string SmbUrl(const TUncName& Name, const std::string& Rest) {
    return "smb://" + EncodeUrlPath(Name.Server) + "/" + EncodeUrlPath(Name.Share) + "/" +
           EncodeUrlPath(Rest);
}

uint32_t ShareErrorFromErrno(int Err) {
    switch (Err) {
    case EACCES:
    case EPERM: return ERROR_LOGON_FAILURE;
    case ENOENT:
    case ENODEV:
    case ENOTDIR:
    case EINVAL: return ERROR_BAD_NET_NAME;
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
    case EHOSTDOWN: return ERROR_BAD_NETPATH;
    default: return ERROR_UNEXP_NET_ERR;
    }
}

// Whether the server is this machine: its address is a loopback address.
bool IsLoopbackServer(const std::string& Server) {
    addrinfo Hints{};
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* List = nullptr;
    if (::getaddrinfo(Server.c_str(), nullptr, &Hints, &List) != 0) return false;
    bool Loopback = List != nullptr;
    for (addrinfo* A = List; A != nullptr; A = A->ai_next) {
        if (A->ai_family == AF_INET) {
            const auto* In = reinterpret_cast<const sockaddr_in*>(A->ai_addr);
            Loopback = Loopback && (ntohl(In->sin_addr.s_addr) >> 24) == 127;
        } else if (A->ai_family == AF_INET6) {
            const auto* In6 = reinterpret_cast<const sockaddr_in6*>(A->ai_addr);
            Loopback = Loopback && IN6_IS_ADDR_LOOPBACK(&In6->sin6_addr);
        }
    }
    ::freeaddrinfo(List);
    return Loopback;
}

// ---------------------------------------------------------------------------
// Connections

// One connected share: a library context of its own that logs in with the
// connection's credentials.
class TShareConnection {
public:
    TShareConnection(const TUncName& Name, const std::string& UserName, const std::string& Password)
        : FName(Name), FPassword(Password) {
        const size_t Slash = UserName.find('\\');
        if (Slash != std::string::npos) {
            FWorkgroup = UserName.substr(0, Slash);
            FUser = UserName.substr(Slash + 1);
        } else {
            FUser = UserName;
        }
    }
    ~TShareConnection() {
        if (FContext != nullptr) Smb().FreeContext(FContext, 1);
    }
    TShareConnection(const TShareConnection&) = delete;
    TShareConnection& operator=(const TShareConnection&) = delete;

    // Makes the context and reads the share's root; 0 or an error code.
    uint32_t Open() {
        FContext = Smb().NewContext();
        if (FContext == nullptr) return ERROR_UNEXP_NET_ERR;
        Smb().SetDebug(FContext, 0);
        Smb().SetUserData(FContext, this);
        Smb().SetAuth(FContext, &TShareConnection::Auth);
        Smb().SetNoAnonymous(FContext, 1);
        Smb().SetUseKerberos(FContext, 0);
        Smb().SetFallbackAfterKerberos(FContext, 1);
        if (FName.Port != 0) Smb().SetPort(FContext, FName.Port);
        if (Smb().InitContext(FContext) == nullptr) {
            Smb().FreeContext(FContext, 1);
            FContext = nullptr;
            return ERROR_UNEXP_NET_ERR;
        }
        const std::string Root = SmbUrl(FName, "");
        SMBCFILE* Dir = Smb().Opendir(FContext)(FContext, Root.c_str());
        if (Dir == nullptr) return ShareErrorFromErrno(errno);
        Smb().Closedir(FContext)(FContext, Dir);
        return 0;
    }

    bool SameCredentials(const std::string& UserName, const std::string& Password) const {
        const std::string Joined = FWorkgroup.empty() ? FUser : FWorkgroup + "\\" + FUser;
        return Joined == UserName && FPassword == Password;
    }
    SMBCCTX* Context() const { return FContext; }
    const TUncName& Name() const { return FName; }

private:
    static void Auth(SMBCCTX* Context, const char*, const char*, char* Workgroup, int WorkgroupLen,
                     char* User, int UserLen, char* Password, int PasswordLen) {
        auto* Self = static_cast<TShareConnection*>(Smb().GetUserData(Context));
        if (Self == nullptr) return;
        auto Put = [](char* Out, int Len, const std::string& Value) {
            if (Out == nullptr || Len <= 0) return;
            const size_t N = std::min(Value.size(), static_cast<size_t>(Len - 1));
            std::memcpy(Out, Value.data(), N);
            Out[N] = '\0';
        };
        if (!Self->FWorkgroup.empty()) Put(Workgroup, WorkgroupLen, Self->FWorkgroup);
        Put(User, UserLen, Self->FUser);
        Put(Password, PasswordLen, Self->FPassword);
    }

    TUncName FName;
    std::string FWorkgroup, FUser, FPassword;
    SMBCCTX* FContext = nullptr;
};

using TConnectionPtr = std::shared_ptr<TShareConnection>;

struct TConnections {
    std::mutex Mutex;
    std::map<std::string, TConnectionPtr> ByKey;
};

TConnections& Connections() {
    static TConnections Instance;
    return Instance;
}

// The connected share a UNC path lies under, or null.
TConnectionPtr FindConnection(const TUncName& Name) {
    TConnections& C = Connections();
    std::lock_guard<std::mutex> Lock(C.Mutex);
    auto It = C.ByKey.find(ShareKey(Name));
    return It == C.ByKey.end() ? nullptr : It->second;
}

// ---------------------------------------------------------------------------
// Readable files

class TLocalFile : public TReadableFile {
public:
    explicit TLocalFile(int Handle) : FHandle(Handle) {}
    ~TLocalFile() override { ::close(FHandle); }
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    int64_t Read(void* Buffer, int64_t Count) override {
        while (true) {
            const ssize_t N = ::read(FHandle, Buffer, static_cast<size_t>(Count));
            if (N >= 0 || errno != EINTR) return N;
        }
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        const int Whence = Origin == soBeginning ? SEEK_SET
                           : Origin == soCurrent ? SEEK_CUR
                                                 : SEEK_END;
        return ::lseek(FHandle, static_cast<off_t>(Offset), Whence);
    }
    bool GetStatus(TFileStatus& Status) override {
        struct stat St {};
        if (::fstat(FHandle, &St) != 0) return false;
        FileStatusFromStat(St, Status);
        return true;
    }
    bool IsSameFileAs(const std::string& LocalPath) override {
        struct stat Mine {
        }, Other{};
        return ::fstat(FHandle, &Mine) == 0 && ::stat(LocalPath.c_str(), &Other) == 0 &&
               Mine.st_dev == Other.st_dev && Mine.st_ino == Other.st_ino;
    }

    THandle LocalHandle() const override { return FHandle; }

private:
    int FHandle;
};

class TShareFile : public TReadableFile {
public:
    TShareFile(TConnectionPtr Connection, SMBCFILE* File)
        : FConnection(std::move(Connection)), FFile(File) {}
    ~TShareFile() override {
        SMBCCTX* C = FConnection->Context();
        Smb().Close(C)(C, FFile);
    }
    TShareFile(const TShareFile&) = delete;
    TShareFile& operator=(const TShareFile&) = delete;

    int64_t Read(void* Buffer, int64_t Count) override {
        SMBCCTX* C = FConnection->Context();
        return Smb().Read(C)(C, FFile, Buffer, static_cast<size_t>(Count));
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        SMBCCTX* C = FConnection->Context();
        const int Whence = Origin == soBeginning ? SEEK_SET
                           : Origin == soCurrent ? SEEK_CUR
                                                 : SEEK_END;
        return Smb().Lseek(C)(C, FFile, static_cast<off_t>(Offset), Whence);
    }
    bool GetStatus(TFileStatus& Status) override {
        struct stat St {};
        SMBCCTX* C = FConnection->Context();
        if (Smb().Fstat(C)(C, FFile, &St) != 0) return false;
        FileStatusFromStat(St, Status);
        return true;
    }
    bool IsSameFileAs(const std::string& LocalPath) override {
        // The server reports the file's inode number as its file id; that
        // names the same file only when the server runs on this machine.
        TFileStatus Remote, Local;
        if (!GetStatus(Remote) || !GetFileStatus(LocalPath, Local)) return false;
        if (Remote.FileId != Local.FileId || Remote.Size != Local.Size) return false;
        if (std::abs(Remote.LastWriteTime - Local.LastWriteTime) > 1.5 / 86400) return false;
        return IsLoopbackServer(FConnection->Name().Server);
    }
    THandle LocalHandle() const override { return -1; }

private:
    TConnectionPtr FConnection; // kept while the file is open
    SMBCFILE* FFile;
};

std::unique_ptr<TReadableFile> OpenLocal(const std::string& Path, uint32_t& Error) {
    const int Handle = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (Handle < 0) {
        Error = WinErrorFromErrno(errno);
        return nullptr;
    }
    struct stat St {};
    if (::fstat(Handle, &St) != 0 || S_ISDIR(St.st_mode)) {
        Error = WinErrorFromErrno(S_ISDIR(St.st_mode) ? EISDIR : errno);
        ::close(Handle);
        return nullptr;
    }
    return std::make_unique<TLocalFile>(Handle);
}

std::unique_ptr<TReadableFile> OpenOnShare(const TConnectionPtr& Connection, const TUncName& Name,
                                           uint32_t& Error) {
    SMBCCTX* C = Connection->Context();
    const std::string Url = SmbUrl(Name, Name.Rest);
    SMBCFILE* File = Smb().Open(C)(C, Url.c_str(), O_RDONLY, 0);
    if (File == nullptr) {
        Error = WinErrorFromErrno(errno);
        return nullptr;
    }
    auto Result = std::make_unique<TShareFile>(Connection, File);
    TFileStatus Status;
    if (!Result->GetStatus(Status) || Status.IsDirectory) {
        Error = WinErrorFromErrno(EISDIR);
        return nullptr;
    }
    return Result;
}

} // namespace

// ---------------------------------------------------------------------------

bool IsUncPath(const std::string& Path) {
    return Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1]);
}

uint32_t WNetAddConnection2W(const TNetResource& Resource, const std::string& Password,
                             const std::string& UserName, uint32_t /*Flags*/) {
    TUncName Name;
    if (Resource.Type != RESOURCETYPE_DISK || !Resource.LocalName.empty() ||
        !ParseUnc(Resource.RemoteName, Name) || !Name.Rest.empty())
        return ERROR_BAD_NET_NAME;
    if (SmbApi() == nullptr) return ERROR_NO_NETWORK;
    if (TConnectionPtr Existing = FindConnection(Name))
        return Existing->SameCredentials(UserName, Password) ? 0
                                                             : ERROR_SESSION_CREDENTIAL_CONFLICT;
    auto Connection = std::make_shared<TShareConnection>(Name, UserName, Password);
    if (const uint32_t Result = Connection->Open(); Result != 0) return Result;
    TConnections& C = Connections();
    std::lock_guard<std::mutex> Lock(C.Mutex);
    C.ByKey[ShareKey(Name)] = std::move(Connection);
    return 0;
}

uint32_t WNetCancelConnection2W(const std::string& Name, uint32_t /*Flags*/, bool /*Force*/) {
    // Every cancel is a forced one: files still open keep the connection's
    // context until they are closed, but nothing new reaches the share.
    TUncName Unc;
    if (!ParseUnc(Name, Unc) || !Unc.Rest.empty()) return ERROR_NOT_CONNECTED;
    TConnections& C = Connections();
    std::lock_guard<std::mutex> Lock(C.Mutex);
    return C.ByKey.erase(ShareKey(Unc)) > 0 ? 0 : ERROR_NOT_CONNECTED;
}

std::unique_ptr<TReadableFile> OpenReadableFile(const std::string& Path, uint32_t& Error) {
    Error = 0;
    TUncName Name;
    if (ParseUnc(Path, Name)) {
        if (TConnectionPtr Connection = FindConnection(Name))
            return OpenOnShare(Connection, Name, Error);
    }
    return OpenLocal(Path, Error);
}

} // namespace kivo
