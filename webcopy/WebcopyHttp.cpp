// HTTP download and upload of TWebCopy, and the URL and path helpers the
// protocol routines share.
#include <array>

#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "webcopy/WcBase64.h"
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

// ---------------------------------------------------------------------------
// URL and path helpers

namespace {

size_t FindText(std::string_view Text, std::string_view What) {
    // Case-insensitive search (ASCII), as "://" has no letters this is also
    // a plain search; kept general for the scheme prefixes.
    if (What.empty() || Text.size() < What.size()) return std::string_view::npos;
    for (size_t I = 0; I + What.size() <= Text.size(); ++I)
        if (SameTextAscii(Text.substr(I, What.size()), What)) return I;
    return std::string_view::npos;
}

std::string AfterScheme(std::string_view URL) {
    size_t P = FindText(URL, "://");
    return std::string(P == std::string_view::npos ? URL : URL.substr(P + 3));
}

// Where the user information of a URL lies: from the start of the authority
// (after "://", or the start of a URL without a scheme) up to and including
// the last "@" before the path, query or fragment. Empty when there is none.
struct TUserInfoSpan {
    size_t Start = 0;
    size_t Length = 0;
};

TUserInfoSpan UserInfoSpan(std::string_view URL) {
    const size_t Scheme = FindText(URL, "://");
    const size_t Start = Scheme == std::string_view::npos ? 0 : Scheme + 3;
    size_t End = URL.find_first_of("/?#", Start);
    if (End == std::string_view::npos) End = URL.size();
    const size_t At = URL.substr(Start, End - Start).rfind('@');
    if (At == std::string_view::npos) return {};
    return {Start, At + 1};
}

} // namespace

std::string URLWithoutUserInfo(std::string_view URL) {
    const TUserInfoSpan Span = UserInfoSpan(URL);
    std::string Out(URL);
    Out.erase(Span.Start, Span.Length);
    return Out;
}

std::string URLFileName(std::string_view URL) {
    size_t Slash = URL.rfind('/');
    std::string_view S = Slash == std::string_view::npos ? URL : URL.substr(Slash + 1);
    size_t Back = S.rfind('\\');
    return std::string(Back == std::string_view::npos ? S : S.substr(Back + 1));
}

std::string URLHostName(std::string_view URL) {
    std::string S = AfterScheme(URLWithoutUserInfo(URL));
    size_t Slash = S.find('/');
    if (Slash != std::string::npos) S.erase(Slash);
    return S;
}

std::string URLObjectName(std::string_view URL) {
    std::string S = AfterScheme(URL);
    size_t At = S.find('@');
    if (At != std::string::npos) S.erase(0, At + 1);
    size_t Slash = S.find('/');
    if (Slash != std::string::npos) S.erase(0, Slash);
    return S;
}

std::string URLServerText(std::string_view URL) {
    std::string S = AfterScheme(URL);
    size_t Slash = S.find('/');
    if (Slash != std::string::npos) S.erase(Slash);
    size_t Back = S.find('\\');
    if (Back != std::string::npos) S.erase(Back);
    return S;
}

std::string AddProxyCredentials(std::string_view URL, const std::string& UserID,
                                const std::string& Password) {
    if (URL.size() >= 7 && SameTextAscii(URL.substr(0, 7), "http://") && !UserID.empty() &&
        !Password.empty())
        return "http://" + UserID + ":" + Password + "@" + std::string(URL.substr(7));
    return std::string(URL);
}

std::string URLDecode(std::string_view Text) {
    static const std::string_view Digits = "0123456789ABCDEF";
    std::string Out;
    Out.reserve(Text.size());
    size_t I = 0;
    while (I < Text.size()) {
        char C = Text[I];
        if (C != '%') {
            Out += C;
            ++I;
            continue;
        }
        if (I + 2 >= Text.size()) {
            // Fewer than two characters follow: the "%" is dropped.
            ++I;
            continue;
        }
        size_t Hi = Digits.find(Text[I + 1]);
        size_t Lo = Digits.find(Text[I + 2]);
        if (Hi != std::string_view::npos && Lo != std::string_view::npos)
            Out += static_cast<char>(Hi * 16 + Lo);
        I += 3;
    }
    return Out;
}

