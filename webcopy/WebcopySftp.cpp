// SFTP download, upload, deletion and listing of TWebCopy. Each job opens
// its own connection (socket, SSH session, SFTP channel), writes a trace of
// every step to the log sink, and releases the connection when it ends.
#include <array>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ReplacingFile.h"
#include "runtime/Application.h"
#include "runtime/CodePages.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {

constexpr size_t DownloadBlock = 32768;
// The download still hands out blocks of at most DownloadBlock bytes; the
// connection asks for this much at a time, so that the server always has
// enough read requests to answer (asked 32 KiB at a time, a loopback
// transfer spends two thirds of its time waiting).
constexpr size_t DownloadReadAhead = 1024 * 1024;
constexpr size_t UploadBlock = 131072;
constexpr int32_t PasswordAttempts = 17;
constexpr uint32_t NewFileMode = 0644;
constexpr uint32_t NewFolderMode = 0755;
constexpr int32_t ErrorEagain = -37;
// Without a Timeout, waits for the server end after a minute, so a server
// that accepts the connection and then says nothing cannot hold a job for
// ever.
constexpr int DefaultTimeoutMs = 60000;
// The key files tried, in this order, when a job has no password.
constexpr std::array<const char*, 3> DefaultKeyFiles = {"~/.ssh/id_ed25519", "~/.ssh/id_ecdsa",
                                                        "~/.ssh/id_rsa"};

// The longest wait for the server, in milliseconds.
int WaitLimitMs(int32_t TimeoutSeconds) {
    if (TimeoutSeconds <= 0) return DefaultTimeoutMs;
    return TimeoutSeconds > 2000000 ? 2000000000 : TimeoutSeconds * 1000;
}

std::string Replace(std::string Text, char From, char To) {
    for (char& C : Text)
        if (C == From) C = To;
    return Text;
}

// Folder and Name joined by one "/"; Name alone when Folder is empty.
std::string RemoteJoin(const std::string& Folder, const std::string& Name) {
    if (Folder.empty()) return Name;
    return Folder.back() == '/' ? Folder + Name : Folder + "/" + Name;
}

// A file time from seconds since 1970-01-01.
FILETIME UnixToFileTime(uint32_t Seconds) {
    const uint64_t Ticks = static_cast<uint64_t>(Seconds) * 10000000u + 116444736000000000u;
    return FILETIME{static_cast<uint32_t>(Ticks), static_cast<uint32_t>(Ticks >> 32)};
}

char16_t FoldCase(char16_t C) {
    return C >= u'A' && C <= u'Z' ? static_cast<char16_t>(C + 32) : C;
}

// Matches a bracketed set at Mask[M] ("[abc]", "[a-z]", "[!0-9]") against C;
// M moves past the set. A set without "]" is the character "[".
bool MatchSet(std::u16string_view Mask, size_t& M, char16_t C) {
    const size_t Close = Mask.find(u']', M + 1);
    if (Close == std::u16string_view::npos) return FoldCase(C) == u'[' && (++M, true);
    size_t I = M + 1;
    const bool Negate = I < Close && Mask[I] == u'!';
    if (Negate) ++I;
    bool Found = false;
    for (; I < Close; ++I) {
        char16_t Lo = FoldCase(Mask[I]), Hi = Lo;
        if (I + 2 < Close && Mask[I + 1] == u'-') {
            Hi = FoldCase(Mask[I + 2]);
            I += 2;
        }
        Found = Found || (FoldCase(C) >= Lo && FoldCase(C) <= Hi);
    }
    M = Close + 1;
    return Found != Negate;
}

// A file mask: "*" any run of characters, "?" one character, bracketed
// sets; letter case ignored.
bool MatchesMask(std::u16string_view Name, std::u16string_view Mask) {
    size_t N = 0, M = 0;
    size_t StarM = std::u16string_view::npos, StarN = 0;
    while (N < Name.size()) {
        if (M < Mask.size() && Mask[M] == u'*') {
            StarM = ++M;
            StarN = N;
            continue;
        }
        if (M < Mask.size()) {
            size_t Next = M;
            bool Ok = false;
            if (Mask[M] == u'?') {
                Ok = true;
                ++Next;
            } else if (Mask[M] == u'[') {
                Ok = MatchSet(Mask, Next, Name[N]);
            } else {
                Ok = FoldCase(Mask[M]) == FoldCase(Name[N]);
                ++Next;
            }
            if (Ok) {
                M = Next;
                ++N;
                continue;
            }
        }
        if (StarM == std::u16string_view::npos) return false;
        M = StarM;
        N = ++StarN;
    }
    while (M < Mask.size() && Mask[M] == u'*')
        ++M;
    return M == Mask.size();
}

} // namespace

