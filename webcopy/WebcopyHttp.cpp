// HTTP download and upload of TWebCopy, and the URL and path helpers the
// protocol routines share.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <random>

#include "platform/FileSystem.h"
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

}  // namespace

std::string URLFileName(std::string_view URL) {
    size_t Slash = URL.rfind('/');
    std::string_view S = Slash == std::string_view::npos ? URL : URL.substr(Slash + 1);
    size_t Back = S.rfind('\\');
    return std::string(Back == std::string_view::npos ? S : S.substr(Back + 1));
}

std::string URLHostName(std::string_view URL) {
    std::string S = AfterScheme(URL);
    size_t At = S.find('@');
    size_t Slash = S.find('/');
    if (At != std::string::npos && (Slash == std::string::npos || At < Slash)) S.erase(0, At + 1);
    Slash = S.find('/');
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

std::string AddProxyCredentials(std::string_view URL, const std::string& UserID, const std::string& Password) {
    if (URL.size() >= 7 && SameTextAscii(URL.substr(0, 7), "http://") && !UserID.empty() && !Password.empty())
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

std::string JoinPath(std::string_view Folder, std::string_view Name) {
    if (Folder.empty()) return std::string(Name);
    if (Folder.back() == PathDelim) return std::string(Folder) + std::string(Name);
    return std::string(Folder) + PathDelim + std::string(Name);
}

std::string UniqueFileName(const std::string& Path) {
    std::string Ext = ExtractFileExt(Path);
    std::string Base = Path.substr(0, Path.size() - Ext.size());
    for (int N = 1;; ++N) {
        std::string Candidate = Base + "(" + IntToStr(N) + ")" + Ext;
        if (!PathExists(Candidate)) return Candidate;
    }
}

void ForceDirs(const std::string& Dir) {
    std::string D = Dir;
    if (!D.empty() && D.back() == PathDelim) D.pop_back();
    if (D.empty() || DirectoryExists(D)) return;
    std::string Parent = ExtractFileDir(D);
    if (Parent == D) return;
    if (!Parent.empty()) {
        ForceDirs(Parent);
        if (!DirectoryExists(Parent)) return;
    }
    CreateDir(D);
}

void SplitHostPort(const std::string& HostText, std::string& Server, uint16_t& Port) {
    Server = HostText;
    Port = INTERNET_DEFAULT_HTTP_PORT;
    std::string PortText;
    if (!HostText.empty() && HostText[0] == '[') {
        size_t Close = HostText.find(']');
        if (Close == std::string::npos) return;
        Server = HostText.substr(1, Close - 1);
        if (Close + 1 < HostText.size() && HostText[Close + 1] == ':') PortText = HostText.substr(Close + 2);
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
// The download target: the body goes to a temporary file in the target
// folder, which replaces the target only when the job ends well, so a
// cancelled or broken download never costs the user the file they had.

namespace {

class TDownloadTarget {
public:
    explicit TDownloadTarget(std::string APath) : FPath(std::move(APath)) {}
    ~TDownloadTarget() { Discard(); }
    TDownloadTarget(const TDownloadTarget&) = delete;
    TDownloadTarget& operator=(const TDownloadTarget&) = delete;

    // False when the target cannot be written: no usable name, an existing
    // directory or read-only file in its place, or a folder that takes no
    // new file.
    bool Create() {
        std::string Name = ExtractFileName(FPath);
        if (Name.empty() || Name == "." || Name == ".." || Name.size() > NAME_MAX) return false;
        struct stat St{};
        bool Exists = ::stat(FPath.c_str(), &St) == 0;
        if (Exists && (!S_ISREG(St.st_mode) || ::access(FPath.c_str(), W_OK) != 0)) return false;
        std::string Dir = ExtractFilePath(FPath);
        if (Dir.empty()) Dir = "./";
        // A short, hidden name beside the target.
        std::string Stem = Name.substr(0, 64);
        while (!Stem.empty() && (static_cast<unsigned char>(Stem.back()) & 0xC0) == 0x80) Stem.pop_back();
        if (!Stem.empty() && (static_cast<unsigned char>(Stem.back()) & 0x80) != 0) Stem.pop_back();
        std::random_device Rd;
        std::mt19937 Gen(Rd());
        static const char Chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        for (int Try = 0; Try < 100; ++Try) {
            std::string Suffix;
            for (int I = 0; I < 8; ++I) Suffix += Chars[Gen() % 36];
            std::string Temp = Dir + "." + Stem + "." + Suffix + ".part";
            int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (Fd >= 0) {
                FFd = Fd;
                FTemp = Temp;
                if (Exists) ::fchmod(Fd, St.st_mode & 07777);
                FBuffer.reserve(BufferSize);
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    // Raises EInOutError when the disk refuses the data.
    void Write(const void* Data, size_t Count) {
        const auto* P = static_cast<const uint8_t*>(Data);
        if (FBuffer.size() + Count > BufferSize) Flush();
        if (Count >= BufferSize) {
            WriteAll(P, Count);
            return;
        }
        FBuffer.insert(FBuffer.end(), P, P + Count);
    }

    // Moves the finished file into place; false when that fails.
    bool Commit() {
        Flush();
        int Fd = FFd;
        FFd = -1;
        if (::close(Fd) != 0) throw EInOutError(errno);
        if (::rename(FTemp.c_str(), FPath.c_str()) != 0) {
            ::unlink(FTemp.c_str());
            FTemp.clear();
            return false;
        }
        FTemp.clear();
        return true;
    }

    void Discard() {
        if (FFd >= 0) {
            ::close(FFd);
            FFd = -1;
        }
        if (!FTemp.empty()) {
            ::unlink(FTemp.c_str());
            FTemp.clear();
        }
        FBuffer.clear();
    }

private:
    static constexpr size_t BufferSize = 256 * 1024;

    void Flush() {
        if (FBuffer.empty()) return;
        WriteAll(FBuffer.data(), FBuffer.size());
        FBuffer.clear();
    }
    void WriteAll(const uint8_t* P, size_t Count) {
        while (Count > 0) {
            ssize_t N = ::write(FFd, P, Count);
            if (N < 0) {
                if (errno == EINTR) continue;
                throw EInOutError(errno);
            }
            P += N;
            Count -= static_cast<size_t>(N);
        }
    }

    std::string FPath;
    std::string FTemp;
    int FFd = -1;
    std::vector<uint8_t> FBuffer;
};

using THandle = std::unique_ptr<TInternetHandle, TInternetHandleCloser>;

}  // namespace

// ---------------------------------------------------------------------------
// Download

bool TWebCopy::HttpDownload(int32_t Idx, std::string URL, std::string UserID, std::string Password,
                            TWebCopyAuthentication Authenticate, bool CopyNewerOnly,
                            const std::string& TargetFilename, const std::string& TargetDir,
                            const std::string& DisplayURL, TDateTime& Date, bool& NoNewVersion) {
    bool Result = false;
    NoNewVersion = false;
    const std::string FileName = URLFileName(URL);
    URL = AddProxyCredentials(URL, FProxyUserID, FProxyPassword);

    std::string Line = FDlgFileLabel + " " + CounterText() + (DisplayURL.empty() ? FileName : DisplayURL);
    if (FShowServer) Line += " " + FDlgFromServerLabel + " " + URLHostName(URL);
    SetFileLine(Line);
    ProcessMessages();

    uint32_t Flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (FHTTPKeepAliveAuthentication) Flags |= INTERNET_FLAG_KEEP_CONNECTION;
    const std::string LoginCaption = "Connect to " + URLServerText(URL);

    if (Authenticate == waAlways && (UserID.empty() || Password.empty())) {
        if (!CallLoginHook(LoginCaption, UserID, Password)) return false;
    }

    THandle Request;
    uint32_t Status = 0;
    while (true) {
        std::string Header;
        if (!UserID.empty() || !Password.empty())
            Header = "Authorization: Basic " + Base64Encode(UserID + ":" + Password) + "\r\n\r\n";
        Request.reset(InternetOpenUrlW(FHinternet, URL, Header, Flags, 0));
        ProcessMessages();
        if (!Request) {
            // A wait the user cancelled is no missing URL.
            if (OnURLNotFound && !FCancelled) OnURLNotFound(this, URL);
            return false;
        }
        uint32_t Len = sizeof Status;
        HttpQueryInfoW(Request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Status, Len, nullptr);
        if (Status == 401 && (Authenticate == waAlways || Authenticate == waAuto)) {
            // The dialog's fields start empty; a confirmed login repeats the request.
            if (!CallLoginHook(LoginCaption, UserID, Password)) return false;
            Request.reset();
            continue;
        }
        if (Status >= 300) {
            Request.reset();
            ReportError(static_cast<int32_t>(Status), "Returned http error code " + IntToStr(Status));
            return false;
        }
        break;
    }

    if (CopyNewerOnly || OnFileDateCheck) {
        SYSTEMTIME St{};
        uint32_t Len = sizeof St;
        TDateTime Remote = 0;
        if (!HttpQueryInfoW(Request.get(), HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &St, Len, nullptr) ||
            !TryEncodeDateTime(St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute, St.wSecond, St.wMilliseconds, Remote))
            Remote = Now();
        if (OnFileDateCheck) {
            Date = Remote;
            bool Allow = true;
            OnFileDateCheck(this, Idx, Remote, Allow);
            if (!Allow) return false;
        } else if (Date < Remote) {
            Date = Remote;
        } else {
            NoNewVersion = true;
            Date = Remote;
            Request.reset();
            if (OnNoNewFileFound) OnNoNewFileFound(this, FileName, Remote, Remote);
            return false;
        }
    }

    std::string Name = TargetFilename;
    const bool NameFromUrl = Name.empty();
    if (NameFromUrl) {
        std::array<char16_t, 2048> Buffer{};
        uint32_t Len = sizeof Buffer;
        InternetQueryOptionW(Request.get(), INTERNET_OPTION_URL, Buffer.data(), Len);
        Buffer.back() = 0;
        std::string Final = Utf16ToUtf8(std::u16string(Buffer.data()));
        Name = Final.empty() || Final == URL ? URLFileName(URL) : URLFileName(Final);
        if (FAutoURLDecode) Name = URLDecode(Name);
    }
    std::string Path = JoinPath(TargetDir, Name);
    FLastFile = Path;
    FLastDir = TargetDir;

    if (FileExists(Path)) {
        bool Allow = true;
        if (OnCopyOverWrite) OnCopyOverWrite(this, Path, Allow);
        if (!Allow) return false;
        if (FCreateUniqueFilenames) {
            Path = UniqueFileName(Path);
            FLastFile = Path;
        }
    }

    // A name the server chose (through the URL or a redirect) is one file
    // in the target folder: a decoded separator or a NUL cannot lead out.
    const bool NameUsable = !NameFromUrl || (Name.find('/') == std::string::npos &&
                                             Name.find('\0') == std::string::npos && Name != "." && Name != "..");
    if (NameUsable) ForceDirs(ExtractFilePath(Path));
    TDownloadTarget Target(Path);
    if (!NameUsable || !Target.Create()) {
        Request.reset();
        ReportError(wceCreateFile, "Cannot create file " + Path);
        return false;
    }

    uint64_t ContentLength = 0;
    uint32_t Len = sizeof ContentLength;
    const bool HaveLength = HttpQueryInfoW(Request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER64,
                                           &ContentLength, Len, nullptr);
    uint64_t Size = HaveLength ? ContentLength : 0;
    if (Size == 0 && Idx >= 0 && Idx < FItems->Count()) Size = FItems->Items(Idx)->FileSize();
    SetBarStyle(Size > 0 ? pbstNormal : pbstMarquee);
    const uint64_t Start = GetTickCount64();

    std::array<uint8_t, 4096> Buffer;
    uint64_t Total = 0;
    uint32_t Got = 0;
    bool ReadFailed = false;
    do {
        ProcessMessages();
        if (!InternetReadFile(Request.get(), Buffer.data(), Buffer.size(), Got)) {
            ReadFailed = true;
            break;
        }
        Target.Write(Buffer.data(), Got);
        Total += Got;
        ShowTransfer(Total, Size, Start, FDlgDwnload);
        if (OnCopyProgress) OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total), static_cast<uint32_t>(Size));
        ProcessMessages();
        if (Got > 0) Result = true;
    } while (Got > 0 && !FCancelled);
    Request.reset();

    if (FCancelled) {
        Target.Discard();
    } else if (HaveLength && Total < ContentLength) {
        // The body ended before its announced length: a truncated file is
        // no download, and the file the user had stays.
        Target.Discard();
        ReportError(wceIncompleteDownload, SIncompleteDownload + Path);
        Result = false;
    } else if (ReadFailed && !Result) {
        Target.Discard();
    } else if (!Target.Commit()) {
        ReportError(wceCreateFile, "Cannot create file " + Path);
        Result = false;
    }
    return Result;
}

// ---------------------------------------------------------------------------
// Upload

bool TWebCopy::HttpUpload(std::string URL, const std::string& TargetDir, const std::string& TargetFilename,
                          TWebCopyHTTPCommand Command) {
    PlayClip(ClipUpload);
    const std::string FileName = URLFileName(URL);
    URL = AddProxyCredentials(URL, FProxyUserID, FProxyPassword);
    const std::string Host = URLHostName(URL);

    std::string Line = FDlgFileLabel + " " + CounterText() + FileName;
    if (FShowServer) Line += " " + FDlgFromServerLabel + " " + Host;
    SetFileLine(Line);

    const std::string Source = JoinPath(TargetDir, TargetFilename.empty() ? FileName : TargetFilename);
    if (!FileExists(Source)) return false;
    ProcessMessages();

    std::string Server;
    uint16_t Port = INTERNET_DEFAULT_HTTP_PORT;
    SplitHostPort(Host, Server, Port);
    THandle Connect(InternetConnectW(FHinternet, Server, Port, std::string(), std::string(), INTERNET_SERVICE_HTTP, 0, 0));
    THandle Request;
    if (Connect)
        Request.reset(HttpOpenRequestW(Connect.get(), Command == hcPut ? "PUT" : "POST", URLObjectName(URL),
                                       std::string(), std::string(), nullptr, INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!Request) {
        ReportError(wceConnect, "Cannot connect to server " + Host);
        return false;
    }

    TFileStream File(Source, fmOpenRead | fmShareDenyWrite);
    const int64_t FileSize = File.Size();
    INTERNET_BUFFERSW Buffers;
    Buffers.dwBufferTotal = static_cast<uint32_t>(FileSize);
    bool Started = FileSize <= 0xFFFFFFFFll;
    if (!Started) SetLastError(ERROR_INVALID_PARAMETER_VALUE);
    else Started = HttpSendRequestExW(Request.get(), &Buffers, nullptr, HSR_INITIATE, 0);
    if (!Started) {
        uint32_t Code = GetLastError();
        Request.reset();
        Connect.reset();
        if (!FCancelled) ReportError(static_cast<int32_t>(Code), InternetErrorMessage(Code));
        return false;
    }

    const uint64_t Start = GetTickCount64();
    std::array<uint8_t, 4096> Buffer;
    uint64_t Total = 0;
    int64_t Got = static_cast<int64_t>(Buffer.size());
    bool WriteFailed = false;
    while (Got == static_cast<int64_t>(Buffer.size()) && !FCancelled) {
        Got = File.Read(Buffer.data(), static_cast<int64_t>(Buffer.size()));
        uint32_t Written = 0;
        if (!InternetWriteFile(Request.get(), Buffer.data(), static_cast<uint32_t>(Got), Written)) {
            uint32_t Code = GetLastError();
            if (!FCancelled) ReportError(static_cast<int32_t>(Code), InternetErrorMessage(Code));
            WriteFailed = true;
            break;
        }
        Total += static_cast<uint64_t>(Got);
        ShowTransfer(Total, static_cast<uint64_t>(FileSize), Start, FDlgUpload);
        if (OnCopyProgress)
            OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total), static_cast<uint32_t>(FileSize));
        ProcessMessages();
    }

    bool Ended = HttpEndRequestW(Request.get(), nullptr, 0, 0);
    if (!Ended && !FCancelled) {
        uint32_t Code = GetLastError();
        ReportError(static_cast<int32_t>(Code), InternetErrorMessage(Code));
    }
    // The server's answer decides too: a refused upload is no success.
    uint32_t Status = 0;
    if (Ended) {
        uint32_t Len = sizeof Status;
        HttpQueryInfoW(Request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &Status, Len, nullptr);
        if (Status >= 300 && !FCancelled)
            ReportError(static_cast<int32_t>(Status), "Returned http error code " + IntToStr(Status));
    }
    Request.reset();
    Connect.reset();
    return Ended && !WriteFailed && Status < 300 && Total == static_cast<uint64_t>(FileSize);
}

}  // namespace kivo::webcopy
