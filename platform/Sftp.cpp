// The sockets of the SSH service and the user's home folder (POSIX); the
// sessions and channels over them are in SshSession.cpp, the socket's shared
// part in TcpSocket.cpp.
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

#include "platform/SocketCalls.h"
#include "runtime/SysMessages.h"

namespace kivo {

namespace {

static_assert(sizeof(sockaddr_in) == sockets::AddressSize);

void NoteSocketError(int Err) {
    sockets::NoteSocketErrorText(Err == 0 ? std::string() : ErrnoMessage(Err));
}

struct TAddressListDeleter {
    void operator()(addrinfo* A) const { freeaddrinfo(A); }
};

} // namespace

bool sockets::ConnectWithin(intptr_t Socket, const char* Address, int TimeoutMs) {
    const int Handle = static_cast<int>(Socket);
    const int Flags = fcntl(Handle, F_GETFL, 0);
    fcntl(Handle, F_SETFL, Flags | O_NONBLOCK);
    int Rc = connect(Handle, reinterpret_cast<const sockaddr*>(Address), AddressSize);
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

void sockets::CloseSocket(intptr_t Handle) {
    close(static_cast<int>(Handle));
}

std::string sockets::HomeFolder() {
    if (const char* Env = std::getenv("HOME"); Env != nullptr && *Env != '\0') return Env;
    if (const passwd* Entry = getpwuid(getuid()); Entry != nullptr && Entry->pw_dir != nullptr)
        return Entry->pw_dir;
    return std::string();
}

// ---------------------------------------------------------------------------
// Socket

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
        sockets::NoteSocketErrorText(Error);
        return false;
    }
    for (addrinfo* A = Found; A != nullptr; A = A->ai_next)
        if (A->ai_family == AF_INET && A->ai_addrlen == sizeof(sockaddr_in))
            FAddresses.append(reinterpret_cast<const char*>(A->ai_addr), sizeof(sockaddr_in));
    return true;
}

} // namespace kivo
