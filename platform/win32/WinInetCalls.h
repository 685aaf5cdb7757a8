// Thin calls into the system's Internet library for the layer in
// Internet.cpp, which cannot include the library's header: its macros carry
// the names of the layer's own constants. Handles are the library's, as
// void*; every failing call leaves the library's error code for LastError().
// Calls block; Internet.cpp runs them on worker threads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kivo::wininet {

using THandle = void*;

// The calling thread's last error of the system (the library's codes are the
// layer's codes; its several certificate faults are the layer's one).
uint32_t LastError();

// Runs Routine on a new thread that nobody waits for; false when no thread
// could be made. (A std::thread detached at once sometimes ends before it
// runs its routine under load with the POSIX-threads runtime of this build.)
bool StartDetached(std::function<void()> Routine);

THandle Open(const std::u16string& Agent, uint32_t AccessType, const std::u16string& Proxy,
             const std::u16string& Bypass);
// The library's own connect, send and receive time-outs of a handle.
void SetTimeouts(THandle Handle, uint32_t ConnectMs, uint32_t SendMs, uint32_t ReceiveMs);
bool Close(THandle Handle);

// HTTP
THandle Connect(THandle Session, const std::u16string& Server, uint16_t Port,
                const std::u16string& User, const std::u16string& Password, uint32_t Service,
                uint32_t Flags);
// A request for Object ("/path?query", escaped) on a connection; Secure
// makes it HTTPS, Insecure then accepts any certificate. Watch (0: none)
// is the connection watch the request reports to.
THandle OpenRequest(THandle Connect, const std::u16string& Verb, const std::u16string& Object,
                    uint32_t Flags, bool Secure, bool Insecure, uintptr_t Watch);

// Connection watches: whether the library closed a request's connection
// instead of keeping it for the next request. A session reports to the
// watches of the requests opened through it once WatchConnections was
// called on it, before its connections were made.
void WatchConnections(THandle Session);
uintptr_t NewConnectionWatch();
// Forgets the closes seen so far (those of redirects and of the head).
void ResetConnectionWatch(uintptr_t Watch);
bool ConnectionClosed(uintptr_t Watch);
void EndConnectionWatch(uintptr_t Watch);
// Sends a request without a body (redirects are followed).
bool SendRequest(THandle Request, const std::u16string& Headers);
// Sends the head of a request whose body of Total bytes follows.
bool SendRequestEx(THandle Request, const std::u16string& Headers, uint32_t Total);
bool EndRequest(THandle Request);
// The response's head as the server sent it, lines separated by CR LF.
bool RawHeaders(THandle Request, std::string& Head);
bool StatusCode(THandle Request, uint32_t& Code);
// The URL the request ended at.
bool FinalUrl(THandle Request, std::u16string& Url);
// The DER bytes of the TLS server's certificate and of the certificates the
// server sent with it (the chain the library built, leaf first).
bool ServerCertificates(THandle Request, std::vector<std::string>& Certificates);
// 0 when the DER certificate Leaf is one of the certificates of the PEM
// file CaFile (a UTF-8 path) or was signed by one of them; the layer's
// security-channel error when the file gives no certificate, else its
// certificate error.
uint32_t CheckCertificate(const std::string& Leaf, const std::string& CaFile);
// An HTTP date as the eight fields of a SYSTEMTIME (GMT).
bool ParseHttpDate(const std::string& Text, uint16_t Fields[8]);

// Data of a request or an FTP file: waits until some bytes have arrived
// (0 at the end) and reads at most Count of them.
bool ReadSome(THandle File, void* Buffer, uint32_t Count, uint32_t& Read);
bool Write(THandle File, const void* Buffer, uint32_t Count, uint32_t& Written);

// FTP
bool FtpCurrentDirectory(THandle Connect, std::u16string& Directory);
bool FtpChangeDirectory(THandle Connect, const std::u16string& Directory);
bool FtpMakeDirectory(THandle Connect, const std::u16string& Directory);
bool FtpRemoveFile(THandle Connect, const std::u16string& Name);
struct TFindEntry {
    bool IsDirectory = false;
    uint64_t WriteTime = 0; // 100-ns steps since 1601
    uint64_t Size = 0;
    std::u16string Name;
};
// Every entry of the listing of Search (a folder; empty: the current one).
// An empty folder gives true and no entries.
bool FtpList(THandle Connect, const std::u16string& Search, std::vector<TFindEntry>& Entries);
THandle FtpOpen(THandle Connect, const std::u16string& Name, uint32_t Access, uint32_t Flags);
// Sends one command without a data connection; Reply is the server's answer.
bool FtpSendCommand(THandle Connect, const std::u16string& Command, std::string& Reply);

} // namespace kivo::wininet
