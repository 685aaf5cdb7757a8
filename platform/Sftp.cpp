// The sockets of the SSH service and the user's home folder (POSIX); the
// sessions and channels over them are in SshSession.cpp.
#include "platform/Sftp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/SysMessages.h"

namespace kivo {

namespace {

thread_local std::string LastSocketError;

void NoteSocketError(int Err) {
    LastSocketError = Err == 0 ? std::string() : ErrnoMessage(Err);
}

struct TAddressListDeleter {
    void operator()(addrinfo* A) const { freeaddrinfo(A); }
};

// Connects Handle to Address, waiting at most TimeoutMs; the socket is
// blocking again afterwards.
bool ConnectWithin(int Handle, const sockaddr_in& Address, int TimeoutMs) {
    const int Flags = fcntl(Handle, F_GETFL, 0);
    fcntl(Handle, F_SETFL, Flags | O_NONBLOCK);
    int Rc = connect(Handle, reinterpret_cast<const sockaddr*>(&Address), sizeof Address);
    if (Rc != 0 && errno == EINPROGRESS) {
        pollfd P{Handle, POLLOUT, 0};
        Rc = poll(&P, 1, TimeoutMs > 0 ? TimeoutMs : -1);
        if (Rc == 0) {
            errno = ETIMEDOUT;
            Rc = -1;
        } else if (Rc > 0) {
            int Err = 0;
            socklen_t Len = sizeof Err;
            getsockopt(Handle, SOL_SOCKET, SO_ERROR, &Err, &Len);
            errno = Err;
            Rc = Err == 0 ? 0 : -1;
        }
    }
    const int Err = errno;
    fcntl(Handle, F_SETFL, Flags);
    if (Rc != 0) NoteSocketError(Err);
    return Rc == 0;
}

} // namespace

std::string LastSocketErrorText() {
    return LastSocketError;
}

std::string ExpandUserPath(const std::string& Path) {
    if (Path != "~" && Path.rfind("~/", 0) != 0) return Path;
    std::string Home;
    if (const char* Env = std::getenv("HOME"); Env != nullptr && *Env != '\0')
        Home = Env;
    else if (const passwd* Entry = getpwuid(getuid()); Entry != nullptr && Entry->pw_dir != nullptr)
        Home = Entry->pw_dir;
    return Home + Path.substr(1);
}

// ---------------------------------------------------------------------------
// Socket

TTcpSocket::~TTcpSocket() {
    Close();
}

void TTcpSocket::Close() {
    if (FHandle >= 0) close(FHandle);
    FHandle = -1;
}

bool TTcpSocket::Create(int32_t BufferLength) {
    Close();
    FHandle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (FHandle < 0) {
        NoteSocketError(errno);
        return false;
    }
    const int Value = BufferLength;
    setsockopt(FHandle, SOL_SOCKET, SO_SNDBUF, &Value, sizeof Value);
    setsockopt(FHandle, SOL_SOCKET, SO_RCVBUF, &Value, sizeof Value);
    setsockopt(FHandle, SOL_SOCKET, SO_KEEPALIVE, &Value, sizeof Value);
    return true;
}

bool TTcpSocket::Resolve(const std::string& Host, int32_t Port, std::string& Error) {
    addrinfo Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_protocol = IPPROTO_TCP;
    addrinfo* Found = nullptr;
    const int Rc = getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &Hints, &Found);
    std::unique_ptr<addrinfo, TAddressListDeleter> List(Found);
    FAddresses.clear();
    if (Rc != 0) {
        Error = Rc == EAI_SYSTEM ? ErrnoMessage(errno) : std::string(gai_strerror(Rc));
        LastSocketError = Error;
        return false;
    }
    for (addrinfo* A = Found; A != nullptr; A = A->ai_next)
        if (A->ai_family == AF_INET && A->ai_addrlen == sizeof(sockaddr_in))
            FAddresses.append(reinterpret_cast<const char*>(A->ai_addr), sizeof(sockaddr_in));
    return true;
}

bool TTcpSocket::Connect(int TimeoutMs) {
    for (size_t At = 0; At + sizeof(sockaddr_in) <= FAddresses.size(); At += sizeof(sockaddr_in)) {
        sockaddr_in Address{};
        std::memcpy(&Address, FAddresses.data() + At, sizeof Address);
        if (ConnectWithin(FHandle, Address, TimeoutMs)) return true;
    }
    return false;
}

} // namespace kivo
