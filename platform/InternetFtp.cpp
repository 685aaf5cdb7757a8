// The FTP half of the Internet layer. A connection handle owns a multi handle
// of its own, so libcurl keeps exactly one control connection for it and
// every call on the handle goes through that connection. The handle tracks
// the current directory itself and names every directory and file in the
// URLs it builds as an absolute path ("ftp://host:port/%2F<path>"), so
// libcurl's own idea of where the connection stands always agrees with it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/FtpFind.h"
#include "platform/FtpListing.h"
#include "platform/InternetCommon.h"
#include "platform/InternetHandles.h"
#include "runtime/DateTime.h"

namespace kivo {

class TFtpConnect : public TInternetHandle {
public:
    TFtpConnect() : TInternetHandle(hkFtpConnect) { Multi = curl_multi_init(); }
    ~TFtpConnect() override {
        if (OpenFile != nullptr) {
            OpenFile->Fail(ERROR_FTP_DROPPED);
            OpenFile->FtpOwner = nullptr;
        }
        if (Multi != nullptr) curl_multi_cleanup(Multi);
    }

    CURLM* Multi = nullptr;
    std::string Host; // as it goes into a URL (an IPv6 address in brackets)
    uint16_t Port = INTERNET_DEFAULT_FTP_PORT;
    std::string User, Password;
    bool Passive = false;
    bool HasMlsd = false;
    std::string Cwd = "/";
    TRequest* OpenFile = nullptr;
};

void ForgetOpenFile(TFtpConnect* Connect) {
    Connect->OpenFile = nullptr;
}

namespace {

// A listing larger than this is refused rather than held in memory.
constexpr size_t MaxListingBytes = 64u << 20;
// libcurl's upload buffer: large blocks for fast links.
constexpr long UploadBufferSize = 256 * 1024;

class TFtpFind : public TInternetHandle {
public:
    TFtpFind() : TInternetHandle(hkFtpFind) {}
    TFtpFindList List;
};

std::string EscapeComponent(std::string_view Text) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string Out;
    for (unsigned char C : Text) {
        const bool Plain = (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') ||
                           (C >= '0' && C <= '9') || C == '-' || C == '.' || C == '_' || C == '~';
        if (Plain) {
            Out += static_cast<char>(C);
        } else {
            Out += '%';
            Out += Hex[C >> 4];
            Out += Hex[C & 15];
        }
    }
    return Out;
}

std::vector<std::string> SplitPath(const std::string& Path) {
    std::vector<std::string> Parts;
    size_t P = 0;
    while (P <= Path.size()) {
        size_t E = Path.find('/', P);
        if (E == std::string::npos) E = Path.size();
        if (E > P) Parts.push_back(Path.substr(P, E - P));
        P = E + 1;
    }
    return Parts;
}

// Path taken from Base: absolute when it starts with "/"; "." and ".." are
// resolved. The result is absolute and has no trailing "/" (except "/").
std::string ResolvePath(const std::string& Base, const std::string& Path) {
    std::vector<std::string> Out =
        Path.empty() || Path[0] != '/' ? SplitPath(Base) : std::vector<std::string>();
    for (std::string& Part : SplitPath(Path)) {
        if (Part == ".") continue;
        if (Part == "..") {
            if (!Out.empty()) Out.pop_back();
            continue;
        }
        Out.push_back(std::move(Part));
    }
    std::string Result;
    for (const std::string& Part : Out)
        Result += "/" + Part;
    return Result.empty() ? "/" : Result;
}

std::string ParentPath(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == 0 || Slash == std::string::npos ? "/" : Path.substr(0, Slash);
}

std::string LeafName(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

std::string ServerUrl(const TFtpConnect& C) {
    return "ftp://" + C.Host + ":" + std::to_string(C.Port) + "/";
}

// The URL of a directory (absolute path): libcurl changes into it with one
// CWD of the whole path.
std::string DirectoryUrl(const TFtpConnect& C, const std::string& Path) {
    std::string Url = ServerUrl(C) + "%2F";
    for (const std::string& Part : SplitPath(Path))
        Url += EscapeComponent(Part) + "/";
    if (Url.back() != '/') Url += '/';
    return Url;
}

std::string FileUrl(const TFtpConnect& C, const std::string& Path) {
    return DirectoryUrl(C, ParentPath(Path)) + EscapeComponent(LeafName(Path));
}

// The server's reply lines of an exchange, kept as headers without a name;
// the preliminary reply of a transfer (125, 150) marks its start.
size_t OnReplyLine(char* Ptr, size_t Size, size_t Count, void* User) {
    auto* R = static_cast<TRequest*>(User);
    const size_t Len = Size * Count;
    std::string Line(Ptr, Len);
    while (!Line.empty() && (Line.back() == '\n' || Line.back() == '\r'))
        Line.pop_back();
    if (Line.rfind("150", 0) == 0 || Line.rfind("125", 0) == 0) R->HeadersDone = true;
    if (R->Headers.size() < 1000) R->Headers.emplace_back(std::string(), std::move(Line));
    return Len;
}

size_t OnListingData(char* Ptr, size_t Size, size_t Count, void* User) {
    auto* R = static_cast<TRequest*>(User);
    const size_t Len = Size * Count;
    if (R->Data.size() + Len > MaxListingBytes) return 0; // ends the transfer as failed
    R->Data.insert(R->Data.end(), reinterpret_cast<uint8_t*>(Ptr),
                   reinterpret_cast<uint8_t*>(Ptr) + Len);
    return Len;
}

void Configure(const TSession& S, const TFtpConnect& C, TRequest& R, const std::string& Url) {
    CURL* E = R.Easy;
    curl_easy_setopt(E, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(E, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(E, CURLOPT_URL, Url.c_str());
    curl_easy_setopt(E, CURLOPT_PROXY, ""); // FTP goes to the server directly
    curl_easy_setopt(E, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(E, CURLOPT_UPLOAD_BUFFERSIZE, UploadBufferSize);
    curl_easy_setopt(E, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(S.ConnectTimeoutMs));
    curl_easy_setopt(E, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    if (!C.User.empty() && !C.Password.empty()) {
        curl_easy_setopt(E, CURLOPT_USERNAME, C.User.c_str());
        curl_easy_setopt(E, CURLOPT_PASSWORD, C.Password.c_str());
    }
    if (!C.Passive) curl_easy_setopt(E, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(E, CURLOPT_HEADERFUNCTION, &OnReplyLine);
    curl_easy_setopt(E, CURLOPT_HEADERDATA, &R);
    curl_easy_setopt(E, CURLOPT_WRITEFUNCTION, &OnListingData);
    curl_easy_setopt(E, CURLOPT_WRITEDATA, &R);
}

// Runs one exchange on the connection and waits for its end. A close of the
// connection made meanwhile (from a message handler) ends it as cancelled.
bool RunExchange(TSession& S, TFtpConnect& C, TRequest& R) {
    R.Owner = &S;
    if (!Attach(&R, C.Multi)) return false;
    Drive(&S, &R, S.ReceiveTimeoutMs, [&C] { return C.ClosePending; });
    if (!R.Done) R.Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    if (R.Succeeded()) return true;
    SetLastError(R.ErrorCode());
    return false;
}

// The connection of a call, ready for a new exchange; null (with the error
// set) when the handle is no FTP connection or a file is open through it.
TFtpConnect* ReadyConnection(HINTERNET Connect) {
    return ReadyFtpConnection(Lookup<TFtpConnect>(Connect, hkFtpConnect));
}

// A command without data (MKD, DELE) on an absolute path.
bool RunCommand(HINTERNET Connect, const std::string& Verb, const std::string& Path) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return false;
    if (!SafeFtpText(Path) || Path.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return false;
    }
    TSession& S = *C->Owner;
    TBusyGuard Guard(C);
    TRequest R;
    Configure(S, *C, R, ServerUrl(*C));
    curl_slist* Quote =
        curl_slist_append(nullptr, (Verb + " " + ResolvePath(C->Cwd, Path)).c_str());
    curl_easy_setopt(R.Easy, CURLOPT_QUOTE, Quote);
    curl_easy_setopt(R.Easy, CURLOPT_NOBODY, 1L);
    const bool Ok = RunExchange(S, *C, R);
    R.Detach();
    curl_slist_free_all(Quote);
    return Ok;
}

TFtpToday TodayUtc() {
    int Year = 1970, Month = 1, Day = 1;
    DecodeDate(UnixToDateTime(LocalDateTimeToUnix(Now())), Year, Month, Day);
    return {Year, Month, Day};
}

} // namespace

HINTERNET FtpConnect(TSession& S, const std::string& ServerName, uint16_t ServerPort,
                     const std::string& UserName, const std::string& Password, uint32_t Flags) {
    if (!ValidFtpServerName(ServerName)) {
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return nullptr;
    }
    auto C = std::make_unique<TFtpConnect>();
    if (C->Multi == nullptr) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return nullptr;
    }
    C->Owner = &S;
    C->Host = ServerName.find(':') != std::string::npos && ServerName.front() != '['
                  ? "[" + ServerName + "]"
                  : ServerName;
    C->Port = ServerPort == INTERNET_INVALID_PORT_NUMBER ? INTERNET_DEFAULT_FTP_PORT : ServerPort;
    C->User = UserName;
    C->Password = Password;
    C->Passive = (Flags & INTERNET_FLAG_PASSIVE) != 0;
    TFtpConnect* Raw = C.release();
    Register(Raw);
    S.Children.push_back(Raw);

    // Log in now, and ask which features the server has (FEAT may be
    // refused: the star lets the login stand).
    bool Ok = false;
    {
        TBusyGuard Guard(Raw);
        TRequest R;
        Configure(S, *Raw, R, ServerUrl(*Raw));
        curl_slist* Quote = curl_slist_append(nullptr, "*FEAT");
        curl_easy_setopt(R.Easy, CURLOPT_QUOTE, Quote);
        curl_easy_setopt(R.Easy, CURLOPT_NOBODY, 1L);
        Ok = RunExchange(S, *Raw, R);
        if (Ok) {
            for (const auto& Reply : R.Headers)
                if (Reply.second.find(" MLST") != std::string::npos) Raw->HasMlsd = true;
            char* Entry = nullptr;
            curl_easy_getinfo(R.Easy, CURLINFO_FTP_ENTRY_PATH, &Entry);
            if (Entry != nullptr && Entry[0] == '/') Raw->Cwd = ResolvePath("/", Entry);
        }
        R.Detach();
        curl_slist_free_all(Quote);
        if (!Ok) Raw->ClosePending = true; // released by the guard
    }
    return Ok ? Raw : nullptr;
}

bool FtpGetCurrentDirectoryW(HINTERNET Connect, std::string& Directory) {
    TFtpConnect* C = Lookup<TFtpConnect>(Connect, hkFtpConnect);
    if (C == nullptr) return false;
    Directory = C->Cwd;
    return true;
}

bool FtpSetCurrentDirectoryW(HINTERNET Connect, const std::string& Directory) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return false;
    if (!SafeFtpText(Directory)) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return false;
    }
    const std::string Target = ResolvePath(C->Cwd, Directory);
    TSession& S = *C->Owner;
    TBusyGuard Guard(C);
    TRequest R;
    Configure(S, *C, R, DirectoryUrl(*C, Target));
    curl_easy_setopt(R.Easy, CURLOPT_NOBODY, 1L);
    const bool Ok = RunExchange(S, *C, R);
    R.Detach();
    if (Ok) C->Cwd = Target;
    return Ok;
}

bool FtpCreateDirectoryW(HINTERNET Connect, const std::string& Directory) {
    return RunCommand(Connect, "MKD", Directory);
}

bool FtpDeleteFileW(HINTERNET Connect, const std::string& FileName) {
    return RunCommand(Connect, "DELE", FileName);
}

HINTERNET FtpFindFirstFileW(HINTERNET Connect, const std::string& SearchFile,
                            WIN32_FIND_DATAW& FindData, uint32_t /*Flags*/, uintptr_t /*Context*/) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return nullptr;
    TFtpSearch Search;
    if (!SplitFtpSearch(SearchFile, Search)) return nullptr;
    const std::string Folder = ResolvePath(C->Cwd, Search.Folder);
    TSession& S = *C->Owner;
    TBusyGuard Guard(C);
    TRequest R;
    Configure(S, *C, R, DirectoryUrl(*C, Folder));
    if (C->HasMlsd) curl_easy_setopt(R.Easy, CURLOPT_CUSTOMREQUEST, "MLSD");
    const bool Ok = RunExchange(S, *C, R);
    R.Detach();
    if (!Ok) return nullptr;

    auto Find = std::make_unique<TFtpFind>();
    Find->Owner = &S;
    const std::string_view Text(reinterpret_cast<const char*>(R.Data.data()), R.Data.size());
    Find->List = MatchingFtpEntries(ParseFtpListing(Text, C->HasMlsd, TodayUtc()), Search.Pattern);
    if (!TakeNextFtpEntry(Find->List, FindData)) return nullptr;
    TFtpFind* Raw = Find.release();
    Register(Raw);
    S.Children.push_back(Raw);
    return Raw;
}

bool InternetFindNextFileW(HINTERNET Find, WIN32_FIND_DATAW& FindData) {
    TFtpFind* F = Lookup<TFtpFind>(Find, hkFtpFind);
    return F != nullptr && TakeNextFtpEntry(F->List, FindData);
}

HINTERNET FtpOpenFileW(HINTERNET Connect, const std::string& FileName, uint32_t Access,
                       uint32_t Flags, uintptr_t /*Context*/) {
    TFtpConnect* C = ReadyConnection(Connect);
    if (C == nullptr) return nullptr;
    const bool Write = (Access & GENERIC_WRITE_ACCESS) != 0;
    if (!SafeFtpText(FileName) || FileName.empty() ||
        (Write == ((Access & GENERIC_READ_ACCESS) != 0))) {
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
        return nullptr;
    }
    TSession& S = *C->Owner;
    auto R = std::make_unique<TRequest>();
    if (R->Easy == nullptr) {
        SetLastError(ERROR_INTERNET_OUT_OF_HANDLES);
        return nullptr;
    }
    R->Owner = &S;
    Configure(S, *C, *R, FileUrl(*C, ResolvePath(C->Cwd, FileName)));
    CURL* E = R->Easy;
    if ((Flags & 3) == FTP_TRANSFER_TYPE_ASCII) curl_easy_setopt(E, CURLOPT_TRANSFERTEXT, 1L);
    if (Write) {
        R->IsUpload = R->Sent = R->OpenEnded = true;
        curl_easy_setopt(E, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(E, CURLOPT_READFUNCTION, &TRequest::OnRead);
        curl_easy_setopt(E, CURLOPT_READDATA, R.get());
    } else {
        curl_easy_setopt(E, CURLOPT_WRITEFUNCTION, &TRequest::OnWrite);
        curl_easy_setopt(E, CURLOPT_WRITEDATA, R.get());
    }
    if (!Attach(R.get(), C->Multi)) return nullptr;
    TRequest* Raw = R.release();
    Register(Raw);
    S.Children.push_back(Raw);
    Raw->FtpOwner = C;
    C->OpenFile = Raw;

    TBusyGuard Guard(Raw);
    // Open once the server took the command: the data starts (or the upload
    // is asked for its first bytes), or the transfer already ended well.
    Drive(&S, Raw, S.ReceiveTimeoutMs, [Raw, Write] {
        return Raw->ClosePending || (Write ? Raw->BodyAsked : Raw->HeadersDone);
    });
    if (Raw->ClosePending) Raw->Fail(ERROR_INTERNET_OPERATION_CANCELLED);
    // A transfer that started and broke off at once is still handed out:
    // its reads give what came and then the failure, as for a later break.
    const bool Started = Write ? Raw->BodyAsked : Raw->HeadersDone;
    if (!Raw->Done || Raw->Succeeded() || (Started && !Raw->ClosePending)) return Raw;
    SetLastError(Raw->ErrorCode());
    Raw->ClosePending = true; // released by the guard
    return nullptr;
}

uint32_t FtpGetFileSize(HINTERNET File, uint32_t* FileSizeHigh) {
    TRequest* R = Lookup<TRequest>(File, hkRequest);
    curl_off_t Size = -1;
    if (R != nullptr && !R->IsUpload)
        curl_easy_getinfo(R->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &Size);
    if (Size < 0) {
        if (FileSizeHigh != nullptr) *FileSizeHigh = 0xFFFFFFFFu;
        if (R != nullptr) SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
        return 0xFFFFFFFFu;
    }
    if (FileSizeHigh != nullptr) *FileSizeHigh = static_cast<uint32_t>(Size >> 32);
    return static_cast<uint32_t>(Size);
}

namespace {

// Upload data waits in the request's buffer and libcurl takes it whenever
// the connection has room: a write runs libcurl once every KickBytes
// without waiting, and waits only while more than MaxPendingBytes are
// buffered, so reading the source and sending overlap.
constexpr size_t KickBytes = 256 * 1024;
constexpr size_t MaxPendingBytes = 2 * 1024 * 1024;

size_t Pending(const TRequest& R) {
    return R.UpBuffer.size() - R.UpTaken;
}

void Resume(TRequest& R) {
    if (R.UpPaused && (Pending(R) > 0 || R.Finishing)) {
        R.UpPaused = false;
        curl_easy_pause(R.Easy, CURLPAUSE_CONT);
    }
}

} // namespace

size_t TakeFtpUploadData(TRequest& R, char* Ptr, size_t Room) {
    const size_t N = std::min(Room, Pending(R));
    if (N == 0) {
        if (R.Finishing) return 0;
        R.UpPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    std::memcpy(Ptr, R.UpBuffer.data() + R.UpTaken, N);
    R.UpTaken += N;
    R.UpDone += N;
    return N;
}

bool BufferFtpUpload(TRequest& R, const void* Buffer, uint32_t Count, uint32_t& Written) {
    if (R.UpTaken > 0 && R.UpTaken >= R.UpBuffer.size() / 2) {
        R.UpBuffer.erase(R.UpBuffer.begin(),
                         R.UpBuffer.begin() + static_cast<ptrdiff_t>(R.UpTaken));
        R.UpTaken = 0;
    }
    const auto* Bytes = static_cast<const uint8_t*>(Buffer);
    R.UpBuffer.insert(R.UpBuffer.end(), Bytes, Bytes + Count);
    Written = Count;
    R.UpSinceKick += Count;
    if (R.UpSinceKick < KickBytes) return true;
    R.UpSinceKick = 0;
    TSession& S = *R.Owner;
    TBusyGuard Guard(&R);
    Resume(R);
    if (Pending(R) > MaxPendingBytes)
        Drive(&S, &R, S.SendTimeoutMs, [&R] { return Pending(R) <= MaxPendingBytes / 4; });
    else {
        int Running = 0;
        curl_multi_perform(R.Multi, &Running);
    }
    if (!R.Done) return true;
    SetLastError(R.Succeeded() ? ERROR_INTERNET_CONNECTION_ABORTED : R.ErrorCode());
    return false;
}

bool FinishFtpUpload(TRequest& R) {
    TSession& S = *R.Owner;
    TBusyGuard Guard(&R);
    if (!R.Done) {
        R.Finishing = true;
        Resume(R);
        Drive(&S, &R, S.SendTimeoutMs, [] { return false; });
    }
    const bool Ok = R.Succeeded();
    if (!Ok) SetLastError(R.ErrorCode());
    R.ClosePending = true; // released by the guard
    return Ok;
}

} // namespace kivo