std::string UniqueFileName(const std::string& Path) {
    std::string Ext = ExtractFileExt(Path);
    std::string Base = Path.substr(0, Path.size() - Ext.size());
    for (int N = 1;; ++N) {
        std::string Candidate = Base + "(" + IntToStr(N) + ")" + Ext;
        if (!PathExists(Candidate)) return Candidate;
    }
}

void SplitHostPort(const std::string& HostText, std::string& Server, uint16_t& Port) {
    Server = HostText;
    Port = INTERNET_DEFAULT_HTTP_PORT;
    std::string PortText;
    if (!HostText.empty() && HostText[0] == '[') {
        size_t Close = HostText.find(']');
        if (Close == std::string::npos) return;
        Server = HostText.substr(1, Close - 1);
        if (Close + 1 < HostText.size() && HostText[Close + 1] == ':')
            PortText = HostText.substr(Close + 2);
    } else {
        size_t Colon = HostText.rfind(':');
        if (Colon == std::string::npos || HostText.find(':') != Colon) return;
        Server = HostText.substr(0, Colon);
        PortText = HostText.substr(Colon + 1);
    }
    if (PortText.empty() || PortText.size() > 5) return;
    uint32_t Value = 0;
    for (char C : PortText) {
        if (C < '0' || C > '9') return;
        Value = Value * 10 + static_cast<uint32_t>(C - '0');
    }
    if (Value > 0 && Value <= 65535) Port = static_cast<uint16_t>(Value);
}

// ---------------------------------------------------------------------------
// Download

namespace {

using THandle = TInternetHandlePtr;

// A status whose body is the whole file: 200, and 203 (the same from a
// proxy). 204 and 205 carry no body, 206 only a part of one; a request
// without a range asked for neither. Statuses of 300 and above are errors.
bool IsWholeFileStatus(uint32_t Status) {
    return Status == 200 || Status == 203;
}

// The announced length of the body; false when the server announced none.
bool QueryContentLength(HINTERNET Request, uint64_t& Length) {
    uint32_t Len = sizeof Length;
    return HttpQueryInfoW(Request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER64, &Length,
                          Len, nullptr);
}

// A body is whole when the transfer ended without an error and it has the
// announced length. Without an announced length some data must have come:
// an empty reply of unknown length cannot be told from a server that broke
// off before its first byte.
bool BodyComplete(bool ReadFailed, bool HaveLength, uint64_t Announced, uint64_t Received) {
    if (ReadFailed) return false;
    return HaveLength ? Received == Announced : Received > 0;
}

// A name the server chose (through the URL or a redirect) is one file in the
// target folder: a decoded separator or a NUL cannot lead out.
bool IsPlainFileName(const std::string& Name) {
    return Name.find('/') == std::string::npos && Name.find('\0') == std::string::npos &&
           Name != "." && Name != "..";
}

} // namespace

// The file the body goes to: a new file beside the target that replaces it
// only when the job ends well, so a cancelled or broken download never costs
// the user the file they had. nullptr when the target cannot be written: no
// usable name, a folder, a read-only file in its place, or a folder that
// takes no new file.
std::unique_ptr<TReplacingFile> CreateDownloadTarget(const std::string& Path) {
    const std::string Name = ExtractFileName(Path);
    if (Name.empty() || Name == "." || Name == ".." || Name.size() > MaxFileNameLength)
        return nullptr;
    if (ReplaceRefusal(Path) != 0) return nullptr;
    try {
        return std::make_unique<TReplacingFile>(Path, rfaKeep, 256 * 1024);
    } catch (const EFCreateError&) {
        return nullptr;
    }
}

