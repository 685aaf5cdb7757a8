// The parts of the Internet layer that make no system call: the handles'
// common part and their registry, the session's settings, the checks of
// arguments, URLs and headers, the FTP name check, and the layer's error
// texts. Internal to platform/: callers use platform/Internet.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Internet.h"
#include "runtime/SysUtils.h"

namespace kivo {

enum THandleKind : uint8_t { hkSession, hkConnect, hkRequest, hkFtpConnect, hkFtpFind };

class TSession; // each system's, derived from TInternetHandle and TSessionSettings

class TInternetHandle {
public:
    explicit TInternetHandle(THandleKind AKind) : Kind(AKind) {}
    virtual ~TInternetHandle() = default;
    TInternetHandle(const TInternetHandle&) = delete;
    TInternetHandle& operator=(const TInternetHandle&) = delete;

    // Closes the system's handles this one holds, so that a call blocked on
    // them ends. Safe to call again.
    virtual void CloseSystemHandles() {}

    THandleKind Kind;
    TSession* Owner = nullptr; // the session (itself for a session)
    int Busy = 0;              // calls running on this handle
    bool ClosePending = false; // closed while busy: released when the last call returns
};

// The registry of live handles, so a stale or foreign handle is refused.
void Register(TInternetHandle* H);
void Unregister(TInternetHandle* H);
bool IsLive(TInternetHandle* H);
// Releases a handle and, for a session, every handle opened through it
// (each system's).
void DestroyHandle(TInternetHandle* H);
// Releases a handle closed by the caller: an FTP file ends its transfer
// first and says whether it ended well (each system's).
bool ReleaseHandle(TInternetHandle* H);
// The session H belongs to, as a handle (each system's).
TInternetHandle* SessionHandle(const TInternetHandle& H);

// Whether Handle is live; else false with ERROR_INVALID_HANDLE_VALUE.
bool KnownHandle(TInternetHandle* Handle);
// Whether Handle is live and neither it nor its session is being closed;
// else false with ERROR_INVALID_HANDLE_VALUE.
bool HandleUsable(TInternetHandle* Handle);

template <class T> T* Lookup(HINTERNET Handle, THandleKind Kind) {
    if (!HandleUsable(Handle)) return nullptr;
    if (Handle->Kind != Kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return static_cast<T*>(Handle);
}

// Keeps a handle (and its session) alive while a call works on it; a close
// that came in meanwhile takes effect when the last call returns.
class TBusyGuard {
public:
    explicit TBusyGuard(TInternetHandle* AHandle);
    ~TBusyGuard();
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

private:
    TInternetHandle* FHandle;
    TInternetHandle* FSession;
};

// What a session is set to. Time-outs start as the defaults, and options 2,
// 5 and 6 set to 0 give them back, so no wait lasts without end.
struct TSessionSettings {
    uint32_t ConnectTimeoutMs = INTERNET_DEFAULT_CONNECT_TIMEOUT_MS;
    uint32_t SendTimeoutMs = INTERNET_DEFAULT_IO_TIMEOUT_MS;
    uint32_t ReceiveTimeoutMs = INTERNET_DEFAULT_IO_TIMEOUT_MS;
    std::string CaFile;    // certificates to verify TLS servers with; empty: the system's
    bool Insecure = false; // no verification of TLS servers
    std::function<bool()> AbortCheck;

    // InternetSetOptionW on the session: false with the layer's error for an
    // option it does not know or a buffer that holds no value.
    bool SetOption(uint32_t Option, const void* Buffer, uint32_t BufferLength);
    // InternetQueryOptionW of a time-out.
    bool QueryTimeout(uint32_t Option, void* Buffer, uint32_t& BufferLength) const;
};

// The checks of the calls' arguments; each sets the layer's error when it
// fails.
bool AccessTypeKnown(uint32_t AccessType);
// An http or https URL.
bool HttpUrlScheme(const std::string& Url);
// An HTTP connection to a server of that name can be made (Service is
// INTERNET_SERVICE_HTTP).
bool HttpConnectionUsable(uint32_t Service, const std::string& ServerName);
// The request's verb (GET when empty) in Verb: letters and '-' only.
bool RequestVerb(const std::string& Given, std::string& Verb);
// The object of a request as sent: with its leading '/'.
std::string RequestObject(const std::string& ObjectName);
// The caller's extra header lines (separated by CR LF or LF), without their
// line ends; empty lines and lines holding a NUL are left out.
std::vector<std::string> ExtraHeaderLines(const std::string& Headers);
// The URL an upload to Object on Server goes to.
std::string UploadUrl(const std::string& Server, uint16_t Port, const std::string& Object);
// How a read or write call goes on: it fails (the error set), there is
// nothing to move (no bytes asked for), or it moves data.
enum TTransferStep : uint8_t { tsFail, tsNothing, tsMove };
// StateOk: the handle may read (or write) now.
TTransferStep TransferStep(bool StateOk, const void* Buffer, uint32_t Count);

// Header lines of a response, names in lower case.
using THeaderList = std::vector<std::pair<std::string, std::string>>;

std::string LowerAscii(std::string_view Text);
// Percent-encodes the bytes a URL may not carry as they are (blanks,
// controls, bytes above 0x7E), so names with spaces or UTF-8 reach the
// server the way a browser would send them.
std::string EscapeUrl(const std::string& Url);
// The URL's scheme in lower case; empty when it has none.
std::string SchemeOf(const std::string& Url);

// A Content-Length the body can be framed by: digits only, and the same in
// every copy of the header ("0x400" would otherwise frame an empty body).
bool ContentLengthReadable(const THeaderList& Headers);
// Only "chunked" may frame the body: the request offers no other transfer
// coding, and a gzip coding that ends before its end is not reported, so a
// body sent that way could not be known to be whole.
bool TransferCodingsChunkedOnly(const THeaderList& Headers);

// Writes the Size bytes of Value to Buffer; a buffer too small fails with
// ERROR_INSUFFICIENT_BUFFER and sets the length needed.
bool PutValue(const void* Value, uint32_t Size, void* Buffer, uint32_t& BufferLength);
// Writes Text as zero-terminated UTF-16 to Buffer; a buffer too small fails
// with ERROR_INSUFFICIENT_BUFFER and sets the length needed.
void PutUtf16(const std::string& Text, void* Buffer, uint32_t& BufferLength, bool& Ok);

// HttpQueryInfoW on a final response of status Status with these header
// lines; ParseDate reads an HTTP date (GMT) for HTTP_QUERY_FLAG_SYSTEMTIME.
bool QueryResponse(uint32_t InfoLevel, uint32_t Status, const THeaderList& Headers, void* Buffer,
                   uint32_t& BufferLength, bool (*ParseDate)(const std::string&, SYSTEMTIME&));

// A header's value as the 32-bit or (Wide) 64-bit number it must be: digits
// only, else ERROR_HTTP_INVALID_SERVER_RESPONSE; a buffer too small fails
// with ERROR_INSUFFICIENT_BUFFER and sets the length needed.
bool PutHeaderNumber(const std::string& Text, bool Wide, void* Buffer, uint32_t& BufferLength);

// A name or path that could carry a second command on an FTP control
// connection (CR, LF or NUL) is refused before anything is sent.
inline bool SafeFtpText(const std::string& Text) {
    return Text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

} // namespace kivo