// ---------------------------------------------------------------------------
// Shared steps

void TWebCopy::SftpReport(int32_t Code, const std::string& Info, const std::string& LogLine) {
    if (OnError) OnError(this, Code);
    if (OnErrorInfo) OnErrorInfo(this, Code, Info);
    WriteLog(LogLine);
}

std::string TWebCopy::SftpFileLine(const std::string& Name, const std::string& Host,
                                   bool Upload) const {
    std::string Line = FDlgFileLabel + " " + CounterText() + Name;
    if (Upload)
        Line += " " + FDlgToServerLabel + " " + Host;
    else if (FShowServer)
        Line += " " + FDlgFromServerLabel + " " + Host;
    return Line;
}

std::string TWebCopy::SftpRemoteText(const std::string& Text) const {
    if (FCodePage == 65001) return Text;
    const uint16_t Page = FCodePage == 0 ? AnsiCodePage() : FCodePage;
    return IsSupportedCodePage(Page) ? Utf8ToCodePage(Text, Page) : Text;
}

std::string TWebCopy::SftpLocalText(const std::string& Text) const {
    if (FCodePage == 65001) return Text;
    const uint16_t Page = FCodePage == 0 ? AnsiCodePage() : FCodePage;
    return IsSupportedCodePage(Page) ? CodePageToUtf8(Text, Page) : Text;
}

void TWebCopy::SftpShowBlock(uint64_t Total, uint64_t Size, uint64_t StartTick) {
    ShowTransfer(Total, Size, StartTick, FDlgDwnload);
    if (OnCopyProgress)
        OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total), static_cast<uint32_t>(Size));
    ProcessMessages();
}

void TWebCopy::SftpRelease() {
    FSftp.reset();
    FPrevConnect.clear();
}

bool TWebCopy::SftpAcquire(const TWebCopyJob& Job, TSftpRoutine Routine) {
    const std::string Login = Job.Host + Job.UserID + Job.Password;
    const bool Keep = Job.SameServer && Routine != srList;
    if (Routine != srList && FSftp && FSftp->Channel && Login == FPrevConnect) return true;
    SftpRelease();
    FSftp = std::make_unique<TSftpConnection>();
    if (!SftpConnect(Job, Routine)) {
        SftpRelease();
        return false;
    }
    if (Keep) FPrevConnect = Login;
    return true;
}

bool TWebCopy::SftpOpenSocket(const TWebCopyJob& Job) {
    WriteLog("[SFTP] Info: Create socket");
    TTcpSocket& Socket = FSftp->Socket;
    if (!Socket.Create(FSocketBuffLen)) return false;
    WriteLog("[SFTP] Info: Connecting socket to host: " + Job.Host);
    std::string Error;
    if (!Socket.Resolve(Job.Host, Job.Port, Error)) {
        const std::string Text = "Cannot connect to server " + Job.Host + ": " + Error;
        SftpReport(wceConnect, Text, "[SFTP] Error: " + Text);
        return false;
    }
    if (!Socket.Connect(WaitLimitMs(FTimeout))) {
        WriteLog("[SFTP] Error: Could not connect socket.");
        return false;
    }
    return true;
}

