#include "platform/win32/WinInetCalls.h"

#include <windows.h>
// The Internet and crypto headers need the base one first.
#include <cstdio>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <wincrypt.h>
#include <wininet.h>

#include "runtime/win32/WideText.h"

namespace kivo::wininet {

namespace {

const wchar_t* W(const std::u16string& Text) {
    return reinterpret_cast<const wchar_t*>(Text.c_str());
}
const wchar_t* WOrNull(const std::u16string& Text) {
    return Text.empty() ? nullptr : W(Text);
}
HINTERNET H(THandle Handle) {
    return static_cast<HINTERNET>(Handle);
}

// A text the library writes as UTF-16 into a buffer it sizes itself.
template <class Query> bool QueryText(Query Call, std::u16string& Text) {
    DWORD Length = 0;
    Call(nullptr, Length);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || Length == 0) return Call(nullptr, Length);
    std::u16string Buffer(Length / sizeof(char16_t) + 1, u'\0');
    Length = static_cast<DWORD>(Buffer.size() * sizeof(char16_t));
    if (!Call(Buffer.data(), Length)) return false;
    // The text ends at its NUL: the length the library reports back counts
    // bytes for some queries and characters for others.
    Buffer.resize(std::char_traits<char16_t>::length(Buffer.c_str()));
    Text = std::move(Buffer);
    return true;
}

std::string Narrow(const std::u16string& Text) {
    // Header and reply texts are ASCII; other characters are kept as '?'.
    std::string Out;
    Out.reserve(Text.size());
    for (char16_t C : Text)
        Out += C < 0x80 ? static_cast<char>(C) : '?';
    return Out;
}

} // namespace

uint32_t LastError() {
    const DWORD Code = GetLastError();
    switch (Code) {
    // The certificate faults the library names one by one are one fault to
    // the layer: the server's certificate could not be verified.
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_NO_REV: return ERROR_INTERNET_SEC_CERT_ERRORS;
    // A socket's error may come through as it is (Wine does so).
    case WSAECONNRESET: return ERROR_INTERNET_CONNECTION_RESET;
    case WSAECONNABORTED: return ERROR_INTERNET_CONNECTION_ABORTED;
    case WSAETIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    default: return Code;
    }
}

namespace {

DWORD WINAPI RunRoutine(void* Parameter) {
    const std::unique_ptr<std::function<void()>> Routine(
        static_cast<std::function<void()>*>(Parameter));
    (*Routine)();
    return 0;
}

} // namespace

bool StartDetached(std::function<void()> Routine) {
    auto Owned = std::make_unique<std::function<void()>>(std::move(Routine));
    const HANDLE Thread = ::CreateThread(nullptr, 0, &RunRoutine, Owned.get(), 0, nullptr);
    if (Thread == nullptr) return false;
    Owned.release(); // the thread owns it now
    ::CloseHandle(Thread);
    return true;
}

THandle Open(const std::u16string& Agent, uint32_t AccessType, const std::u16string& Proxy,
             const std::u16string& Bypass) {
    return InternetOpenW(W(Agent), AccessType, WOrNull(Proxy), WOrNull(Bypass), 0);
}

void SetTimeouts(THandle Handle, uint32_t ConnectMs, uint32_t SendMs, uint32_t ReceiveMs) {
    DWORD Values[] = {ConnectMs, SendMs, ReceiveMs};
    DWORD Options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (int I = 0; I < 3; ++I)
        InternetSetOptionW(H(Handle), Options[I], &Values[I], sizeof(DWORD));
}

bool Close(THandle Handle) {
    return InternetCloseHandle(H(Handle)) != FALSE;
}

THandle Connect(THandle Session, const std::u16string& Server, uint16_t Port,
                const std::u16string& User, const std::u16string& Password, uint32_t Service,
                uint32_t Flags) {
    return InternetConnectW(H(Session), W(Server), Port, WOrNull(User), WOrNull(Password), Service,
                            Flags, 0);
}