bool TWebCopy::HttpDownload(TWebCopyJob& Job) {
    const std::string FileName = URLFileName(URLWithoutUserInfo(Job.URL));
    const std::string URL = AddProxyCredentials(Job.URL, FProxyUserID, FProxyPassword);
    WriteLog("start http download:" + URLWithoutUserInfo(URL));

    std::string Line =
        FDlgFileLabel + " " + CounterText() + (Job.DisplayURL.empty() ? FileName : Job.DisplayURL);
    if (FShowServer) Line += " " + FDlgFromServerLabel + " " + URLHostName(URL);
    SetFileLine(Line);
    ProcessMessages();

    THandle Request = OpenHttpRequest(Job, URL);
    if (!Request || !RemoteDateAllows(Job, Request.get(), FileName)) return false;

    bool NameUsable = true;
    std::string Path;
    if (!ChooseDownloadPath(Job, Request.get(), URL, Path, NameUsable)) return false;
    if (NameUsable) (void)ForceDirectories(ExtractFilePath(Path));
    std::unique_ptr<TReplacingFile> Target = NameUsable ? CreateDownloadTarget(Path) : nullptr;
    if (!Target) {
        Request.reset();
        ReportError(wceCreateFile, "Cannot create file " + Path);
        return false;
    }
    return ReceiveBody(Job.Idx, std::move(Request), *Target);
}

TInternetHandlePtr TWebCopy::OpenHttpRequest(TWebCopyJob& Job, const std::string& URL) {
    uint32_t Flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (FHTTPKeepAliveAuthentication) Flags |= INTERNET_FLAG_KEEP_CONNECTION;
    const std::string LoginCaption = "Connect to " + URLServerText(URLWithoutUserInfo(URL));
    std::string& UserID = Job.HTTPUserID;
    std::string& Password = Job.HTTPPassword;

    if (Job.Authenticate == waAlways && (UserID.empty() || Password.empty())) {
        if (!CallLoginHook(LoginCaption, UserID, Password)) return nullptr;
    }
    while (true) {
        std::string Header;
        if (!UserID.empty() || !Password.empty())
            Header = "Authorization: Basic " + Base64Encode(UserID + ":" + Password) + "\r\n\r\n";
        THandle Request(InternetOpenUrlW(FHinternet, URL, Header, Flags, 0));
        const uint32_t OpenError = Request ? 0 : GetLastError();
        ProcessMessages();
        if (!Request) {
            // A wait the user cancelled is no missing URL.
            if (FCancelled) return nullptr;
            if (OnURLNotFound) OnURLNotFound(this, URLWithoutUserInfo(URL));
            ReportLayerError(OpenError);
            return nullptr;
        }
        uint32_t Status = 0;
        uint32_t Len = sizeof Status;
        HttpQueryInfoW(Request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Status, Len,
                       nullptr);
        if (Status == 401 && (Job.Authenticate == waAlways || Job.Authenticate == waAuto)) {
            // The dialog's fields start empty; a confirmed login repeats the request.
            if (!CallLoginHook(LoginCaption, UserID, Password)) return nullptr;
            continue;
        }
        if (!IsWholeFileStatus(Status)) {
            Request.reset();
            ReportError(static_cast<int32_t>(Status),
                        "Returned http error code " + IntToStr(Status));
            return nullptr;
        }
        return Request;
    }
}

bool TWebCopy::RemoteDateAllows(TWebCopyJob& Job, HINTERNET Request, const std::string& FileName) {
    if (!Job.CopyNewerOnly && !OnFileDateCheck) return true;
    SYSTEMTIME St{};
    uint32_t Len = sizeof St;
    TDateTime Remote = 0;
    if (!HttpQueryInfoW(Request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &St, Len,
                        nullptr) ||
        !TryEncodeDateTime(St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute, St.wSecond,
                           St.wMilliseconds, Remote))
        Remote = Now();
    if (OnFileDateCheck) {
        Job.Date = Remote;
        bool Allow = true;
        OnFileDateCheck(this, Job.Idx, Remote, Allow);
        return Allow;
    }
    if (Job.Date < Remote) {
        Job.Date = Remote;
        return true;
    }
    Job.NoNewVersion = true;
    Job.Date = Remote;
    if (OnNoNewFileFound) OnNoNewFileFound(this, FileName, Remote, Remote);
    return false;
}