bool TWebCopy::SftpConnect(const TWebCopyJob& Job, TSftpRoutine Routine) {
    const std::string Server = "Cannot connect to SFTP server " + Job.Host + ": ";
    if (!SftpOpenSocket(Job)) {
        const std::string Text = Server + LastSocketErrorText();
        SftpReport(wceConnect, Text, "[SFTP] Error: " + Text);
        return false;
    }
    ProcessMessages();
    const bool Delete = Routine == srDelete;
    WriteLog(Delete ? "[SFTP] Info: Initialize libssh2" : "[SFTP] Info: Initializing libssh2");
    if (!TSshSession::InitLibrary()) {
        const std::string Text = Server + "Unable to initialize libssh2.dll";
        SftpReport(wceConnect, Text, "[SFTP] Error: " + Text);
        return false;
    }
    ProcessMessages();
    WriteLog(Delete ? "[SFTP] Info: Initialize libssh2 session"
                    : "[SFTP] Info: Initializing libssh2 session");
    FSftp->Session = std::make_unique<TSshSession>();
    if (!SftpStartSession(Job)) return false;
    ProcessMessages();
    WriteLog(Delete ? "[SFTP] Info: Initialize SFTP connection"
                    : "[SFTP] Info: Initializing SFTP connection");
    FSftp->Channel = FSftp->Session->OpenSftp();
    ProcessMessages();
    if (FSftp->Channel) return true;

    const std::string Ftp = "Cannot connect to FTP server " + Job.Host;
    switch (Routine) {
    case srDownload: SftpReport(wceConnect, Ftp, "[SFTP] Error: " + Ftp); break;
    case srUpload: SftpReport(wceConnect, Ftp, "[SFTP] Info: " + Ftp); break;
    case srDelete: {
        const std::string Text =
            Ftp + ": " + FSftp->Session->LastError("Could not initialize SFTP.");
        SftpReport(wceConnect, Text, "[SFTP] Error: " + Text);
        break;
    }
    case srList: {
        const std::string Text = "Cannot connect to SFTP server " + Job.Host;
        SftpReport(wceConnect, Text, "[SFTP] Info: " + Text);
        break;
    }
    }
    return false;
}

bool TWebCopy::SftpStartSession(const TWebCopyJob& Job) {
    TSshSession& Session = *FSftp->Session;
    const std::string Server = "Cannot connect to SFTP server " + Job.Host + ": ";
    auto Fail = [&](const std::string& Message) {
        SftpReport(wceConnect, Server + Message, "[SFTP] Error: " + Server + Message);
        return false;
    };
    if (!Session.Valid()) return Fail("Could not start session.");
    Session.SetTimeout(WaitLimitMs(FTimeout));
    WriteLog("[SFTP] Info: Libssh2 session startup");
    if (!Session.Startup(FSftp->Socket)) return Fail(Session.LastError("Could not start session."));
    // The server proves who it is before it learns the user name.
    if (!SftpCheckHostKey(Job)) return false;
    WriteLog("[SFTP] Info: Setting session blocking");
    Session.SetBlocking(true);
    WriteLog("[SFTP] Info: Getting userauth list");
    std::string Methods;
    const bool HaveList = Session.UserAuthList(SftpRemoteText(Job.UserID), Methods);
    WriteLog("[SFTP] Info: Checking authentication status");
    if (Session.Authenticated()) return true;
    if (!HaveList) return Fail("Could not get user auth list.");
    return SftpAuthenticate(Job);
}

bool TWebCopy::SftpCheckHostKey(const TWebCopyJob& Job) {
    const std::string Server = "Cannot connect to SFTP server " + Job.Host + ": ";
    std::string Fingerprint;
    const TSshHostKeyState State = FSftp->Session->CheckHostKey(ExpandUserPath(FKnownHostsFile),
                                                                Job.Host, Job.Port, Fingerprint);
    std::string Message;
    switch (State) {
    case hksKnown:
        WriteLog("[SFTP] Info: Host key matches the known host key " + Fingerprint);
        return true;
    case hksUnknown:
        if (!FStrictHostKeyChecking) {
            WriteLog("[SFTP] Info: Unknown host key accepted: " + Fingerprint);
            return true;
        }
        Message = "Host key is not known: " + Fingerprint;
        break;
    case hksChanged:
        Message = "Host key has changed: " + Fingerprint + " differs from the known host key";
        break;
    case hksNoKey: Message = "Server sent no host key"; break;
    }
    SftpReport(wceConnect, Server + Message, "[SFTP] Error: " + Server + Message);
    return false;
}