THandle OpenRequest(THandle Connect, const std::u16string& Verb, const std::u16string& Object,
                    uint32_t Flags, bool Secure, bool Insecure, uintptr_t Watch) {
    Flags |= INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_CACHE_WRITE |
             INTERNET_FLAG_RELOAD;
    if (Secure) Flags |= INTERNET_FLAG_SECURE;
    if (Secure && Insecure)
        Flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    HINTERNET Request = HttpOpenRequestW(H(Connect), W(Verb), W(Object), L"HTTP/1.1", nullptr,
                                         nullptr, Flags, Watch);
    if (Request != nullptr && Secure && Insecure) {
        DWORD Security = 0;
        DWORD Length = sizeof Security;
        InternetQueryOptionW(Request, INTERNET_OPTION_SECURITY_FLAGS, &Security, &Length);
        Security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
        InternetSetOptionW(Request, INTERNET_OPTION_SECURITY_FLAGS, &Security, sizeof Security);
    }
    return Request;
}

namespace {

// The watches by number; the library hands a request's number (its context)
// to the status callback, which may run on any thread that calls it.
struct TWatches {
    std::mutex M;
    uintptr_t Last = 0;
    std::unordered_map<uintptr_t, bool> Closed;
};

// Never destroyed: the library may call back from a thread still at work
// while the process ends.
TWatches& Watches() {
    static auto* W = new TWatches;
    return *W;
}

void CALLBACK OnStatus(HINTERNET /*Handle*/, DWORD_PTR Context, DWORD Status, void* /*Info*/,
                       DWORD /*InfoLength*/) {
    if (Status != INTERNET_STATUS_CLOSING_CONNECTION && Status != INTERNET_STATUS_CONNECTION_CLOSED)
        return;
    TWatches& W = Watches();
    std::lock_guard<std::mutex> Lock(W.M);
    if (auto It = W.Closed.find(Context); It != W.Closed.end()) It->second = true;
}

} // namespace

void WatchConnections(THandle Session) {
    InternetSetStatusCallbackW(H(Session), &OnStatus);
}

uintptr_t NewConnectionWatch() {
    TWatches& W = Watches();
    std::lock_guard<std::mutex> Lock(W.M);
    W.Closed[++W.Last] = false;
    return W.Last;
}

void ResetConnectionWatch(uintptr_t Watch) {
    TWatches& W = Watches();
    std::lock_guard<std::mutex> Lock(W.M);
    if (auto It = W.Closed.find(Watch); It != W.Closed.end()) It->second = false;
}

bool ConnectionClosed(uintptr_t Watch) {
    TWatches& W = Watches();
    std::lock_guard<std::mutex> Lock(W.M);
    auto It = W.Closed.find(Watch);
    return It != W.Closed.end() && It->second;
}

void EndConnectionWatch(uintptr_t Watch) {
    TWatches& W = Watches();
    std::lock_guard<std::mutex> Lock(W.M);
    W.Closed.erase(Watch);
}

bool SendRequest(THandle Request, const std::u16string& Headers) {
    return HttpSendRequestW(H(Request), WOrNull(Headers), static_cast<DWORD>(Headers.size()),
                            nullptr, 0) != FALSE;
}

