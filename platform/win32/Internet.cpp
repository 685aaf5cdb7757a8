// The Internet layer over the system's Internet library: sessions, HTTP
// downloads and uploads. The FTP half is in InternetFtp.cpp; the library's
// calls in WinInetCalls.cpp.
#include "platform/Internet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/win32/InternetHandles.h"
#include "platform/win32/WinInetCalls.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo {

namespace {

void CloseSystem(void*& Handle) {
    if (Handle != nullptr) wininet::Close(Handle);
    Handle = nullptr;
}

// How long a cancelled wait gives the library to end the blocked call after
// its handles were closed.
constexpr auto CancelGrace = std::chrono::seconds(5);
constexpr auto WaitSlice = std::chrono::milliseconds(20);
// How much longer than the layer's wait the library's own send and receive
// time-outs are.
constexpr uint32_t LibraryMarginMs = 5000;

} // namespace

TInternetHandle* SessionHandle(const TInternetHandle& H) {
    return H.Owner;
}

void Adopt(TSession& S, TInternetHandle* H) {
    H->Owner = &S;
    Register(H);
    S.Children.push_back(H);
}

void DestroyHandle(TInternetHandle* H) {
    Unregister(H);
    if (H->Kind != hkSession && H->Owner != nullptr) {
        auto& Kids = H->Owner->Children;
        Kids.erase(std::remove(Kids.begin(), Kids.end(), H), Kids.end());
        if (H->Kind == hkConnect)
            for (TInternetHandle* K : Kids)
                if (K->Kind == hkRequest && static_cast<TRequest*>(K)->Connection == H)
                    static_cast<TRequest*>(K)->Connection = nullptr;
    }
    delete H;
}

TSession::~TSession() {
    std::vector<TInternetHandle*> Kids;
    Kids.swap(Children);
    // Requests and finds first: they go before the connections they use.
    std::stable_partition(Kids.begin(), Kids.end(), [](TInternetHandle* K) {
        return K->Kind == hkRequest || K->Kind == hkFtpFind;
    });
    for (TInternetHandle* K : Kids) {
        K->Owner = nullptr;
        DestroyHandle(K);
    }
    CloseSystemHandles();
}

void TSession::CloseSystemHandles() {
    CloseSystem(System);
}

TRequest::~TRequest() {
    if (FtpOwner != nullptr) ForgetOpenFile(FtpOwner);
    CloseSystemHandles();
    if (Watch != 0) wininet::EndConnectionWatch(Watch);
}

void TRequest::CloseSystemHandles() {
    CloseSystem(System);
    CloseSystem(SystemConnect);
}

TConnect::~TConnect() {
    CloseSystemHandles();
}

void TConnect::CloseSystemHandles() {
    CloseSystem(System);
}

uint32_t RunBlocking(TInternetHandle& Handle, uint32_t TimeoutMs,
                     std::function<bool(uint32_t& Error)> Work) {
    struct TState {
        std::mutex M;
        std::condition_variable Cv;
        bool Done = false;
        uint32_t Error = 0;
    };
    auto State = std::make_shared<TState>();
    const bool Started = wininet::StartDetached([State, Work = std::move(Work)] {
        uint32_t Error = 0;
        const bool Ok = Work(Error);
        std::lock_guard<std::mutex> Lock(State->M);
        State->Done = true;
        State->Error = Ok ? 0 : (Error != 0 ? Error : ERROR_INTERNET_INTERNAL_ERROR);
        State->Cv.notify_all();
    });
    if (!Started) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return ERROR_INTERNET_OUT_OF_HANDLES;
    }

    TSession& S = *Handle.Owner;
    const uint64_t Start = GetTickCount64();
    uint32_t Ended = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> Lock(State->M);
            if (State->Cv.wait_for(Lock, WaitSlice, [&] { return State->Done; })) break;
        }
        ProcessMessages();
        if (Handle.ClosePending || S.ClosePending || (S.AbortCheck && S.AbortCheck())) {
            Ended = ERROR_INTERNET_OPERATION_CANCELLED;
        } else if (TimeoutMs != 0 && GetTickCount64() - Start >= TimeoutMs) {
            Ended = ERROR_INTERNET_TIMEOUT;
        }
        if (Ended != 0) {
            Handle.CloseSystemHandles();
            std::unique_lock<std::mutex> Lock(State->M);
            State->Cv.wait_for(Lock, CancelGrace, [&] { return State->Done; });
            break;
        }
    }
    uint32_t Error = Ended;
    if (Error == 0) {
        std::lock_guard<std::mutex> Lock(State->M);
        Error = State->Error;
    }
    if (Error != 0) SetLastError(Error);
    return Error;
}

