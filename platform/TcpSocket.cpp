// The parts of the SFTP socket that are the same on every system: the last
// error, the home folder in paths, and connecting to the resolved addresses
// in turn. The system calls are each system's (SocketCalls.h).
#include <utility>

#include "platform/Sftp.h"
#include "platform/SocketCalls.h"

namespace kivo {

namespace {

thread_local std::string LastSocketError;

} // namespace

void sockets::NoteSocketErrorText(std::string Text) {
    LastSocketError = std::move(Text);
}

std::string LastSocketErrorText() {
    return LastSocketError;
}

std::string ExpandUserPath(const std::string& Path) {
    if (Path != "~" && Path.rfind("~/", 0) != 0) return Path;
    return sockets::HomeFolder() + Path.substr(1);
}

TTcpSocket::~TTcpSocket() {
    Close();
}

void TTcpSocket::Close() {
    if (FHandle != -1) sockets::CloseSocket(FHandle);
    FHandle = -1;
}

bool TTcpSocket::Connect(int TimeoutMs) {
    for (size_t At = 0; At + sockets::AddressSize <= FAddresses.size(); At += sockets::AddressSize)
        if (sockets::ConnectWithin(FHandle, FAddresses.data() + At, TimeoutMs)) return true;
    return false;
}

} // namespace kivo