bool SendRequestEx(THandle Request, const std::u16string& Headers, uint32_t Total) {
    if (!Headers.empty() &&
        !HttpAddRequestHeadersW(H(Request), W(Headers), static_cast<DWORD>(Headers.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
        return false;
    INTERNET_BUFFERSW Buffers{};
    Buffers.dwStructSize = sizeof Buffers;
    Buffers.dwBufferTotal = Total;
    return HttpSendRequestExW(H(Request), &Buffers, nullptr, 0, 0) != FALSE;
}

bool EndRequest(THandle Request) {
    return HttpEndRequestW(H(Request), nullptr, 0, 0) != FALSE;
}

bool RawHeaders(THandle Request, std::string& Head) {
    std::u16string Text;
    if (!QueryText(
            [&](char16_t* Buffer, DWORD& Length) {
                return HttpQueryInfoW(H(Request), HTTP_QUERY_RAW_HEADERS_CRLF, Buffer, &Length,
                                      nullptr) != FALSE;
            },
            Text))
        return false;
    Head = Narrow(Text);
    return true;
}

bool StatusCode(THandle Request, uint32_t& Code) {
    DWORD Value = 0;
    DWORD Length = sizeof Value;
    if (!HttpQueryInfoW(H(Request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Value,
                        &Length, nullptr))
        return false;
    Code = Value;
    return true;
}

bool FinalUrl(THandle Request, std::u16string& Url) {
    return QueryText(
        [&](char16_t* Buffer, DWORD& Length) {
            return InternetQueryOptionW(H(Request), INTERNET_OPTION_URL, Buffer, &Length) != FALSE;
        },
        Url);
}

bool ServerCertificates(THandle Request, std::vector<std::string>& Certificates) {
    Certificates.clear();
    PCCERT_CHAIN_CONTEXT Chain = nullptr;
    DWORD Length = sizeof Chain;
    if (InternetQueryOptionW(H(Request), INTERNET_OPTION_SERVER_CERT_CHAIN_CONTEXT, &Chain,
                             &Length) &&
        Chain != nullptr) {
        for (DWORD I = 0; I < Chain->cChain; ++I) {
            const CERT_SIMPLE_CHAIN* Simple = Chain->rgpChain[I];
            for (DWORD J = 0; J < Simple->cElement; ++J) {
                PCCERT_CONTEXT Cert = Simple->rgpElement[J]->pCertContext;
                Certificates.emplace_back(reinterpret_cast<const char*>(Cert->pbCertEncoded),
                                          Cert->cbCertEncoded);
            }
        }
        CertFreeCertificateChain(Chain);
    }
    return !Certificates.empty();
}

namespace {

// The certificates of a PEM file, decoded.
std::vector<std::string> PemCertificates(const std::string& Path) {
    std::vector<std::string> Out;
    std::unique_ptr<FILE, int (*)(FILE*)> File(_wfopen(os::ApiPath(Path).c_str(), L"rb"), fclose);
    if (!File) return Out;
    std::string Text;
    char Chunk[4096];
    size_t Got = 0;
    while ((Got = fread(Chunk, 1, sizeof Chunk, File.get())) > 0 && Text.size() < (16u << 20))
        Text.append(Chunk, Got);
    const std::string Begin = "-----BEGIN CERTIFICATE-----", End = "-----END CERTIFICATE-----";
    for (size_t P = Text.find(Begin); P != std::string::npos; P = Text.find(Begin, P + 1)) {
        const size_t E = Text.find(End, P);
        if (E == std::string::npos) break;
        const std::string Block = Text.substr(P, E + End.size() - P);
        DWORD Length = 0;
        if (!CryptStringToBinaryA(Block.c_str(), static_cast<DWORD>(Block.size()),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &Length, nullptr, nullptr))
            continue;
        std::string Der(Length, '\0');
        if (CryptStringToBinaryA(Block.c_str(), static_cast<DWORD>(Block.size()),
                                 CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(Der.data()),
                                 &Length, nullptr, nullptr)) {
            Der.resize(Length);
            Out.push_back(std::move(Der));
        }
    }
    return Out;
}

using TCertPtr = std::unique_ptr<const CERT_CONTEXT, BOOL(WINAPI*)(PCCERT_CONTEXT)>;

TCertPtr Certificate(const std::string& Der) {
    return TCertPtr(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE*>(Der.data()),
                                                 static_cast<DWORD>(Der.size())),
                    CertFreeCertificateContext);
}

} // namespace

uint32_t CheckCertificate(const std::string& Leaf, const std::string& CaFile) {
    const std::vector<std::string> Trusted = PemCertificates(CaFile);
    if (Trusted.empty()) return ERROR_INTERNET_SECURITY_CHANNEL_ERROR; // no file to trust
    TCertPtr LeafCert = Certificate(Leaf);
    if (!LeafCert) return ERROR_INTERNET_SEC_CERT_ERRORS;
    for (const std::string& Der : Trusted) {
        if (Der == Leaf) return 0;
        TCertPtr Issuer = Certificate(Der);
        if (Issuer &&
            CryptVerifyCertificateSignatureEx(
                0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                const_cast<CERT_CONTEXT*>(LeafCert.get()), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                const_cast<CERT_CONTEXT*>(Issuer.get()), 0, nullptr))
            return 0;
    }
    return ERROR_INTERNET_SEC_CERT_ERRORS;
}

bool ParseHttpDate(const std::string& Text, uint16_t Fields[8]) {
    SYSTEMTIME Time{};
    const std::wstring Wide = os::Utf8ToWide(Text);
    if (Text.empty() || !InternetTimeToSystemTimeW(Wide.c_str(), &Time, 0) || Time.wYear < 1601)
        return false;
    const WORD Values[8] = {Time.wYear, Time.wMonth,  Time.wDayOfWeek, Time.wDay,
                            Time.wHour, Time.wMinute, Time.wSecond,    Time.wMilliseconds};
    for (int I = 0; I < 8; ++I)
        Fields[I] = Values[I];
    return true;
}

bool ReadSome(THandle File, void* Buffer, uint32_t Count, uint32_t& Read) {
    Read = 0;
    DWORD Available = 0;
    if (!InternetQueryDataAvailable(H(File), &Available, 0, 0)) return false;
    // No bytes available need not be the end: one byte read waits for the
    // next or for the end itself.
    if (Available == 0) Available = 1;
    DWORD Got = 0;
    if (!InternetReadFile(H(File), Buffer, Available < Count ? Available : Count, &Got))
        return false;
    Read = Got;
    return true;
}

bool Write(THandle File, const void* Buffer, uint32_t Count, uint32_t& Written) {
    DWORD Done = 0;
    const bool Ok = InternetWriteFile(H(File), Buffer, Count, &Done) != FALSE;
    Written = Done;
    return Ok;
}

bool FtpCurrentDirectory(THandle Connect, std::u16string& Directory) {
    wchar_t Buffer[MAX_PATH * 4] = {};
    DWORD Length = MAX_PATH * 4;
    if (!FtpGetCurrentDirectoryW(H(Connect), Buffer, &Length)) return false;
    Directory.assign(reinterpret_cast<const char16_t*>(Buffer));
    return true;
}

bool FtpChangeDirectory(THandle Connect, const std::u16string& Directory) {
    return FtpSetCurrentDirectoryW(H(Connect), W(Directory)) != FALSE;
}

bool FtpMakeDirectory(THandle Connect, const std::u16string& Directory) {
    return FtpCreateDirectoryW(H(Connect), W(Directory)) != FALSE;
}

bool FtpRemoveFile(THandle Connect, const std::u16string& Name) {
    return FtpDeleteFileW(H(Connect), W(Name)) != FALSE;
}

bool FtpList(THandle Connect, const std::u16string& Search, std::vector<TFindEntry>& Entries) {
    Entries.clear();
    WIN32_FIND_DATAW Data{};
    HINTERNET Find = FtpFindFirstFileW(H(Connect), WOrNull(Search), &Data,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (Find == nullptr) return GetLastError() == ERROR_NO_MORE_FILES;
    do {
        TFindEntry E;
        E.IsDirectory = (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        E.WriteTime = (static_cast<uint64_t>(Data.ftLastWriteTime.dwHighDateTime) << 32) |
                      Data.ftLastWriteTime.dwLowDateTime;
        E.Size = (static_cast<uint64_t>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
        E.Name.assign(reinterpret_cast<const char16_t*>(Data.cFileName));
        Entries.push_back(std::move(E));
    } while (InternetFindNextFileW(Find, &Data));
    const DWORD Error = GetLastError();
    InternetCloseHandle(Find);
    SetLastError(Error);
    return Error == ERROR_NO_MORE_FILES;
}

THandle FtpOpen(THandle Connect, const std::u16string& Name, uint32_t Access, uint32_t Flags) {
    return FtpOpenFileW(H(Connect), W(Name), Access, Flags | INTERNET_FLAG_RELOAD, 0);
}

bool FtpSendCommand(THandle Connect, const std::u16string& Command, std::string& Reply) {
    Reply.clear();
    if (!FtpCommandW(H(Connect), FALSE, FTP_TRANSFER_TYPE_BINARY, W(Command), 0, nullptr))
        return false;
    DWORD Error = 0;
    std::u16string Text;
    const bool Ok = QueryText(
        [&](char16_t* Buffer, DWORD& Length) {
            DWORD Chars = Length / sizeof(char16_t);
            const bool Got = InternetGetLastResponseInfoW(
                                 &Error, reinterpret_cast<wchar_t*>(Buffer), &Chars) != FALSE;
            Length = Chars * sizeof(char16_t);
            return Got;
        },
        Text);
    Reply = Narrow(Text);
    return Ok;
}

} // namespace kivo::wininet
