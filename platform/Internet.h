// The Internet service: sessions, HTTP requests, pull-style body reads and
// push-style uploads, and FTP connections with their directory, listing and
// file calls, shaped like the system's Internet library and carried out by
// libcurl.
//
// All calls are made on one thread. A request does its network work only
// while one of these calls runs: the calls drive the transfer until they
// can answer, so InternetReadFile hands out exactly what was asked for and
// the caller decides the block size. Waits longer than a moment process
// pending window messages (runtime ProcessMessages) so a window stays
// responsive; a handle closed from such a message handler is released when
// the call that waits on it returns, and the wait ends as cancelled.
//
// Errors set the thread's last-error value (GetLastError) to one of the
// ERROR_INTERNET_* codes below; InternetErrorMessage gives its text.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kivo {

class TInternetHandle;
using HINTERNET = TInternetHandle*;

// Access types of InternetOpenW.
constexpr uint32_t INTERNET_OPEN_TYPE_PRECONFIG = 0; // the system's settings (proxy variables)
constexpr uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr uint32_t INTERNET_OPEN_TYPE_PROXY = 3;

// Request and session flags.
constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000;         // ask caches to revalidate
constexpr uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000; // nothing is cached anyway
constexpr uint32_t INTERNET_FLAG_KEEP_CONNECTION =
    0x00400000; // keep the connection for the next request
constexpr uint32_t INTERNET_FLAG_PASSIVE = 0x08000000;

// Options.
constexpr uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2; // milliseconds, 32-bit
constexpr uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr uint32_t INTERNET_OPTION_URL = 34; // the URL a request ended at (UTF-16, zero-terminated)
// Options of this layer's own, for TLS servers of a session. Certificates are
// verified against the system's store unless a file is named; "insecure"
// (a 32-bit 1) turns the check of certificate and host name off.
constexpr uint32_t INTERNET_OPTION_KIVO_CA_FILE = 0x4B560001;  // a PEM file's path, UTF-8 bytes
constexpr uint32_t INTERNET_OPTION_KIVO_INSECURE = 0x4B560002; // 32-bit 0 or 1

// Query levels and modifiers of HttpQueryInfoW.
constexpr uint32_t HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr uint32_t HTTP_QUERY_LAST_MODIFIED = 11;
constexpr uint32_t HTTP_QUERY_STATUS_CODE = 19;
constexpr uint32_t HTTP_QUERY_LOCATION = 33;
constexpr uint32_t HTTP_QUERY_FLAG_NUMBER = 0x20000000;     // 32-bit number
constexpr uint32_t HTTP_QUERY_FLAG_NUMBER64 = 0x08000000;   // 64-bit number
constexpr uint32_t HTTP_QUERY_FLAG_SYSTEMTIME = 0x40000000; // 16-byte SYSTEMTIME, as sent (GMT)
constexpr uint32_t HTTP_QUERY_MODIFIER_FLAGS_MASK = 0xF8000000;

constexpr uint32_t INTERNET_SERVICE_FTP = 1;
constexpr uint32_t INTERNET_SERVICE_HTTP = 3;
constexpr uint16_t INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr uint16_t INTERNET_INVALID_PORT_NUMBER = 0;
constexpr uint32_t HSR_INITIATE = 8;

// Errors of the layer (the Internet library's numbers).
constexpr uint32_t ERROR_INTERNET_OUT_OF_HANDLES = 12001;
constexpr uint32_t ERROR_INTERNET_TIMEOUT = 12002;
constexpr uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003; // the FTP server refused a command
constexpr uint32_t ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr uint32_t ERROR_INTERNET_INVALID_URL = 12005;
constexpr uint32_t ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr uint32_t ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr uint32_t ERROR_INTERNET_LOGIN_FAILURE = 12015;
constexpr uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr uint32_t ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr uint32_t ERROR_INTERNET_SEC_CERT_ERRORS = 12055;
constexpr uint32_t ERROR_FTP_TRANSFER_IN_PROGRESS = 12110;
constexpr uint32_t ERROR_FTP_DROPPED = 12111;
constexpr uint32_t ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr uint32_t ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr uint32_t ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr uint32_t ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;
constexpr uint32_t ERROR_INVALID_HANDLE_VALUE = 6;
constexpr uint32_t ERROR_NO_MORE_FILES_VALUE = 18;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY_VALUE = 8;
constexpr uint32_t ERROR_INVALID_PARAMETER_VALUE = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER_VALUE = 122;

