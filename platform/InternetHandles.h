// The handle types of the Internet layer and the waits its HTTP and FTP
// halves share. Internal to platform/: callers use platform/Internet.h.
#pragma once

#include <cstdint>
#include <curl/curl.h>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Internet.h"
#include "platform/InternetCommon.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"

namespace kivo {

// A request whose reader falls behind pauses its transfer at this much
// buffered data, so memory stays bounded whatever the server sends.
constexpr size_t PauseThreshold = 4u << 20;
// libcurl's receive buffer: large blocks keep the number of system calls
// and callbacks low on fast links.
constexpr long ReceiveBufferSize = 256 * 1024;
// Waits process window messages at most this often.
constexpr uint64_t PumpIntervalMs = 20;
constexpr int PollSliceMs = 20;

uint32_t MapCurlError(CURLcode Code);
void InitCurlOnce();

class TSession : public TInternetHandle, public TSessionSettings {
public:
    TSession() : TInternetHandle(hkSession) {
        Owner = this;
        Multi = curl_multi_init();
    }
    ~TSession() override;

    CURLM* Multi = nullptr;
    std::string Agent;
    uint32_t AccessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string ProxyList;
    std::string Bypass;
    std::vector<TInternetHandle*> Children;

    void ApplyTo(CURL* Easy, const std::string& Url) const;
    std::string ProxyFor(const std::string& Scheme) const;
};

class TConnect : public TInternetHandle {
public:
    TConnect() : TInternetHandle(hkConnect) {}
    std::string Server;
    uint16_t Port = INTERNET_DEFAULT_HTTP_PORT;
    std::string User, Password;
};

class TRequest;

// An FTP connection: logged in when it is made, with a multi handle of its
// own so its control connection serves this handle alone. Defined beside the
// FTP calls; a file open through it is known here so either can go first.
class TFtpConnect;
void ForgetOpenFile(TFtpConnect* Connect);

class TRequest : public TInternetHandle {
public:
    TRequest() : TInternetHandle(hkRequest) { Easy = curl_easy_init(); }
    ~TRequest() override;

    CURL* Easy = nullptr;
    CURLM* Multi = nullptr; // the multi handle it runs in while attached
    curl_slist* HeaderList = nullptr;
    bool Attached = false; // added to the session's multi handle
    bool Done = false;     // the transfer has ended
    CURLcode Result = CURLE_OK;
    uint32_t FailCode = 0;    // an error of the layer itself (time-out, cancel)
    bool HeadersDone = false; // the final response's head has arrived whole
    bool FollowRedirects = false;
    bool KeepConnection = true;
    std::string RequestUrl; // as the caller gave it

    // The final response's header lines, names in lower case.
    std::vector<std::pair<std::string, std::string>> Headers;
    bool BlockHasLocation = false;

    // Received body bytes not yet read.
    std::vector<uint8_t> Data;
    size_t ReadPos = 0;
    bool Paused = false;

    // Upload.
    bool IsUpload = false;
    std::string Verb, Object;
    TConnect* Connection = nullptr;
    bool Sent = false;
    uint64_t UpTotal = 0, UpDone = 0;
    const uint8_t* UpPtr = nullptr;
    size_t UpLeft = 0;
    bool UpPaused = false;
    bool BodyAsked = false;

    // FTP: the connection the file was opened through (null once it is
    // gone), and an upload whose length is known only when it is closed.
    TFtpConnect* FtpOwner = nullptr;
    bool OpenEnded = false;
    bool Finishing = false;        // the caller closed it: the body ends here
    std::vector<uint8_t> UpBuffer; // FTP upload data; libcurl has taken UpTaken bytes
    size_t UpTaken = 0;
    size_t UpSinceKick = 0; // bytes buffered since libcurl last ran

    size_t Available() const { return Data.size() - ReadPos; }

