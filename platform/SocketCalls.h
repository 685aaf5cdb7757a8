// The few calls of the SFTP socket that differ between the systems, for the
// socket's shared part (TcpSocket.cpp); each system's Sftp.cpp has them.
// Internal to platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kivo::sockets {

// Bytes of one resolved IPv4 address (a sockaddr_in) in the socket's list.
constexpr size_t AddressSize = 16;

// Connects the socket Handle to Address (AddressSize bytes), waiting at most
// TimeoutMs; the socket is blocking again afterwards. A failure is noted
// for LastSocketErrorText.
bool ConnectWithin(intptr_t Handle, const char* Address, int TimeoutMs);
void CloseSocket(intptr_t Handle);
// The user's home folder ("" when there is none).
std::string HomeFolder();
// Keeps Text as this thread's last socket error.
void NoteSocketErrorText(std::string Text);

} // namespace kivo::sockets