// A SYSTEMTIME as the layer returns it for HTTP_QUERY_FLAG_SYSTEMTIME.
struct SYSTEMTIME {
    uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// The record HttpSendRequestExW takes; only dwStructSize and dwBufferTotal
// (the whole length of the body) are read.
struct INTERNET_BUFFERSW {
    uint32_t dwStructSize = sizeof(INTERNET_BUFFERSW);
    INTERNET_BUFFERSW* Next = nullptr;
    const char16_t* lpcszHeader = nullptr;
    uint32_t dwHeadersLength = 0;
    uint32_t dwHeadersTotal = 0;
    void* lpvBuffer = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBufferTotal = 0;
    uint32_t dwOffsetLow = 0;
    uint32_t dwOffsetHigh = 0;
};

// The time-outs every session starts with, and that options 2, 5 and 6 set
// to 0 give back, so no wait lasts without end: 60 s to connect, 60 s
// without progress while sending or receiving.
constexpr uint32_t INTERNET_DEFAULT_CONNECT_TIMEOUT_MS = 60000;
constexpr uint32_t INTERNET_DEFAULT_IO_TIMEOUT_MS = 60000;

// A session. ProxyName lists proxies as "host:port" or "scheme=host:port"
// entries separated by blanks or ';'; ProxyBypass names hosts reached
// directly. Time-outs start as the defaults above.
HINTERNET InternetOpenW(const std::string& Agent, uint32_t AccessType, const std::string& ProxyName,
                        const std::string& ProxyBypass, uint32_t Flags);

// Options 2, 5 and 6 take a 32-bit millisecond value (0 leaves the default);
// INTERNET_OPTION_KIVO_CA_FILE the path's bytes (an empty one: the system's
// store), INTERNET_OPTION_KIVO_INSECURE a 32-bit 0 or 1.
bool InternetSetOptionW(HINTERNET Handle, uint32_t Option, const void* Buffer,
                        uint32_t BufferLength);
// Option 34 on a request: its final URL as zero-terminated UTF-16. A buffer
// too small fails with ERROR_INSUFFICIENT_BUFFER and sets the length needed.
bool InternetQueryOptionW(HINTERNET Handle, uint32_t Option, void* Buffer, uint32_t& BufferLength);

// Sends a GET for Url (http and https; redirects are followed) with the
// extra header lines in Headers (separated by CR LF) and returns when the
// final response's headers have arrived. Null when no usable response came:
// no connection or no answer in time (the layer's code), or a head that
// cannot be read whole, a Content-Length that is not a plain number, or a
// transfer coding other than chunked (ERROR_HTTP_INVALID_SERVER_RESPONSE).
HINTERNET InternetOpenUrlW(HINTERNET Session, const std::string& Url, const std::string& Headers,
                           uint32_t Flags, uintptr_t Context);

// Header values of the final response. Without a modifier the value is
// written as zero-terminated UTF-16. A missing header fails with
// ERROR_HTTP_HEADER_NOT_FOUND and leaves the buffer as it was.
bool HttpQueryInfoW(HINTERNET Request, uint32_t InfoLevel, void* Buffer, uint32_t& BufferLength,
                    uint32_t* Index);

// Reads up to NumberOfBytesToRead bytes of the body; 0 bytes with True at
// its end. False when the transfer failed (the connection ended early, a
// time-out, a cancelled wait).
bool InternetReadFile(HINTERNET File, void* Buffer, uint32_t NumberOfBytesToRead,
                      uint32_t& NumberOfBytesRead);

// A connection to a server. For HTTP the connection is made by the first
// request sent through it; for FTP see below.
HINTERNET InternetConnectW(HINTERNET Session, const std::string& ServerName, uint16_t ServerPort,
                           const std::string& UserName, const std::string& Password,
                           uint32_t Service, uint32_t Flags, uintptr_t Context);
HINTERNET HttpOpenRequestW(HINTERNET Connect, const std::string& Verb,
                           const std::string& ObjectName, const std::string& Version,
                           const std::string& Referrer, const char* const* AcceptTypes,
                           uint32_t Flags, uintptr_t Context);
// Connects and sends the request line and headers of an upload whose body
// of BuffersIn->dwBufferTotal bytes follows through InternetWriteFile.
bool HttpSendRequestExW(HINTERNET Request, const INTERNET_BUFFERSW* BuffersIn,
                        INTERNET_BUFFERSW* BuffersOut, uint32_t Flags, uintptr_t Context);
bool InternetWriteFile(HINTERNET File, const void* Buffer, uint32_t NumberOfBytesToWrite,
                       uint32_t& NumberOfBytesWritten);
// Finishes the upload and waits for the server's response.
bool HttpEndRequestW(HINTERNET Request, INTERNET_BUFFERSW* BuffersOut, uint32_t Flags,
                     uintptr_t Context);

// ---------------------------------------------------------------------------
// FTP
//
// InternetConnectW with INTERNET_SERVICE_FTP connects and logs in at once, so
// a wrong host or password fails there (ERROR_INTERNET_LOGIN_FAILURE, or the
// connection's error). User and password are sent only when both are set;
// otherwise the login is anonymous. INTERNET_FLAG_PASSIVE asks for passive
// data connections, else the server connects back (active mode). Each
// connection handle keeps one control connection that every call on it uses.
// While a file is open through it, other calls on it fail with
// ERROR_FTP_TRANSFER_IN_PROGRESS. A command the server refuses fails with
// ERROR_INTERNET_EXTENDED_ERROR.

constexpr uint32_t GENERIC_READ_ACCESS = 0x80000000;
constexpr uint32_t GENERIC_WRITE_ACCESS = 0x40000000;
constexpr uint32_t FTP_TRANSFER_TYPE_ASCII = 1;
constexpr uint32_t FTP_TRANSFER_TYPE_BINARY = 2;
constexpr uint32_t INTERNET_FLAG_RESYNCHRONIZE = 0x00000800;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY_VALUE = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL_VALUE = 0x80;
constexpr uint16_t INTERNET_DEFAULT_FTP_PORT = 21;

// A file time: 100-nanosecond steps since 1601-01-01, in two halves.
struct INTERNET_FILETIME {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};

// One directory entry of an FTP listing.
struct WIN32_FIND_DATAW {
    uint32_t dwFileAttributes = 0;     // FILE_ATTRIBUTE_DIRECTORY_VALUE or _NORMAL_VALUE
    INTERNET_FILETIME ftLastWriteTime; // as the server writes it (MLSD: UTC)
    uint32_t nFileSizeHigh = 0;
    uint32_t nFileSizeLow = 0;
    std::string cFileName;
};

// The server's current directory of the connection (as an absolute path).
bool FtpGetCurrentDirectoryW(HINTERNET Connect, std::string& Directory);
// Changes into Directory (absolute, or relative to the current one); fails
// when the server refuses it.
bool FtpSetCurrentDirectoryW(HINTERNET Connect, const std::string& Directory);
bool FtpCreateDirectoryW(HINTERNET Connect, const std::string& Directory);
bool FtpDeleteFileW(HINTERNET Connect, const std::string& FileName);
// Lists the current directory (or the directory part of SearchFile) and
// returns a find handle with the first entry whose name matches the name
// part ("*" and "?"; empty, "*" and "*.*" match all). MLSD is used where the
// server offers it, else LIST. Null with ERROR_NO_MORE_FILES_VALUE when no
// entry matches.
HINTERNET FtpFindFirstFileW(HINTERNET Connect, const std::string& SearchFile,
                            WIN32_FIND_DATAW& FindData, uint32_t Flags, uintptr_t Context);
// The next matching entry; False with ERROR_NO_MORE_FILES_VALUE at the end.
bool InternetFindNextFileW(HINTERNET Find, WIN32_FIND_DATAW& FindData);
// Opens a remote file for reading (GENERIC_READ_ACCESS) or writing
// (GENERIC_WRITE_ACCESS) in the transfer type of Flags. Reading returns
// once the server started sending; InternetReadFile then pulls the data and
// fails when the transfer breaks off. A file opened for writing takes its
// data through InternetWriteFile; closing it ends the upload and returns
// False when the server did not take the file whole.
HINTERNET FtpOpenFileW(HINTERNET Connect, const std::string& FileName, uint32_t Access,
                       uint32_t Flags, uintptr_t Context);
// The size the server gave for a file opened for reading; 0xFFFFFFFF in
// both halves when it gave none.
uint32_t FtpGetFileSize(HINTERNET File, uint32_t* FileSizeHigh);

// Closes a handle; closing a session closes what was opened through it.
bool InternetCloseHandle(HINTERNET Handle);

// The text of an error code of this layer (what the system's message
// lookup gives for the Internet library's codes); empty for other codes.
std::string InternetErrorMessage(uint32_t Code);

// Waits on the session's requests end as ERROR_INTERNET_OPERATION_CANCELLED
// as soon as Check returns true (it is asked between network waits).
void InternetSetAbortCheck(HINTERNET Session, std::function<bool()> Check);

// Closes a handle when it goes out of scope.
struct TInternetHandleCloser {
    void operator()(TInternetHandle* Handle) const { InternetCloseHandle(Handle); }
};
using TInternetHandlePtr = std::unique_ptr<TInternetHandle, TInternetHandleCloser>;

} // namespace kivo