bool TWebCopy::SftpAuthenticate(const TWebCopyJob& Job) {
    TSshSession& Session = *FSftp->Session;
    const std::string User = SftpRemoteText(Job.UserID);
    if (Job.Password.empty()) {
        WriteLog("[SFTP] Info: Trying the SSH agent");
        if (Session.AuthenticateAgent(User) && Session.Authenticated()) return true;
        for (const char* KeyFile : DefaultKeyFiles) {
            const std::string Path = ExpandUserPath(KeyFile);
            if (!FileExists(Path)) continue;
            WriteLog("[SFTP] Info: Trying key file " + Path);
            if (Session.AuthenticateKeyFile(User, Path) && Session.Authenticated()) return true;
        }
    }
    const std::string Password = SftpRemoteText(Job.Password);
    std::string Message;
    for (int32_t Attempt = 0; Attempt < PasswordAttempts; ++Attempt) {
        if (Session.AuthenticatePassword(User, Password)) {
            if (Session.Authenticated()) return true;
        } else {
            Message = Session.LastError("No error.");
        }
    }
    if (Message.empty())
        Message =
            Session.LastCallFailed() ? Session.LastError("No error.") : "Auth repeat limitation.";
    const std::string Text = "Cannot connect to SFTP server " + Job.Host + ": " + Message;
    SftpReport(wceConnect, Text, "[SFTP] Error: " + Text);
    return false;
}

// ---------------------------------------------------------------------------
// Download

bool TWebCopy::SftpNewerAllowsDownload(TWebCopyJob& Job, TDateTime RemoteDate,
                                       const std::string& FileName) {
    if (!Job.CopyNewerOnly && !OnFileDateCheck) return true;
    if (OnFileDateCheck) {
        Job.Date = RemoteDate;
        bool Allow = true;
        OnFileDateCheck(this, Job.Idx, RemoteDate, Allow);
        if (!Allow) WriteLog("[SFTP] Skipping: OnFileDateCheck returned with not allowed");
        return Allow;
    }
    if (Job.Date < RemoteDate) {
        Job.Date = RemoteDate;
        return true;
    }
    Job.NoNewVersion = true;
    Job.Date = RemoteDate;
    if (OnNoNewFileFound) OnNoNewFileFound(this, FileName, RemoteDate, RemoteDate);
    WriteLog("[SFTP] Skipping: No new file");
    return false;
}

bool TWebCopy::SftpChooseLocalPath(const TWebCopyJob& Job, const std::string& FileName,
                                   std::string& Path) {
    Path = JoinPath(Job.TargetDir, Job.TargetFilename.empty() ? FileName : Job.TargetFilename);
    if (FileExists(Path)) {
        bool Allow = true;
        if (OnCopyOverWrite) OnCopyOverWrite(this, Path, Allow);
        if (!Allow) {
            WriteLog("[SFTP] Skipping: OnCopyOverwrite returned with not allowed: " + FileName);
            return false;
        }
        if (FCreateUniqueFilenames) Path = UniqueFileName(Path);
    }
    FLastFile = Path;
    FLastDir = Job.TargetDir;
    return true;
}

namespace {

// The new file beside the target; nullptr when it cannot be made (no usable
// name, a folder or a read-only file in the way, a missing folder).
std::unique_ptr<TReplacingFile> CreateSftpTarget(const std::string& Path) {
    const std::string Name = ExtractFileName(Path);
    if (Name.empty() || Name == "." || Name == ".." || ReplaceRefusal(Path) != 0) return nullptr;
    try {
        return std::make_unique<TReplacingFile>(Path, rfaKeep, 256 * 1024);
    } catch (const EFCreateError&) {
        return nullptr;
    }
}

} // namespace

bool TWebCopy::SftpReceive(TSftpHandle& Remote, TReplacingFile& Target, uint64_t Size,
                           const std::string& FileName) {
    const uint64_t Start = GetTickCount64();
    WriteLog("[SFTP] Info: Copying file " + FileName);
    std::vector<uint8_t> Buffer(DownloadBlock);
    uint64_t Total = 0;
    while (true) {
        const int64_t Got = Remote.Read(Buffer.data(), Buffer.size());
        if (Got == 0) return true;
        std::string Failure;
        if (Got < 0) {
            Failure = FSftp->Session->LastError("Unknown error");
        } else {
            try {
                Target.Write(Buffer.data(), Got);
            } catch (const EInOutError& E) {
                Failure = E.what();
            }
        }
        if (!Failure.empty()) {
            const std::string Text = "Error while copying file " + FileName + ": " + Failure;
            SftpReport(wceReadSource, Text, "[SFTP] Info: " + Text);
            return false;
        }
        Total += static_cast<uint64_t>(Got);
        SftpShowBlock(Total, Size, Start);
        if (FCancelled) return false;
    }
}