namespace {

std::u16string U16(const std::string& Text) {
    return Utf8ToUtf16(Text);
}

std::string Base64(const std::string& Bytes) {
    static const char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string Out;
    for (size_t I = 0; I < Bytes.size(); I += 3) {
        uint32_t V = static_cast<uint8_t>(Bytes[I]) << 16;
        if (I + 1 < Bytes.size()) V |= static_cast<uint8_t>(Bytes[I + 1]) << 8;
        if (I + 2 < Bytes.size()) V |= static_cast<uint8_t>(Bytes[I + 2]);
        Out += Digits[(V >> 18) & 63];
        Out += Digits[(V >> 12) & 63];
        Out += I + 1 < Bytes.size() ? Digits[(V >> 6) & 63] : '=';
        Out += I + 2 < Bytes.size() ? Digits[V & 63] : '=';
    }
    return Out;
}

std::string PercentDecode(std::string_view Text) {
    std::string Out;
    for (size_t I = 0; I < Text.size(); ++I) {
        const auto Hex = [](char C) {
            return C >= '0' && C <= '9'   ? C - '0'
                   : C >= 'a' && C <= 'f' ? C - 'a' + 10
                   : C >= 'A' && C <= 'F' ? C - 'A' + 10
                                          : -1;
        };
        if (Text[I] == '%' && I + 2 < Text.size() && Hex(Text[I + 1]) >= 0 &&
            Hex(Text[I + 2]) >= 0) {
            Out += static_cast<char>(Hex(Text[I + 1]) * 16 + Hex(Text[I + 2]));
            I += 2;
        } else {
            Out += Text[I];
        }
    }
    return Out;
}

// The credentials of a request as the header that sends them at once (the
// body of an upload cannot be sent a second time after a challenge).
std::string BasicAuthorization(const std::string& User, const std::string& Password) {
    if (User.empty() && Password.empty()) return std::string();
    return "Authorization: Basic " + Base64(User + ":" + Password) + "\r\n";
}

// An http or https URL taken apart; false when it has no usable host.
struct TUrlParts {
    bool Secure = false;
    std::string Host, User, Password, Object;
    uint16_t Port = 0;
};

bool SplitUrl(const std::string& Url, TUrlParts& Parts) {
    const size_t SchemeEnd = Url.find("://");
    Parts.Secure = SchemeOf(Url) == "https";
    std::string Rest = Url.substr(SchemeEnd + 3);
    const size_t PathStart = Rest.find_first_of("/?#");
    std::string Authority = Rest.substr(0, PathStart);
    Parts.Object = PathStart == std::string::npos ? "/" : Rest.substr(PathStart);
    if (const size_t Hash = Parts.Object.find('#'); Hash != std::string::npos)
        Parts.Object.resize(Hash);
    if (Parts.Object.empty() || Parts.Object[0] != '/') Parts.Object.insert(0, "/");
    if (const size_t At = Authority.rfind('@'); At != std::string::npos) {
        const std::string Info = Authority.substr(0, At);
        const size_t Colon = Info.find(':');
        Parts.User = PercentDecode(Info.substr(0, Colon));
        if (Colon != std::string::npos) Parts.Password = PercentDecode(Info.substr(Colon + 1));
        Authority.erase(0, At + 1);
    }
    size_t PortColon = Authority.rfind(':');
    if (!Authority.empty() && Authority[0] == '[') {
        const size_t Close = Authority.find(']');
        if (Close == std::string::npos) return false;
        PortColon = Authority.find(':', Close);
        Parts.Host = Authority.substr(1, Close - 1);
    } else {
        Parts.Host = Authority.substr(0, PortColon);
    }
    Parts.Port = Parts.Secure ? 443 : 80;
    if (PortColon != std::string::npos) {
        const std::string Digits = Authority.substr(PortColon + 1);
        if (Digits.empty() || Digits.size() > 5 ||
            Digits.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(Digits) > 65535 || std::stoul(Digits) == 0)
            return false;
        Parts.Port = static_cast<uint16_t>(std::stoul(Digits));
    }
    return !Parts.Host.empty() && Parts.Host.find_first_of(" \t\r\n") == std::string::npos;
}

// The session's time-outs on a handle of the library: for the session and
// for each request, as not every library passes them down (Wine starts a
// connection without any, and a call the layer stopped waiting for would
// never end: its worker thread and connection would stay for the rest of
// the run). Sending and receiving get a margin, so that the layer's own
// wait, which reports the time-out as such, ends first.
void GiveTimeouts(const TSession& S, void* Handle) {
    const auto Later = [](uint32_t Ms) {
        return Ms < UINT32_MAX - LibraryMarginMs ? Ms + LibraryMarginMs : Ms;
    };
    wininet::SetTimeouts(Handle, S.ConnectTimeoutMs, Later(S.SendTimeoutMs),
                         Later(S.ReceiveTimeoutMs));
}

// Extra header lines as the library takes them: each ends with CR LF, none
// carries a NUL.
std::string HeaderBlock(const std::string& Headers) {
    std::string Out;
    for (const std::string& Line : ExtraHeaderLines(Headers))
        Out += Line + "\r\n";
    return Out;
}

// Whether the server keeps the connection after this response, the way
// the library decides it: the Connection (else Proxy-Connection) header
// says "keep-alive", or HTTP/1.1 without either header.
bool KeepsConnection(const TRequest& R, const std::string& StatusLine) {
    for (const char* Name : {"connection", "proxy-connection"})
        if (const std::string* Value = R.Header(Name)) return LowerAscii(*Value) == "keep-alive";
    return StatusLine.rfind("HTTP/1.1 ", 0) == 0;
}

// Reads the final response's status, head and URL into the request.
void TakeResponse(TRequest& R) {
    wininet::StatusCode(R.System, R.Status);
    std::u16string Final;
    if (wininet::FinalUrl(R.System, Final)) R.FinalUrl = Utf16ToUtf8(Final);
    std::string Head;
    R.Headers.clear();
    if (!wininet::RawHeaders(R.System, Head)) return;
    size_t P = Head.find("\r\n"); // past the status line
    while (P != std::string::npos && P + 2 < Head.size()) {
        const size_t Start = P + 2;
        P = Head.find("\r\n", Start);
        const std::string Line =
            Head.substr(Start, P == std::string::npos ? std::string::npos : P - Start);
        const size_t Colon = Line.find(':');
        if (Colon == std::string::npos) continue;
        R.Headers.emplace_back(LowerAscii(Line.substr(0, Colon)), Trim(Line.substr(Colon + 1)));
    }
    R.Persistent = KeepsConnection(R, Head.substr(0, Head.find("\r\n")));
}

// A header line longer than this is no reply of a sound server (the libcurl
// build refuses such a line too).
constexpr size_t MaxHeaderLine = 100 * 1024;

bool HeaderLinesBounded(const THeaderList& Headers) {
    for (const auto& [Name, Value] : Headers)
        if (Name.size() + Value.size() + 2 > MaxHeaderLine) return false;
    return true;
}

bool HttpDate(const std::string& Text, SYSTEMTIME& Time) {
    uint16_t Fields[8] = {};
    if (!wininet::ParseHttpDate(Text, Fields)) return false;
    std::memcpy(&Time, Fields, sizeof Time);
    return true;
}

// Why the server's certificate is not trusted by the PEM file CaFile (0: it
// is one of its certificates or was signed by one of them).
uint32_t CertificateRefusal(void* Request, const std::string& CaFile);

uint32_t SendAndCheck(TRequest& R, const std::string& Headers, uint32_t TimeoutMs,
                      bool CheckCertificate, const std::string& CaFile) {
    void* System = R.System;
    const std::u16string Block = U16(Headers);
    const uint32_t Error = RunBlocking(R, TimeoutMs, [System, Block](uint32_t& Code) {
        const bool Ok = wininet::SendRequest(System, Block);
        if (!Ok) Code = wininet::LastError();
        return Ok;
    });
    if (Error != 0) return Error;
    // Connections closed by redirects and before the head are no news.
    if (R.Watch != 0) wininet::ResetConnectionWatch(R.Watch);
    if (CheckCertificate)
        if (const uint32_t Refused = CertificateRefusal(R.System, CaFile)) return Refused;
    TakeResponse(R);
    if (R.Status == 0 || !ContentLengthReadable(R.Headers) ||
        !TransferCodingsChunkedOnly(R.Headers) || !HeaderLinesBounded(R.Headers))
        return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return 0;
}

// Whether a chunked body that the library ended was cut off. The library
// hides the chunks and ends a body at its last chunk and at the
// connection's end alike. When the server keeps the connection, it tells
// them apart as the request lets go of it: after the last chunk it keeps the
// connection for the next request, after a cut it closes it.
bool ChunkedBodyCut(TRequest& R) {
    if (!R.Persistent || R.Watch == 0) return false; // the end cannot be told
    void* System = R.System;
    R.System = nullptr;
    const uint32_t Error = RunBlocking(R, R.Owner->ReceiveTimeoutMs, [System](uint32_t&) {
        wininet::Close(System);
        return true;
    });
    return Error != 0 || wininet::ConnectionClosed(R.Watch);
}

// Whether a body that ended now is whole: as long as its Content-Length, or
// a chunked one with its last chunk.
bool BodyComplete(TRequest& R) {
    if (R.Header("transfer-encoding") != nullptr) return !ChunkedBodyCut(R);
    const std::string* Length = R.Header("content-length");
    return Length == nullptr || std::to_string(R.Received) == *Length;
}

} // namespace