    void Detach() {
        if (Attached && Multi != nullptr) {
            curl_multi_remove_handle(Multi, Easy);
        }
        Attached = false;
    }
    void Fail(uint32_t Code) {
        if (!Done) {
            Done = true;
            FailCode = Code;
            Detach();
        }
    }
    uint32_t ErrorCode() const { return FailCode != 0 ? FailCode : MapCurlError(Result); }
    bool Succeeded() const { return Done && FailCode == 0 && Result == CURLE_OK; }
    long Status() const {
        long Code = 0;
        curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &Code);
        return Code;
    }
    const std::string* Header(std::string_view Name) const {
        for (const auto& H : Headers)
            if (H.first == Name) return &H.second;
        return nullptr;
    }

    static size_t OnHeader(char* Ptr, size_t Size, size_t Count, void* User);
    static size_t OnWrite(char* Ptr, size_t Size, size_t Count, void* User);
    static size_t OnRead(char* Ptr, size_t Size, size_t Count, void* User);
};

// Drives the session's transfers until Ready() holds or the request ends.
// Fails the request on a time-out (no progress for TimeoutMs), an abort
// request from the session's check, or a close made while waiting.
template <class Pred> void Drive(TSession* S, TRequest* R, uint32_t TimeoutMs, Pred Ready) {
    uint64_t LastProgress = GetTickCount64();
    uint64_t LastPump = LastProgress;
    uint64_t Seen = R->Data.size() + R->UpDone + (R->HeadersDone ? 1 : 0);
    while (!Ready() && !R->Done) {
        int Running = 0;
        curl_multi_perform(R->Multi, &Running);
        int Left = 0;
        while (CURLMsg* Msg = curl_multi_info_read(R->Multi, &Left)) {
            if (Msg->msg != CURLMSG_DONE) continue;
            TRequest* Which = nullptr;
            curl_easy_getinfo(Msg->easy_handle, CURLINFO_PRIVATE, &Which);
            if (Which != nullptr && !Which->Done) {
                Which->Done = true;
                Which->Result = Msg->data.result;
                Which->Detach();
            }
        }
        if (Ready() || R->Done) break;
        uint64_t Now = GetTickCount64();
        uint64_t Progress = R->Data.size() + R->UpDone + (R->HeadersDone ? 1 : 0);
        if (Progress != Seen) {
            Seen = Progress;
            LastProgress = Now;
        }
        if (R->ClosePending || S->ClosePending || (S->AbortCheck && S->AbortCheck())) {
            R->Fail(ERROR_INTERNET_OPERATION_CANCELLED);
            break;
        }
        if (TimeoutMs != 0 && Now - LastProgress >= TimeoutMs) {
            R->Fail(ERROR_INTERNET_TIMEOUT);
            break;
        }
        if (Now - LastPump >= PumpIntervalMs) {
            LastPump = Now;
            ProcessMessages();
            continue;
        }
        int Fds = 0;
        curl_multi_poll(R->Multi, nullptr, 0, PollSliceMs, &Fds);
    }
}

// Adds the request to the multi handle it runs in: the session's, or an
// FTP connection's own.
bool Attach(TRequest* R, CURLM* Multi);

// The FTP side of InternetConnectW: a new connection, logged in.
HINTERNET FtpConnect(TSession& S, const std::string& ServerName, uint16_t ServerPort,
                     const std::string& UserName, const std::string& Password, uint32_t Flags);
// Ends an FTP upload when its handle is closed: the rest of the data is
// sent and the server's answer awaited. Releases the request.
bool FinishFtpUpload(TRequest& R);
// Takes the bytes of an FTP upload into the request's buffer and sends the
// buffer once it holds a large block; a failure shows at the next block or
// when the file is closed.
bool BufferFtpUpload(TRequest& R, const void* Buffer, uint32_t Count, uint32_t& Written);
// libcurl's read callback of an FTP upload: up to Room buffered bytes; the
// end once the file is being closed and nothing is left; else a pause.
size_t TakeFtpUploadData(TRequest& R, char* Ptr, size_t Room);

} // namespace kivo