bool TWebCopy::SftpDownload(TWebCopyJob& Job, bool WriteFileLine) {
    WriteLog("[SFTP] Info: Start download");
    Job.NoNewVersion = false;
    FCancelled = false;
    ProcessMessages();
    const std::string FileName = URLFileName(Job.URL);
    if (WriteFileLine) SetFileLine(SftpFileLine(FileName, Job.Host, false));
    if (!SftpAcquire(Job, srDownload)) return false;
    const TSftpJobGuard Release{*this, Job.SameServer};
    TSftpChannel& Channel = *FSftp->Channel;

    const size_t Slash = Job.URL.rfind('/');
    const std::string Folder = Slash == std::string::npos ? "" : Job.URL.substr(0, Slash + 1);
    const std::string RemotePath = RemoteJoin(Folder, FileName);
    WriteLog("[SFTP] Info: Getting attributes for: " + RemotePath);
    TSftpAttributes Attributes;
    if (!Channel.Stat(SftpRemoteText(RemotePath), Attributes)) {
        if (OnURLNotFound) OnURLNotFound(this, Job.URL);
        return false;
    }
    WriteLog("[SFTP] Info: Opening file handle for: " + RemotePath);
    std::unique_ptr<TSftpHandle> Remote =
        Channel.OpenForReading(SftpRemoteText(RemotePath), DownloadReadAhead);
    if (!Remote) {
        if (OnURLNotFound) OnURLNotFound(this, Job.URL);
        WriteLog("[SFTP] Error: File could not be opened: " + RemotePath);
        return false;
    }
    if (!SftpNewerAllowsDownload(Job, UnixToDateTime(Attributes.ModifyTime), FileName))
        return false;
    std::string Path;
    if (!SftpChooseLocalPath(Job, FileName, Path)) return false;
    std::unique_ptr<TReplacingFile> Target = CreateSftpTarget(Path);
    if (!Target) {
        const std::string Text = "Cannot create target file " + FileName;
        SftpReport(wceCreateFile, Text, "[SFTP] Error: " + Text);
        return false;
    }

    // Only a whole file replaces the target; a failed or cancelled transfer
    // leaves the file that was there.
    bool Ok = SftpReceive(*Remote, *Target, Attributes.Size, FileName);
    if (Ok) {
        try {
            Target->Commit();
        } catch (const EFCreateError&) {
            const std::string Text = "Cannot create target file " + FileName;
            SftpReport(wceCreateFile, Text, "[SFTP] Error: " + Text);
            Ok = false;
        }
    }
    Target.reset();
    Remote.reset();
    WriteLog("[SFTP] Info: Closed file handle");
    return Ok;
}

// ---------------------------------------------------------------------------
// Upload

bool TWebCopy::SftpMakeDir(const std::string& Dir, bool Recursive, uint32_t Mode) {
    if (Dir.empty() || Dir == "\\") return false;
    TSftpChannel& Channel = *FSftp->Channel;
    bool Result = false;
    if (Recursive) {
        // The parent by the rules of local Windows paths: before the last
        // "\" or ":".
        const size_t Cut = Dir.find_last_of("\\:");
        const std::string Parent = Cut == std::string::npos ? "" : Dir.substr(0, Cut);
        if (!Parent.empty() && Parent != "." &&
            !Channel.OpenFolder(SftpRemoteText(Replace(Parent, '\\', '/'))))
            Result = SftpMakeDir(Parent, true, Mode);
    }
    if (Channel.MakeDir(SftpRemoteText(Replace(Dir, '\\', '/')), Mode == 0 ? NewFolderMode : Mode))
        Result = true;
    return Result;
}

void TWebCopy::SftpCheckUploadFolder(const TWebCopyJob& Job) {
    if (Job.TargetDir.empty() || Job.TargetDir == FPrevTarget) return;
    FPrevTarget = Job.SameServer ? Job.TargetDir : std::string();
    const std::string Dir = Replace(Job.TargetDir, '\\', '/');
    WriteLog("[SFTP] Info: Opening directory  " + Dir);
    if (FSftp->Channel->OpenFolder(SftpRemoteText(Dir))) return;
    WriteLog("[SFTP] Info: Directory  " + Dir + " does not exists. Creating " + Dir);
    SftpMakeDir(Job.TargetDir, true, 0);
}