HINTERNET InternetOpenW(const std::string& Agent, uint32_t AccessType, const std::string& ProxyName,
                        const std::string& ProxyBypass, uint32_t /*Flags*/) {
    if (!AccessTypeKnown(AccessType)) return nullptr;
    auto S = std::make_unique<TSession>();
    S->System = wininet::Open(U16(Agent.empty() ? std::string("kivo") : Agent), AccessType,
                              U16(AccessType == INTERNET_OPEN_TYPE_PROXY ? ProxyName : ""),
                              U16(AccessType == INTERNET_OPEN_TYPE_PROXY ? ProxyBypass : ""));
    if (S->System == nullptr) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return nullptr;
    }
    wininet::WatchConnections(S->System);
    GiveTimeouts(*S, S->System);
    Register(S.get());
    return S.release();
}

bool InternetSetOptionW(HINTERNET Handle, uint32_t Option, const void* Buffer,
                        uint32_t BufferLength) {
    if (!KnownHandle(Handle)) return false;
    TSession* S = Handle->Owner;
    if (!S->SetOption(Option, Buffer, BufferLength)) return false;
    GiveTimeouts(*S, S->System);
    return true;
}

bool InternetQueryOptionW(HINTERNET Handle, uint32_t Option, void* Buffer, uint32_t& BufferLength) {
    if (!KnownHandle(Handle)) return false;
    const TSession* S = Handle->Owner;
    if (Option == INTERNET_OPTION_URL) {
        if (Handle->Kind != hkRequest) {
            SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
            return false;
        }
        auto* R = static_cast<TRequest*>(Handle);
        // Without a redirect the request ended where it was sent: the URL as
        // the caller wrote it (not in the escaped form sent on the wire).
        const std::string& Text =
            R->FinalUrl.empty() || R->FinalUrl == R->SentUrl ? R->RequestUrl : R->FinalUrl;
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
    const std::string Escaped = EscapeUrl(Url);
    TUrlParts Parts;
    if (!SplitUrl(Escaped, Parts)) {
        SetLastError(ERROR_INTERNET_INVALID_URL);
        return nullptr;
    }
    auto Owned = std::make_unique<TRequest>();
    TRequest* R = Owned.get();
    R->RequestUrl = Url;
    R->SentUrl = Escaped;
    R->SystemConnect = wininet::Connect(S->System, U16(Parts.Host), Parts.Port, u"", u"",
                                        INTERNET_SERVICE_HTTP, 0);
    const bool CheckCertificate = Parts.Secure && !S->Insecure && !S->CaFile.empty();
    R->Watch = wininet::NewConnectionWatch();
    if (R->SystemConnect != nullptr)
        R->System = wininet::OpenRequest(R->SystemConnect, u"GET", U16(Parts.Object),
                                         Flags & INTERNET_FLAG_KEEP_CONNECTION, Parts.Secure,
                                         S->Insecure || CheckCertificate, R->Watch);
    if (R->System == nullptr) {
        SetLastError(wininet::LastError());
        return nullptr;
    }
    GiveTimeouts(*S, R->System);
    std::string Extra;
    if ((Flags & INTERNET_FLAG_RELOAD) != 0)
        Extra += "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    Extra += BasicAuthorization(Parts.User, Parts.Password);
    Extra += HeaderBlock(Headers);
    Adopt(*S, Owned.release());
    uint32_t Code = 0;
    {
        TBusyGuard Guard(R);
        Code = SendAndCheck(*R, Extra, S->ReceiveTimeoutMs, CheckCertificate, S->CaFile);
        if (Code == 0 && R->ClosePending) Code = ERROR_INTERNET_OPERATION_CANCELLED;
        if (Code != 0) {
            R->Fail(Code);
            R->ClosePending = true; // released by the guard
        }
    }
    if (Code == 0) return R;
    SetLastError(Code);
    return nullptr;
}

bool HttpQueryInfoW(HINTERNET Request, uint32_t InfoLevel, void* Buffer, uint32_t& BufferLength,
                    uint32_t* /*Index*/) {
    const TRequest* R = Lookup<TRequest>(Request, hkRequest);
    return R != nullptr &&
           QueryResponse(InfoLevel, R->Status, R->Headers, Buffer, BufferLength, &HttpDate);
}

bool InternetReadFile(HINTERNET File, void* Buffer, uint32_t NumberOfBytesToRead,
                      uint32_t& NumberOfBytesRead) {
    NumberOfBytesRead = 0;
    TRequest* R = Lookup<TRequest>(File, hkRequest);
    if (R == nullptr) return false;
    const TTransferStep Step =
        TransferStep(!R->IsUpload && !R->FtpWrite, Buffer, NumberOfBytesToRead);
    if (Step != tsMove) return Step == tsNothing;
    if (R->FailCode != 0) {
        SetLastError(R->FailCode);
        return false;
    }
    if (R->AtEnd) return true;
    TBusyGuard Guard(R);
    struct TBlock {
        std::vector<uint8_t> Data;
        uint32_t Got = 0;
    };
    auto Block = std::make_shared<TBlock>();
    Block->Data.resize(NumberOfBytesToRead);
    void* System = R->System;
    const uint32_t Error =
        RunBlocking(*R, R->Owner->ReceiveTimeoutMs, [System, Block](uint32_t& Code) {
            const bool Ok = wininet::ReadSome(
                System, Block->Data.data(), static_cast<uint32_t>(Block->Data.size()), Block->Got);
            if (!Ok) Code = wininet::LastError();
            return Ok;
        });
    if (Error == 0 && R->ClosePending) {
        R->Fail(ERROR_INTERNET_OPERATION_CANCELLED);
        SetLastError(R->FailCode);
        return false;
    }
    if (Error != 0) {
        // A body the connection's end cut off, however it ended, is an
        // aborted transfer (as the libcurl build reports it).
        R->Fail(Error == ERROR_INTERNET_CONNECTION_RESET ? ERROR_INTERNET_CONNECTION_ABORTED
                                                         : Error);
        SetLastError(R->FailCode);
        return false;
    }
    if (Block->Got == 0) {
        // The end: a body shorter than its framing promised was cut off.
        if (R->FtpOwner == nullptr && !BodyComplete(*R)) {
            R->Fail(ERROR_INTERNET_CONNECTION_ABORTED);
            SetLastError(R->FailCode);
            return false;
        }
        R->AtEnd = true;
        return true;
    }
    std::memcpy(Buffer, Block->Data.data(), Block->Got);
    R->Received += Block->Got;
    NumberOfBytesRead = Block->Got;
    return true;
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
    C->Server = ServerName;
    C->Port = ServerPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_HTTP_PORT : ServerPort;
    C->User = UserName;
    C->Password = Password;
    C->System =
        wininet::Connect(S->System, U16(ServerName), C->Port, u"", u"", INTERNET_SERVICE_HTTP, 0);
    if (C->System == nullptr) {
        SetLastError(wininet::LastError());
        return nullptr;
    }
    TConnect* Raw = C.release();
    Adopt(*S, Raw);
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
    R->IsUpload = true;
    R->Verb = V;
    R->Object = RequestObject(ObjectName);
    R->Connection = C;
    R->SentUrl = UploadUrl(C->Server, C->Port, R->Object);
    R->RequestUrl = R->SentUrl;
    R->System = wininet::OpenRequest(C->System, U16(V), U16(EscapeUrl(R->Object)),
                                     Flags & INTERNET_FLAG_KEEP_CONNECTION, false, false, 0);
    if (R->System == nullptr) {
        SetLastError(wininet::LastError());
        return nullptr;
    }
    GiveTimeouts(*C->Owner, R->System);
    TRequest* Raw = R.release();
    Adopt(*C->Owner, Raw);
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
    R->Sent = true;
    R->UpTotal = BuffersIn != nullptr ? BuffersIn->dwBufferTotal : 0;
    const std::u16string Headers =
        U16(BasicAuthorization(R->Connection->User, R->Connection->Password));
    const uint32_t Total = static_cast<uint32_t>(R->UpTotal);
    void* System = R->System;
    TBusyGuard Guard(R);
    const uint32_t Error =
        RunBlocking(*R, R->Owner->SendTimeoutMs, [System, Headers, Total](uint32_t& Code) {
            const bool Ok = wininet::SendRequestEx(System, Headers, Total);
            if (!Ok) Code = wininet::LastError();
            return Ok;
        });
    if (Error != 0) R->Fail(Error);
    return Error == 0;
}

bool InternetWriteFile(HINTERNET File, const void* Buffer, uint32_t NumberOfBytesToWrite,
                       uint32_t& NumberOfBytesWritten) {
    NumberOfBytesWritten = 0;
    TRequest* R = Lookup<TRequest>(File, hkRequest);
    if (R == nullptr) return false;
    const bool FtpFile = R->FtpOwner != nullptr;
    const TTransferStep Step =
        TransferStep(FtpFile ? R->FtpWrite : R->IsUpload && R->Sent, Buffer, NumberOfBytesToWrite);
    if (Step != tsMove) return Step == tsNothing;
    if (!FtpFile && R->UpDone + NumberOfBytesToWrite > R->UpTotal) {
        // More than the announced length would break the message framing.
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    if (R->FailCode != 0) {
        SetLastError(R->FailCode);
        return false;
    }
    auto Data = std::make_shared<std::vector<uint8_t>>(static_cast<const uint8_t*>(Buffer),
                                                       static_cast<const uint8_t*>(Buffer) +
                                                           NumberOfBytesToWrite);
    void* System = R->System;
    TBusyGuard Guard(R);
    const uint32_t Error = RunBlocking(*R, R->Owner->SendTimeoutMs, [System, Data](uint32_t& Code) {
        size_t Done = 0;
        while (Done < Data->size()) {
            uint32_t Written = 0;
            if (!wininet::Write(System, Data->data() + Done,
                                static_cast<uint32_t>(Data->size() - Done), Written) ||
                Written == 0) {
                Code = wininet::LastError();
                if (Code == 0) Code = ERROR_INTERNET_CONNECTION_ABORTED;
                return false;
            }
            Done += Written;
        }
        return true;
    });
    if (Error != 0) {
        R->Fail(Error);
        return false;
    }
    R->UpDone += NumberOfBytesToWrite;
    NumberOfBytesWritten = NumberOfBytesToWrite;
    return true;
}

bool HttpEndRequestW(HINTERNET Request, INTERNET_BUFFERSW* /*BuffersOut*/, uint32_t /*Flags*/,
                     uintptr_t /*Context*/) {
    TRequest* R = Lookup<TRequest>(Request, hkRequest);
    if (R == nullptr) return false;
    if (!R->IsUpload || !R->Sent) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return false;
    }
    if (R->UpDone < R->UpTotal) {
        // The body is incomplete: the exchange cannot be finished.
        R->Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    }
    if (R->FailCode != 0) {
        SetLastError(R->FailCode);
        return false;
    }
    void* System = R->System;
    TBusyGuard Guard(R);
    const uint32_t Error = RunBlocking(*R, R->Owner->ReceiveTimeoutMs, [System](uint32_t& Code) {
        const bool Ok = wininet::EndRequest(System);
        if (!Ok) Code = wininet::LastError();
        return Ok;
    });
    if (Error != 0) {
        R->Fail(Error);
        return false;
    }
    TakeResponse(*R);
    return true;
}

bool ReleaseHandle(TInternetHandle* Handle) {
    if (Handle->Kind == hkRequest && static_cast<TRequest*>(Handle)->FtpOwner != nullptr)
        return CloseFtpFile(*static_cast<TRequest*>(Handle));
    DestroyHandle(Handle);
    return true;
}

void InternetSetAbortCheck(HINTERNET Session, std::function<bool()> Check) {
    if (TSession* S = Lookup<TSession>(Session, hkSession)) S->AbortCheck = std::move(Check);
}

namespace {

uint32_t CertificateRefusal(void* Request, const std::string& CaFile) {
    std::vector<std::string> Chain;
    if (!wininet::ServerCertificates(Request, Chain)) return ERROR_INTERNET_SEC_CERT_ERRORS;
    return wininet::CheckCertificate(Chain.front(), CaFile);
}

} // namespace

} // namespace kivo