bool TWebCopy::ChooseDownloadPath(const TWebCopyJob& Job, HINTERNET Request, const std::string& URL,
                                  std::string& Path, bool& NameUsable) {
    std::string Name = Job.TargetFilename;
    const bool NameFromServer = Name.empty();
    if (NameFromServer) {
        std::array<char16_t, 2048> Buffer{};
        uint32_t Len = sizeof Buffer;
        InternetQueryOptionW(Request, INTERNET_OPTION_URL, Buffer.data(), Len);
        Buffer.back() = 0;
        std::string Final = Utf16ToUtf8(std::u16string(Buffer.data()));
        Name = Final.empty() || Final == URL ? URLFileName(URL) : URLFileName(Final);
        if (FAutoURLDecode) Name = URLDecode(Name);
    }
    NameUsable = !NameFromServer || IsPlainFileName(Name);
    Path = JoinPath(Job.TargetDir, Name);
    FLastFile = Path;
    FLastDir = Job.TargetDir;
    if (!FileExists(Path)) return true;
    bool Allow = true;
    if (OnCopyOverWrite) OnCopyOverWrite(this, Path, Allow);
    if (!Allow) return false;
    if (FCreateUniqueFilenames) {
        Path = UniqueFileName(Path);
        FLastFile = Path;
    }
    return true;
}

uint64_t TWebCopy::ReceiveBlocks(HINTERNET Handle, uint64_t Size, TReplacingFile& Target,
                                 bool& ReadFailed) {
    SetBarStyle(Size > 0 ? pbstNormal : pbstMarquee);
    const uint64_t Start = GetTickCount64();
    std::array<uint8_t, 4096> Buffer;
    uint64_t Total = 0;
    uint32_t Got = 0;
    ReadFailed = false;
    do {
        ProcessMessages();
        if (!InternetReadFile(Handle, Buffer.data(), Buffer.size(), Got)) {
            ReadFailed = true;
            break;
        }
        Target.Write(Buffer.data(), Got);
        Total += Got;
        ShowTransfer(Total, Size, Start, FDlgDwnload);
        if (OnCopyProgress)
            OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total),
                           static_cast<uint32_t>(Size));
        ProcessMessages();
    } while (Got > 0 && !FCancelled);
    return Total;
}