bool TWebCopy::SftpNewerAllowsUpload(TWebCopyJob& Job, const std::string& RemotePath,
                                     const std::string& RemoteName) {
    if (!Job.CopyNewerOnly && !OnFileDateCheck) return true;
    TSftpAttributes Attributes;
    if (!FSftp->Channel->Stat(SftpRemoteText(RemotePath), Attributes)) return true;
    bool Allow = true;
    if (OnCopyOverWrite) OnCopyOverWrite(this, RemoteName, Allow);
    if (!Allow) return false;
    const TDateTime RemoteDate = UnixToDateTime(Attributes.ModifyTime);
    if (OnFileDateCheck) {
        OnFileDateCheck(this, Job.Idx, RemoteDate, Allow);
        Job.Date = RemoteDate;
        return Allow;
    }
    if (RemoteDate > Job.Date) {
        Job.Date = RemoteDate;
        Job.NoNewVersion = true;
        if (OnNoNewFileFound) OnNoNewFileFound(this, RemoteName, RemoteDate, RemoteDate);
        return false;
    }
    Job.Date = RemoteDate;
    return true;
}

bool TWebCopy::SftpSend(TStream& Source, TSftpHandle& Remote, const std::string& RemoteName) {
    const uint64_t Size = static_cast<uint64_t>(Source.Size() - Source.Position());
    const uint64_t Start = GetTickCount64();
    WriteLog("[SFTP] Info: Copy file");
    std::vector<uint8_t> Buffer(UploadBlock);
    uint64_t Total = 0;
    int64_t Got = 1;
    while (Got > 0 && !FCancelled) {
        Got = Source.Read(Buffer.data(), static_cast<int64_t>(Buffer.size()));
        int64_t Done = 0;
        while (Done < Got && !FCancelled) {
            const int64_t Written =
                Remote.Write(Buffer.data() + Done, static_cast<size_t>(Got - Done));
            if (Written <= 0) {
                const std::string Text = "Error while copying file " + RemoteName + ": " +
                                         FSftp->Session->LastError("Unknown error");
                SftpReport(wceReadSource, Text, "[SFTP] Error: " + Text);
                return false;
            }
            Done += Written;
            Total += static_cast<uint64_t>(Written);
            SftpShowBlock(Total, Size, Start);
        }
    }
    return true;
}

namespace {

// The local file of an upload, open for reading; nullptr when it is
// missing, a folder, or cannot be opened.
std::unique_ptr<TFileStream> OpenSftpSource(const std::string& Path) {
    if (!FileExists(Path)) return nullptr;
    try {
        return std::make_unique<TFileStream>(Path, fmOpenRead | fmShareDenyWrite);
    } catch (const EFOpenError&) {
        return nullptr;
    }
}

} // namespace

bool TWebCopy::SftpUpload(TWebCopyJob& Job) {
    WriteLog("[SFTP] Info: File upload");
    Job.NoNewVersion = false;
    FCancelled = false;
    const std::string FileName = URLFileName(Job.URL);
    SetFileLine(SftpFileLine(FileName, Job.Host, true));
    // The source is opened before the server is touched, so a missing one
    // leaves the remote file as it is.
    std::unique_ptr<TFileStream> Source = OpenSftpSource(Job.URL);
    if (!Source) {
        const std::string Text = "Cannot open source file " + Job.URL;
        SftpReport(wceOpenSource, Text, "[SFTP] Error: " + Text);
        return false;
    }
    if (!SftpAcquire(Job, srUpload)) return false;
    const TSftpJobGuard Release{*this, Job.SameServer};

    SftpCheckUploadFolder(Job);
    const std::string RemoteName = Job.TargetFilename.empty() ? FileName : Job.TargetFilename;
    const std::string RemotePath = RemoteJoin(Job.TargetDir, RemoteName);
    if (!SftpNewerAllowsUpload(Job, RemotePath, RemoteName)) return false;
    WriteLog("[SFTP] Info: Opening file handle for: " + RemotePath);
    std::unique_ptr<TSftpHandle> Remote =
        FSftp->Channel->OpenForWriting(SftpRemoteText(RemotePath), NewFileMode);
    if (!Remote) {
        if (OnURLNotFound) OnURLNotFound(this, Job.URL);
        WriteLog("[SFTP] Error: Could not open file: " + RemotePath);
        return false;
    }
    const bool Ok = SftpSend(*Source, *Remote, RemoteName);
    Source.reset();
    Remote.reset();
    return Ok;
}

