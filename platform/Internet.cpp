#include "platform/Internet.h"

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/InternetCommon.h"
#include "platform/InternetHandles.h"
#include "runtime/Application.h"
#include "runtime/DateTime.h"
#include "runtime/SysMessages.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

uint32_t MapCurlError(CURLcode Code) {
    switch (Code) {
    case CURLE_OK: return 0;
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_RESET;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_PEER_FAILED_VERIFICATION: return ERROR_INTERNET_SEC_CERT_ERRORS;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_USE_SSL_FAILED: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_OUT_OF_MEMORY: return ERROR_NOT_ENOUGH_MEMORY_VALUE;
    case CURLE_LOGIN_DENIED: return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_DISK_FULL: return ERROR_INTERNET_EXTENDED_ERROR;
    case CURLE_FTP_WEIRD_PASS_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT: return ERROR_FTP_DROPPED;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

void InitCurlOnce() {
    static std::once_flag Once;
    std::call_once(Once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

TInternetHandle* SessionHandle(const TInternetHandle& H) {
    return H.Owner;
}

namespace {

void DestroyChildren(TSession* S) {
    std::vector<TInternetHandle*> Kids;
    Kids.swap(S->Children);
    // Requests first: they leave the multi handle before it goes.
    std::stable_partition(Kids.begin(), Kids.end(),
                          [](TInternetHandle* K) { return K->Kind == hkRequest; });
    for (TInternetHandle* K : Kids) {
        Unregister(K);
        delete K;
    }
}

} // namespace

void DestroyHandle(TInternetHandle* H) {
    Unregister(H);
    if (H->Kind == hkSession) {
        delete static_cast<TSession*>(H);
        return;
    }
    TSession* S = static_cast<TSession*>(H->Owner);
    if (S != nullptr)
        S->Children.erase(std::remove(S->Children.begin(), S->Children.end(), H),
                          S->Children.end());
    if (H->Kind == hkRequest) {
        delete static_cast<TRequest*>(H);
        return;
    }
    // Requests opened through this connection lose it.
    if (S != nullptr && H->Kind == hkConnect) {
        for (TInternetHandle* K : S->Children)
            if (K->Kind == hkRequest && static_cast<TRequest*>(K)->Connection == H)
                static_cast<TRequest*>(K)->Connection = nullptr;
    }
    delete H;
}

TRequest::~TRequest() {
    Detach();
    if (FtpOwner != nullptr) ForgetOpenFile(FtpOwner);
    if (Easy != nullptr) curl_easy_cleanup(Easy);
    if (HeaderList != nullptr) curl_slist_free_all(HeaderList);
}

namespace {

void AppendHeaderLines(TRequest* R, const std::string& Headers) {
    for (const std::string& Line : ExtraHeaderLines(Headers))
        R->HeaderList = curl_slist_append(R->HeaderList, Line.c_str());
}

// Why the request has no response to hand out, as an error code of this
// layer; 0 when the final head arrived whole and frames a body that can be
// read to its end.
uint32_t ResponseRefusal(const TRequest& R) {
    if (!R.HeadersDone && !R.Succeeded()) {
        if (R.FailCode != 0) return R.FailCode; // time-out, cancelled
        // A status line came, the rest of the head could not be read (a
        // header too large, too many of them, a NUL, a bad length).
        if (R.Status() != 0) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        const uint32_t Code = R.ErrorCode();
        return Code != 0 ? Code : ERROR_INTERNET_CANNOT_CONNECT;
    }
    if (!ContentLengthReadable(R.Headers) || !TransferCodingsChunkedOnly(R.Headers))
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return 0;
}

} // namespace

bool Attach(TRequest* R, CURLM* Multi) {
    curl_easy_setopt(R->Easy, CURLOPT_PRIVATE, R);
    if (curl_multi_add_handle(Multi, R->Easy) != CURLM_OK) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return false;
    }
    R->Multi = Multi;
    R->Attached = true;
    return true;
}

TSession::~TSession() {
    DestroyChildren(this);
    if (Multi != nullptr) curl_multi_cleanup(Multi);
}

std::string TSession::ProxyFor(const std::string& Scheme) const {
    // Entries: "host:port" for every scheme or "scheme=host:port".
    std::string Any, Match;
    size_t P = 0;
    while (P < ProxyList.size()) {
        size_t E = ProxyList.find_first_of(" ;", P);
        if (E == std::string::npos) E = ProxyList.size();
        std::string Entry = ProxyList.substr(P, E - P);
        P = E + 1;
        if (Entry.empty()) continue;
        size_t Eq = Entry.find('=');
        if (Eq == std::string::npos) {
            if (Any.empty()) Any = Entry;
        } else if (LowerAscii(Entry.substr(0, Eq)) == Scheme && Match.empty()) {
            Match = Entry.substr(Eq + 1);
        }
    }
    return Match.empty() ? Any : Match;
}

void TSession::ApplyTo(CURL* Easy, const std::string& Url) const {
    curl_easy_setopt(Easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(Easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(Easy, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(Easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!Agent.empty()) curl_easy_setopt(Easy, CURLOPT_USERAGENT, Agent.c_str());
    curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ConnectTimeoutMs));
    if (!CaFile.empty()) curl_easy_setopt(Easy, CURLOPT_CAINFO, CaFile.c_str());
    if (Insecure) {
        curl_easy_setopt(Easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(Easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (AccessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(Easy, CURLOPT_PROXY, "");
    } else if (AccessType == INTERNET_OPEN_TYPE_PROXY) {
        std::string Proxy = ProxyFor(SchemeOf(Url));
        curl_easy_setopt(Easy, CURLOPT_PROXY, Proxy.c_str());
        if (!Bypass.empty()) {
            std::string List;
            size_t P = 0;
            while (P < Bypass.size()) {
                size_t E = Bypass.find_first_of(" ;,", P);
                if (E == std::string::npos) E = Bypass.size();
                std::string Entry = Bypass.substr(P, E - P);
                P = E + 1;
                if (Entry.empty()) continue;
                if (Entry == "<local>") Entry = "localhost,127.0.0.1,::1";
                if (!List.empty()) List += ',';
                List += Entry;
            }
            curl_easy_setopt(Easy, CURLOPT_NOPROXY, List.c_str());
        }
    }
}

size_t TRequest::OnHeader(char* Ptr, size_t Size, size_t Count, void* User) {
    auto* R = static_cast<TRequest*>(User);
    size_t Len = Size * Count;
    std::string_view Line(Ptr, Len);
    while (!Line.empty() && (Line.back() == '\n' || Line.back() == '\r'))
        Line.remove_suffix(1);
    if (Line.size() >= 5 && Line.substr(0, 5) == "HTTP/") {
        // A new response (an interim one, a redirect, or the final one).
        R->Headers.clear();
        R->BlockHasLocation = false;
    } else if (Line.empty()) {
        long Code = R->Status();
        bool Interim = Code >= 100 && Code < 200;
        bool Redirect =
            R->FollowRedirects && Code >= 300 && Code < 400 && Code != 304 && R->BlockHasLocation;
        if (!Interim && !Redirect) R->HeadersDone = true;
    } else {
        size_t Colon = Line.find(':');
        if (Colon != std::string_view::npos) {
            std::string Name = LowerAscii(Line.substr(0, Colon));
            std::string Value = Trim(Line.substr(Colon + 1));
            if (Name == "location") R->BlockHasLocation = true;
            R->Headers.emplace_back(std::move(Name), std::move(Value));
        }
    }
    return Len;
}

size_t TRequest::OnWrite(char* Ptr, size_t Size, size_t Count, void* User) {
    auto* R = static_cast<TRequest*>(User);
    size_t Len = Size * Count;
    R->HeadersDone = true;
    if (R->Available() >= PauseThreshold) {
        R->Paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (R->ReadPos == R->Data.size()) {
        R->Data.clear();
        R->ReadPos = 0;
    } else if (R->ReadPos > R->Data.size() / 2) {
        R->Data.erase(R->Data.begin(), R->Data.begin() + static_cast<ptrdiff_t>(R->ReadPos));
        R->ReadPos = 0;
    }
    R->Data.insert(R->Data.end(), reinterpret_cast<uint8_t*>(Ptr),
                   reinterpret_cast<uint8_t*>(Ptr) + Len);
    return Len;
}

size_t TRequest::OnRead(char* Ptr, size_t Size, size_t Count, void* User) {
    auto* R = static_cast<TRequest*>(User);
    R->BodyAsked = true;
    size_t Room = Size * Count;
    if (R->OpenEnded) return TakeFtpUploadData(*R, Ptr, Room);
    if (R->UpDone >= R->UpTotal) return 0;
    if (R->UpLeft == 0) {
        R->UpPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    size_t N = std::min(Room, R->UpLeft);
    std::memcpy(Ptr, R->UpPtr, N);
    R->UpPtr += N;
    R->UpLeft -= N;
    R->UpDone += N;
    return N;
}

// ---------------------------------------------------------------------------

HINTERNET InternetOpenW(const std::string& Agent, uint32_t AccessType, const std::string& ProxyName,
                        const std::string& ProxyBypass, uint32_t /*Flags*/) {
    InitCurlOnce();
    if (!AccessTypeKnown(AccessType)) return nullptr;
    auto S = std::make_unique<TSession>();
    if (S->Multi == nullptr) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return nullptr;
    }
    S->Agent = Agent;
    S->AccessType = AccessType;
    S->ProxyList = ProxyName;
    S->Bypass = ProxyBypass;
    Register(S.get());
    return S.release();
}

bool InternetSetOptionW(HINTERNET Handle, uint32_t Option, const void* Buffer,
                        uint32_t BufferLength) {
    if (!KnownHandle(Handle)) return false;
    return Handle->Owner->SetOption(Option, Buffer, BufferLength);
}

bool InternetQueryOptionW(HINTERNET Handle, uint32_t Option, void* Buffer, uint32_t& BufferLength) {
    if (!KnownHandle(Handle)) return false;
    TSession* S = static_cast<TSession*>(Handle->Owner);
    if (Option == INTERNET_OPTION_URL) {
        if (Handle->Kind != hkRequest) {
            SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            return false;
        }
        auto* R = static_cast<TRequest*>(Handle);
        // Without a redirect the request ended where it was sent: the URL as
        // the caller wrote it (not in the escaped form sent on the wire).
        long Redirects = 0;
        curl_easy_getinfo(R->Easy, CURLINFO_REDIRECT_COUNT, &Redirects);
        char* Url = nullptr;
        if (Redirects > 0 || R->RequestUrl.empty())
            curl_easy_getinfo(R->Easy, CURLINFO_EFFECTIVE_URL, &Url);
        std::string Text = Redirects > 0 || R->RequestUrl.empty()
                               ? std::string(Url != nullptr ? Url : "")
                               : R->RequestUrl;
        bool Ok = false;
        PutUtf16(Text, Buffer, BufferLength, Ok);
        return Ok;
    }
    return S->QueryTimeout(Option, Buffer, BufferLength);
}

HINTERNET InternetOpenUrlW(HINTERNET Session, const std::string& Url, const std::string& Headers,
                           uint32_t Flags, uintptr_t /*Context*/) {
    TSession* S = Lookup<TSession>(Session, hkSession);
    if (S == nullptr) return nullptr;
    if (!HttpUrlScheme(Url)) return nullptr;
    auto R = std::make_unique<TRequest>();
    if (R->Easy == nullptr) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return nullptr;
    }
    R->Owner = S;
    R->FollowRedirects = true;
    R->KeepConnection = (Flags & INTERNET_FLAG_KEEP_CONNECTION) != 0;
    R->RequestUrl = Url;
    CURL* E = R->Easy;
    std::string Escaped = EscapeUrl(Url);
    S->ApplyTo(E, Escaped);
    if (curl_easy_setopt(E, CURLOPT_URL, Escaped.c_str()) != CURLE_OK) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    curl_easy_setopt(E, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(E, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(E, CURLOPT_FORBID_REUSE, R->KeepConnection ? 0L : 1L);
    if ((Flags & INTERNET_FLAG_RELOAD) != 0) {
        R->HeaderList = curl_slist_append(R->HeaderList, "Pragma: no-cache");
        R->HeaderList = curl_slist_append(R->HeaderList, "Cache-Control: no-cache");
    }
    AppendHeaderLines(R.get(), Headers);
    if (R->HeaderList != nullptr) curl_easy_setopt(E, CURLOPT_HTTPHEADER, R->HeaderList);
    curl_easy_setopt(E, CURLOPT_HEADERFUNCTION, &TRequest::OnHeader);
    curl_easy_setopt(E, CURLOPT_HEADERDATA, R.get());
    curl_easy_setopt(E, CURLOPT_WRITEFUNCTION, &TRequest::OnWrite);
    curl_easy_setopt(E, CURLOPT_WRITEDATA, R.get());
    if (!Attach(R.get(), S->Multi)) return nullptr;

    TRequest* Raw = R.release();
    Register(Raw);
    S->Children.push_back(Raw);
    {
        TBusyGuard Guard(Raw);
        Drive(S, Raw, S->ReceiveTimeoutMs, [Raw] { return Raw->HeadersDone; });
        const uint32_t Code =
            Raw->ClosePending ? ERROR_INTERNET_OPERATION_CANCELLED : ResponseRefusal(*Raw);
        if (Code == 0) return Raw;
        Raw->Fail(Code);
        Raw->ClosePending = true; // released by the guard
        SetLastError(Code);
    }
    return nullptr;
}

namespace {

bool HttpDate(const std::string& Text, SYSTEMTIME& Time) {
    const time_t T = curl_getdate(Text.c_str(), nullptr);
    if (T == static_cast<time_t>(-1)) return false;
    struct tm Tm {};
    gmtime_r(&T, &Tm);
    Time.wYear = static_cast<uint16_t>(Tm.tm_year + 1900);
    Time.wMonth = static_cast<uint16_t>(Tm.tm_mon + 1);
    Time.wDayOfWeek = static_cast<uint16_t>(Tm.tm_wday);
    Time.wDay = static_cast<uint16_t>(Tm.tm_mday);
    Time.wHour = static_cast<uint16_t>(Tm.tm_hour);
    Time.wMinute = static_cast<uint16_t>(Tm.tm_min);
    Time.wSecond = static_cast<uint16_t>(Tm.tm_sec);
    Time.wMilliseconds = 0;
    return true;
}

} // namespace

bool HttpQueryInfoW(HINTERNET Request, uint32_t InfoLevel, void* Buffer, uint32_t& BufferLength,
                    uint32_t* /*Index*/) {
    const TRequest* R = Lookup<TRequest>(Request, hkRequest);
    return R != nullptr && QueryResponse(InfoLevel, static_cast<uint32_t>(R->Status()), R->Headers,
                                         Buffer, BufferLength, &HttpDate);
}

bool InternetReadFile(HINTERNET File, void* Buffer, uint32_t NumberOfBytesToRead,
                      uint32_t& NumberOfBytesRead) {
    NumberOfBytesRead = 0;
    TRequest* R = Lookup<TRequest>(File, hkRequest);
    if (R == nullptr) return false;
    const TTransferStep Step = TransferStep(!R->IsUpload, Buffer, NumberOfBytesToRead);
    if (Step != tsMove) return Step == tsNothing;
    TSession* S = static_cast<TSession*>(R->Owner);
    TBusyGuard Guard(R);
    if (R->Available() == 0 && R->Paused && !R->Done) {
        R->Paused = false;
        curl_easy_pause(R->Easy, CURLPAUSE_CONT);
    }
    if (R->Available() == 0 && !R->Done)
        Drive(S, R, S->ReceiveTimeoutMs, [R] { return R->Available() > 0; });
    size_t N = std::min<size_t>(NumberOfBytesToRead, R->Available());
    if (N > 0) {
        std::memcpy(Buffer, R->Data.data() + R->ReadPos, N);
        R->ReadPos += N;
        if (R->ReadPos == R->Data.size()) {
            R->Data.clear();
            R->ReadPos = 0;
        }
        NumberOfBytesRead = static_cast<uint32_t>(N);
        return true;
    }
    if (R->Succeeded()) return true; // the end of the body
    SetLastError(R->ErrorCode());
    return false;
}

HINTERNET InternetConnectW(HINTERNET Session, const std::string& ServerName, uint16_t ServerPort,
                           const std::string& UserName, const std::string& Password,
                           uint32_t Service, uint32_t Flags, uintptr_t /*Context*/) {
    TSession* S = Lookup<TSession>(Session, hkSession);
    if (S == nullptr) return nullptr;
    if (Service == INTERNET_SERVICE_FTP)
        return FtpConnect(*S, ServerName, ServerPort, UserName, Password, Flags);
    if (!HttpConnectionUsable(Service, ServerName)) return nullptr;
    auto C = std::make_unique<TConnect>();
    C->Owner = S;
    C->Server = ServerName;
    C->Port = ServerPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : ServerPort;
    C->User = UserName;
    C->Password = Password;
    TConnect* Raw = C.release();
    Register(Raw);
    S->Children.push_back(Raw);
    return Raw;
}

HINTERNET HttpOpenRequestW(HINTERNET Connect, const std::string& Verb,
                           const std::string& ObjectName, const std::string& /*Version*/,
                           const std::string& /*Referrer*/, const char* const* /*AcceptTypes*/,
                           uint32_t Flags, uintptr_t /*Context*/) {
    TConnect* C = Lookup<TConnect>(Connect, hkConnect);
    if (C == nullptr) return nullptr;
    std::string V;
    if (!RequestVerb(Verb, V)) return nullptr;
    auto R = std::make_unique<TRequest>();
    if (R->Easy == nullptr) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return nullptr;
    }
    TSession* S = static_cast<TSession*>(C->Owner);
    R->Owner = S;
    R->IsUpload = true;
    R->Verb = V;
    R->Object = RequestObject(ObjectName);
    R->Connection = C;
    R->KeepConnection = (Flags & INTERNET_FLAG_KEEP_CONNECTION) != 0;
    TRequest* Raw = R.release();
    Register(Raw);
    S->Children.push_back(Raw);
    return Raw;
}

bool HttpSendRequestExW(HINTERNET Request, const INTERNET_BUFFERSW* BuffersIn,
                        INTERNET_BUFFERSW* /*BuffersOut*/, uint32_t /*Flags*/,
                        uintptr_t /*Context*/) {
    TRequest* R = Lookup<TRequest>(Request, hkRequest);
    if (R == nullptr) return false;
    if (!R->IsUpload || R->Sent || R->Connection == nullptr) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    TSession* S = static_cast<TSession*>(R->Owner);
    R->Sent = true;
    R->UpTotal = BuffersIn != nullptr ? BuffersIn->dwBufferTotal : 0;

    const TConnect* C = R->Connection;
    const std::string Url = UploadUrl(C->Server, C->Port, R->Object);
    CURL* E = R->Easy;
    S->ApplyTo(E, Url);
    if (curl_easy_setopt(E, CURLOPT_URL, Url.c_str()) != CURLE_OK) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return false;
    }
    curl_easy_setopt(E, CURLOPT_FORBID_REUSE, R->KeepConnection ? 0L : 1L);
    curl_easy_setopt(E, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(E, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(R->UpTotal));
    if (R->Verb != "PUT") curl_easy_setopt(E, CURLOPT_CUSTOMREQUEST, R->Verb.c_str());
    if (!C->User.empty() || !C->Password.empty()) {
        curl_easy_setopt(E, CURLOPT_USERNAME, C->User.c_str());
        curl_easy_setopt(E, CURLOPT_PASSWORD, C->Password.c_str());
    }
    // The body follows at once; no wait for an interim 100 response.
    R->HeaderList = curl_slist_append(R->HeaderList, "Expect:");
    curl_easy_setopt(E, CURLOPT_HTTPHEADER, R->HeaderList);
    curl_easy_setopt(E, CURLOPT_HEADERFUNCTION, &TRequest::OnHeader);
    curl_easy_setopt(E, CURLOPT_HEADERDATA, R);
    curl_easy_setopt(E, CURLOPT_WRITEFUNCTION, &TRequest::OnWrite);
    curl_easy_setopt(E, CURLOPT_WRITEDATA, R);
    curl_easy_setopt(E, CURLOPT_READFUNCTION, &TRequest::OnRead);
    curl_easy_setopt(E, CURLOPT_READDATA, R);
    if (!Attach(R, S->Multi)) return false;

    TBusyGuard Guard(R);
    // Connected and the request head is out when libcurl asks for the body.
    Drive(S, R, S->SendTimeoutMs, [R] { return R->BodyAsked; });
    if (R->Done && !R->Succeeded()) {
        SetLastError(R->ErrorCode());
        return false;
    }
    return true;
}

bool InternetWriteFile(HINTERNET File, const void* Buffer, uint32_t NumberOfBytesToWrite,
                       uint32_t& NumberOfBytesWritten) {
    NumberOfBytesWritten = 0;
    TRequest* R = Lookup<TRequest>(File, hkRequest);
    if (R == nullptr) return false;
    const TTransferStep Step = TransferStep(R->IsUpload && R->Sent, Buffer, NumberOfBytesToWrite);
    if (Step != tsMove) return Step == tsNothing;
    if (!R->OpenEnded && R->UpDone + NumberOfBytesToWrite > R->UpTotal) {
        // More than the announced length would break the message framing.
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    TSession* S = static_cast<TSession*>(R->Owner);
    TBusyGuard Guard(R);
    if (R->Done) {
        // The server answered before taking the whole body: an error reply
        // ends the exchange; the rest of the body is not wanted.
        if (!R->OpenEnded && R->Succeeded() && R->Status() >= 300) {
            R->UpDone += NumberOfBytesToWrite;
            NumberOfBytesWritten = NumberOfBytesToWrite;
            return true;
        }
        SetLastError(R->Succeeded() ? ERROR_INTERNET_CONNECTION_ABORTED : R->ErrorCode());
        return false;
    }
    if (R->OpenEnded)
        return BufferFtpUpload(*R, Buffer, NumberOfBytesToWrite, NumberOfBytesWritten);
    R->UpPtr = static_cast<const uint8_t*>(Buffer);
    R->UpLeft = NumberOfBytesToWrite;
    if (R->UpPaused) {
        R->UpPaused = false;
        curl_easy_pause(R->Easy, CURLPAUSE_CONT);
    }
    Drive(S, R, S->SendTimeoutMs, [R] { return R->UpLeft == 0; });
    size_t Left = R->UpLeft;
    R->UpPtr = nullptr;
    R->UpLeft = 0;
    if (Left == 0) {
        NumberOfBytesWritten = NumberOfBytesToWrite;
        return true;
    }
    if (!R->OpenEnded && R->Succeeded() && R->Status() >= 300) {
        R->UpDone += Left;
        NumberOfBytesWritten = NumberOfBytesToWrite;
        return true;
    }
    NumberOfBytesWritten = NumberOfBytesToWrite - static_cast<uint32_t>(Left);
    SetLastError(R->Succeeded() ? ERROR_INTERNET_CONNECTION_ABORTED : R->ErrorCode());
    return false;
}

bool HttpEndRequestW(HINTERNET Request, INTERNET_BUFFERSW* /*BuffersOut*/, uint32_t /*Flags*/,
                     uintptr_t /*Context*/) {
    TRequest* R = Lookup<TRequest>(Request, hkRequest);
    if (R == nullptr) return false;
    if (!R->IsUpload || !R->Sent) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    TSession* S = static_cast<TSession*>(R->Owner);
    TBusyGuard Guard(R);
    if (R->UpDone < R->UpTotal && !R->Done) {
        // The body is incomplete: the exchange cannot be finished.
        R->Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    }
    Drive(S, R, S->ReceiveTimeoutMs, [] { return false; });
    if (!R->Succeeded()) {
        SetLastError(R->ErrorCode());
        return false;
    }
    if (R->UpDone < R->UpTotal && R->Status() < 300) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    return true;
}

bool ReleaseHandle(TInternetHandle* Handle) {
    if (Handle->Kind == hkRequest && static_cast<TRequest*>(Handle)->OpenEnded)
        return FinishFtpUpload(*static_cast<TRequest*>(Handle));
    DestroyHandle(Handle);
    return true;
}

void InternetSetAbortCheck(HINTERNET Session, std::function<bool()> Check) {
    if (TSession* S = Lookup<TSession>(Session, hkSession)) S->AbortCheck = std::move(Check);
}

} // namespace kivo