bool TWebCopy::ReceiveBody(int32_t Idx, TInternetHandlePtr Request, TReplacingFile& Target) {
    uint64_t ContentLength = 0;
    const bool HaveLength = QueryContentLength(Request.get(), ContentLength);
    uint64_t Size = HaveLength ? ContentLength : 0;
    if (Size == 0 && Idx >= 0 && Idx < FItems->Count()) Size = FItems->Items(Idx)->FileSize();
    bool ReadFailed = false;
    const uint64_t Total = ReceiveBlocks(Request.get(), Size, Target, ReadFailed);
    Request.reset();

    // The outcome is decided before the target is touched: only a whole body
    // replaces it; otherwise the new file goes with Target and the file the
    // user had stays.
    if (FCancelled) return false;
    if (!BodyComplete(ReadFailed, HaveLength, ContentLength, Total)) {
        ReportError(wceIncompleteDownload, SIncompleteDownload + Target.TargetName());
        return false;
    }
    try {
        Target.Commit();
    } catch (const EFCreateError&) {
        ReportError(wceCreateFile, "Cannot create file " + Target.TargetName());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Upload

// The local file of an upload, open for reading; nullptr when it is missing,
// a folder, or cannot be opened.
std::unique_ptr<TFileStream> OpenUploadSource(const std::string& Path, int32_t BufferSize) {
    if (!FileExists(Path)) return nullptr;
    try {
        if (BufferSize > 0)
            return std::make_unique<TBufferedFileStream>(Path, fmOpenRead | fmShareDenyWrite,
                                                         BufferSize);
        return std::make_unique<TFileStream>(Path, fmOpenRead | fmShareDenyWrite);
    } catch (const EFOpenError&) {
        return nullptr;
    }
}

bool TWebCopy::HttpUpload(TWebCopyJob& Job) {
    PlayClip(ClipUpload);
    const std::string FileName = URLFileName(URLWithoutUserInfo(Job.URL));
    const std::string URL = AddProxyCredentials(Job.URL, FProxyUserID, FProxyPassword);
    const std::string Host = URLHostName(URL);
    WriteLog("start http upload:" + URLWithoutUserInfo(URL));

    std::string Line = FDlgFileLabel + " " + CounterText() + FileName;
    if (FShowServer) Line += " " + FDlgFromServerLabel + " " + Host;
    SetFileLine(Line);

    // The source is opened before anything is sent, so a missing one costs
    // no request.
    const std::string Source =
        JoinPath(Job.TargetDir, Job.TargetFilename.empty() ? FileName : Job.TargetFilename);
    std::unique_ptr<TFileStream> File = OpenUploadSource(Source);
    if (!File) {
        ReportError(wceOpenSource, "Cannot open source file " + Source);
        return false;
    }
    ProcessMessages();

    std::string Server;
    uint16_t Port = INTERNET_DEFAULT_HTTP_PORT;
    SplitHostPort(Host, Server, Port);
    THandle Connect(InternetConnectW(FHinternet, Server, Port, Job.HTTPUserID, Job.HTTPPassword,
                                     INTERNET_SERVICE_HTTP, 0, 0));
    THandle Request;
    if (Connect)
        Request.reset(HttpOpenRequestW(Connect.get(), Job.HTTPCommand == hcPut ? "PUT" : "POST",
                                       URLObjectName(URL), std::string(), std::string(), nullptr,
                                       INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!Request) {
        ReportError(wceConnect, "Cannot connect to server " + Host);
        return false;
    }

    const int64_t FileSize = File->Size();
    INTERNET_BUFFERSW Buffers;
    Buffers.dwBufferTotal = static_cast<uint32_t>(FileSize);
    bool Started = FileSize <= 0xFFFFFFFFll;
    if (!Started)
        SetLastError(ERROR_INVALID_PARAMETER_VALUE);
    else
        Started = HttpSendRequestExW(Request.get(), &Buffers, nullptr, HSR_INITIATE, 0);
    if (!Started) {
        uint32_t Code = GetLastError();
        Request.reset();
        Connect.reset();
        if (!FCancelled) ReportLayerError(Code);
        return false;
    }

    const uint64_t Start = GetTickCount64();
    std::array<uint8_t, 4096> Buffer;
    uint64_t Total = 0;
    int64_t Got = static_cast<int64_t>(Buffer.size());
    bool WriteFailed = false;
    while (Got == static_cast<int64_t>(Buffer.size()) && !FCancelled) {
        Got = File->Read(Buffer.data(), static_cast<int64_t>(Buffer.size()));
        uint32_t Written = 0;
        if (!InternetWriteFile(Request.get(), Buffer.data(), static_cast<uint32_t>(Got), Written)) {
            uint32_t Code = GetLastError();
            if (!FCancelled) ReportLayerError(Code);
            WriteFailed = true;
            break;
        }
        Total += static_cast<uint64_t>(Got);
        ShowTransfer(Total, static_cast<uint64_t>(FileSize), Start, FDlgUpload);
        if (OnCopyProgress)
            OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total),
                           static_cast<uint32_t>(FileSize));
        ProcessMessages();
    }

    bool Ended = HttpEndRequestW(Request.get(), nullptr, 0, 0);
    if (!Ended && !FCancelled) ReportLayerError(GetLastError());
    // The server's answer decides too: a refused upload is no success.
    uint32_t Status = 0;
    if (Ended) {
        uint32_t Len = sizeof Status;
        HttpQueryInfoW(Request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Status, Len,
                       nullptr);
        if (Status >= 300 && !FCancelled)
            ReportError(static_cast<int32_t>(Status),
                        "Returned http error code " + IntToStr(Status));
    }
    Request.reset();
    Connect.reset();
    return Ended && !WriteFailed && Status < 300 && Total == static_cast<uint64_t>(FileSize);
}

} // namespace kivo::webcopy