// ---------------------------------------------------------------------------
// Delete

bool TWebCopy::SftpDelete(TWebCopyJob& Job) {
    WriteLog("[SFTP] Info: Delete file");
    SetFileLine(SftpFileLine(URLFileName(Job.URL), Job.Host, true));
    if (!SftpAcquire(Job, srDelete)) return false;
    const TSftpJobGuard Release{*this, Job.SameServer};

    if (!Job.TargetDir.empty() && Job.TargetDir != FPrevTarget) {
        FPrevTarget = Job.SameServer ? Job.TargetDir : std::string();
        WriteLog("[SFTP] Info: Opening directory " + Job.TargetDir);
        if (!FSftp->Channel->OpenFolder(SftpRemoteText(Job.TargetDir))) {
            SftpRelease();
            WriteLog("[SFTP] Error: Cannot open directory " + Job.TargetDir);
            return false;
        }
    }
    const std::string Path =
        Job.TargetFilename.empty() ? Job.URL : Job.TargetDir + "/" + Job.TargetFilename;
    WriteLog("[SFTP] Info: Removing file " + Path);
    if (FSftp->Channel->Unlink(SftpRemoteText(Path))) {
        if (OnRemovedFile) OnRemovedFile(this, Job.Idx);
    } else {
        if (OnRemovedFileFailed) OnRemovedFileFailed(this, Job.Idx);
        WriteLog("[SFTP] Error: Could not remove " + Path);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Listing

void TWebCopy::SftpReadListing(TSftpHandle& Folder, const std::string& Pattern,
                               TWebCopyItem& Item) {
    const std::u16string Mask = Utf8ToUtf16(Pattern);
    int Kept = 0;
    std::string Raw;
    TSftpAttributes Attributes;
    while (true) {
        int32_t Rc = Folder.ReadDir(Raw, Attributes);
        if (Rc == ErrorEagain) Rc = Folder.ReadDir(Raw, Attributes);
        if (Rc <= 0) break;
        const std::string Name = SftpLocalText(Raw);
        if (Name == "." || Name == "..") continue;
        if (!Pattern.empty() && !MatchesMask(Utf8ToUtf16(Name), Mask)) continue;
        Item.FileList()->push_back(Name);
        TFileDetailItem* Detail = Item.FileDetails()->Add();
        Detail->SetFilename(Name);
        Detail->SetFileAttributes(Attributes.Flags);
        Detail->SetFileDate(UnixToFileTime(Attributes.ModifyTime));
        Detail->SetFileSizeLow(static_cast<uint32_t>(Attributes.Size));
        Detail->SetFileSizeHigh(static_cast<uint32_t>(Attributes.Size >> 32));
        SetFileLine(IntToStr(++Kept) + " " + Name);
    }
}

bool TWebCopy::SftpList(TWebCopyJob& Job) {
    WriteLog("[SFTP] Info: Getting directory file list");
    Job.NoNewVersion = false;
    Job.SameServer = false;
    SetFileLine(SftpFileLine(URLFileName(Job.URL), Job.Host, false));
    if (!SftpAcquire(Job, srList)) return false;
    const TSftpJobGuard Release{*this, false};

    std::string Dir = Replace(Job.URL, '\\', '/');
    if (Dir.empty()) Dir = "/";
    std::string Pattern;
    const size_t Star = Dir.find("*.");
    if (Star != std::string::npos) {
        Pattern = Dir.substr(Star);
        Dir.erase(Star);
    }
    TWebCopyItem& Item = *FItems->Items(Job.Idx);
    Item.ResetListing();
    WriteLog("[SFTP] Info: Opening directory " + Dir);
    std::unique_ptr<TSftpHandle> Folder = FSftp->Channel->OpenFolder(SftpRemoteText(Dir));
    if (!Folder) {
        WriteLog("[SFTP] Error: Could not open directory " + Dir);
        return false;
    }
    WriteLog("[SFTP] Info: Reading the contents of " + Dir);
    SftpReadListing(*Folder, Pattern, Item);
    return true;
}

} // namespace kivo::webcopy
