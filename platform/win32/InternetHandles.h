// The handles of the Windows Internet layer and the wait its HTTP and FTP
// halves share. Each handle wraps handles of the system's Internet library;
// a call that waits on the network runs the library's blocking call on a
// worker thread while the caller's thread waits in short slices: it
// processes window messages, asks the session's abort check and watches the
// time-out, and on either end closes the library's handles, which ends the
// blocked call. Internal to platform/win32.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Internet.h"
#include "platform/InternetCommon.h"
#include "runtime/SysUtils.h"

namespace kivo {

class TSession : public TInternetHandle, public TSessionSettings {
public:
    TSession() : TInternetHandle(hkSession) { Owner = this; }
    ~TSession() override;
    void CloseSystemHandles() override;

    void* System = nullptr;
    std::vector<TInternetHandle*> Children;
};

class TFtpConnect;

// A request: an HTTP download or upload, or an FTP file.
class TRequest : public TInternetHandle {
public:
    TRequest() : TInternetHandle(hkRequest) {}
    ~TRequest() override;
    void CloseSystemHandles() override;
    // Ends the request with an error of the layer; its handles close.
    void Fail(uint32_t Code) {
        if (FailCode == 0) FailCode = Code;
        CloseSystemHandles();
    }

    void* System = nullptr;
    void* SystemConnect = nullptr; // a connection of its own (downloads)
    uint32_t FailCode = 0;
    bool AtEnd = false;
    uint64_t Received = 0;
    uint32_t Status = 0;
    THeaderList Headers;     // the final response's, names in lower case
    bool Persistent = false; // the server keeps the connection after the response
    std::string RequestUrl, SentUrl;
    std::string FinalUrl; // where the library says the request ended (redirects)
    uintptr_t Watch = 0;  // the connection watch of a download

    // HTTP upload
    bool IsUpload = false;
    bool Sent = false;
    std::string Verb, Object;
    class TConnect* Connection = nullptr;
    uint64_t UpTotal = 0, UpDone = 0;

    // FTP file
    TFtpConnect* FtpOwner = nullptr;
    bool FtpWrite = false;
    bool FtpBinary = true;
    std::string FtpName;
    uint64_t FtpSize = UINT64_MAX;

    const std::string* Header(const std::string& Name) const {
        for (const auto& H : Headers)
            if (H.first == Name) return &H.second;
        return nullptr;
    }
};

class TConnect : public TInternetHandle {
public:
    TConnect() : TInternetHandle(hkConnect) {}
    ~TConnect() override;
    void CloseSystemHandles() override;
    void* System = nullptr;
    std::string Server;
    uint16_t Port = INTERNET_DEFAULT_HTTP_PORT;
    std::string User, Password;
};

// Adds a new handle to its session and the registry.
void Adopt(TSession& S, TInternetHandle* H);

// Runs Work (a blocking call of the library, which returns false and its
// error code on failure) on a worker thread and waits for it on this one.
// The wait ends early as ERROR_INTERNET_OPERATION_CANCELLED (the session's
// abort check, a close of Handle or its session from a message handler) or
// ERROR_INTERNET_TIMEOUT (TimeoutMs without an answer); Handle's library
// handles are closed then. Work may outlive the wait when the library does
// not end it: it must own everything it touches. Returns 0 on success, else
// the error code (also set as the last error).
uint32_t RunBlocking(TInternetHandle& Handle, uint32_t TimeoutMs,
                     std::function<bool(uint32_t& Error)> Work);

// The FTP side of InternetConnectW.
HINTERNET FtpConnect(TSession& S, const std::string& ServerName, uint16_t ServerPort,
                     const std::string& UserName, const std::string& Password, uint32_t Flags);
// Ends an FTP file when its handle is closed: an upload is checked against
// the size the server then reports. Releases the request.
bool CloseFtpFile(TRequest& R);
void ForgetOpenFile(TFtpConnect* Connect);

} // namespace kivo
