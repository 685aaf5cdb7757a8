// The sockets of the SSH service through Winsock, and the user's home
// folder; the sessions and channels over them are in SshSession.cpp, the
// socket's shared part in TcpSocket.cpp.
#include "platform/Sftp.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/SocketCalls.h"
#include "runtime/SysMessages.h"
#include "runtime/win32/WideText.h"

namespace kivo {

namespace {

static_assert(sizeof(sockaddr_in) == sockets::AddressSize);

void NoteSocketError(int Err) {
    sockets::NoteSocketErrorText(Err == 0 ? std::string()
                                          : SysErrorMessage(static_cast<uint32_t>(Err)));
}

// Winsock is started once for the process and stays started.
bool StartWinsock() {
    static std::once_flag Once;
    static bool Started = false;
    std::call_once(Once, [] {
        WSADATA Data{};
        Started = WSAStartup(MAKEWORD(2, 2), &Data) == 0;
    });
    return Started;
}

struct TAddressListDeleter {
    void operator()(ADDRINFOW* A) const { FreeAddrInfoW(A); }
};

} // namespace

bool sockets::ConnectWithin(intptr_t Socket, const char* Address, int TimeoutMs) {
    const SOCKET Handle = static_cast<SOCKET>(Socket);
    u_long NonBlocking = 1;
    ioctlsocket(Handle, FIONBIO, &NonBlocking);
    int Rc = connect(Handle, reinterpret_cast<const sockaddr*>(Address), AddressSize);
    int Err = Rc == 0 ? 0 : WSAGetLastError();
    if (Rc != 0 && Err == WSAEWOULDBLOCK) {
        fd_set Writable, Failed;
        FD_ZERO(&Writable);
        FD_ZERO(&Failed);
        FD_SET(Handle, &Writable);
        FD_SET(Handle, &Failed);
        timeval Limit{TimeoutMs / 1000, (TimeoutMs % 1000) * 1000};
        Rc = select(0, nullptr, &Writable, &Failed, TimeoutMs > 0 ? &Limit : nullptr);
        if (Rc == 0) {
            Err = WSAETIMEDOUT;
            Rc = -1;
        } else if (Rc > 0) {
            int SocketErr = 0;
            int Len = sizeof SocketErr;
            getsockopt(Handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&SocketErr), &Len);
            if (FD_ISSET(Handle, &Failed) && SocketErr == 0) SocketErr = WSAECONNREFUSED;
            Err = SocketErr;
            Rc = Err == 0 ? 0 : -1;
        } else {
            Err = WSAGetLastError();
        }
    }
    NonBlocking = 0;
    ioctlsocket(Handle, FIONBIO, &NonBlocking);
    if (Rc != 0) NoteSocketError(Err);
    return Rc == 0;
}

void sockets::CloseSocket(intptr_t Handle) {
    closesocket(static_cast<SOCKET>(Handle));
}

std::string sockets::HomeFolder() {
    if (const wchar_t* Profile = _wgetenv(L"USERPROFILE"); Profile != nullptr && *Profile != 0)
        return os::WideToUtf8(Profile);
    if (const char* Env = std::getenv("HOME"); Env != nullptr) return Env;
    return std::string();
}

bool TTcpSocket::Create(int32_t BufferLength) {
    Close();
    if (!StartWinsock()) {
        NoteSocketError(WSASYSNOTREADY);
        return false;
    }
    const SOCKET Handle =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (Handle == INVALID_SOCKET) {
        NoteSocketError(WSAGetLastError());
        return false;
    }
    FHandle = static_cast<intptr_t>(Handle);
    const int Value = BufferLength;
    const char* Raw = reinterpret_cast<const char*>(&Value);
    setsockopt(Handle, SOL_SOCKET, SO_SNDBUF, Raw, sizeof Value);
    setsockopt(Handle, SOL_SOCKET, SO_RCVBUF, Raw, sizeof Value);
    setsockopt(Handle, SOL_SOCKET, SO_KEEPALIVE, Raw, sizeof Value);
    return true;
}

bool TTcpSocket::Resolve(const std::string& Host, int32_t Port, std::string& Error) {
    FAddresses.clear();
    if (!StartWinsock()) {
        NoteSocketError(WSASYSNOTREADY);
        Error = LastSocketErrorText();
        return false;
    }
    ADDRINFOW Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_STREAM;
    Hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW* Found = nullptr;
    const int Rc = GetAddrInfoW(os::Utf8ToWide(Host).c_str(),
                                os::Utf8ToWide(std::to_string(Port)).c_str(), &Hints, &Found);
    std::unique_ptr<ADDRINFOW, TAddressListDeleter> List(Found);
    if (Rc != 0) {
        NoteSocketError(Rc);
        Error = LastSocketErrorText();
        return false;
    }
    for (ADDRINFOW* A = Found; A != nullptr; A = A->ai_next)
        if (A->ai_family == AF_INET && A->ai_addrlen == sizeof(sockaddr_in))
            FAddresses.append(reinterpret_cast<const char*>(A->ai_addr), sizeof(sockaddr_in));
    return true;
}

} // namespace kivo
