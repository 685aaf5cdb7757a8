// The FTP routines of TWebCopy: single and multi-file downloads and uploads,
// deletion, listing and the connection test, with the connection kept
// between consecutive jobs on the same server and login.
#include <array>

#include "platform/FileSystem.h"
#include "platform/FtpListing.h"
#include "platform/ReplacingFile.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {

using THandle = TInternetHandlePtr;

// 100-nanosecond steps between 1601-01-01 and 1899-12-30.
constexpr double FileTimeEpochDays = 109205.0;
constexpr double FileTimeStepsPerDay = 864000000000.0;

TDateTime FileTimeToDateTime(const INTERNET_FILETIME& Time) {
    const uint64_t Steps = (static_cast<uint64_t>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime;
    return static_cast<double>(Steps) / FileTimeStepsPerDay - FileTimeEpochDays;
}

std::string Slashes(std::string Text) {
    for (char& C : Text)
        if (C == '\\') C = '/';
    return Text;
}

// The directory part of a remote path: up to and including its last "/".
std::string RemoteDirectoryOf(const std::string& Path) {
    const size_t Slash = Path.rfind('/');
    return Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
}

uint64_t EntrySize(const WIN32_FIND_DATAW& Data) {
    return (static_cast<uint64_t>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
}

// The entry of exactly this name in the connection's current directory.
// Enters the folder a listing or multi-file URL (in slashes) names; a URL
// without a folder part lists the login folder.
bool EnterListedFolder(HINTERNET Connect, const std::string& URL) {
    const std::string Dir = RemoteDirectoryOf(URL);
    return Dir.empty() || FtpSetCurrentDirectoryW(Connect, Dir);
}

bool FindRemoteEntry(HINTERNET Connect, const std::string& Name, WIN32_FIND_DATAW& Data) {
    THandle Find(FtpFindFirstFileW(Connect, Name, Data, INTERNET_FLAG_RELOAD, 0));
    if (!Find) return false;
    do {
        if (Data.cFileName == Name) return true;
    } while (InternetFindNextFileW(Find.get(), Data));
    return false;
}

// Changes into Dir; when that fails, walks it one component at a time and
// makes each missing level. False when a level can be neither entered nor
// made.
bool EnterOrCreateDirectory(HINTERNET Connect, const std::string& Dir) {
    if (FtpSetCurrentDirectoryW(Connect, Dir)) return true;
    const std::string Path = Slashes(Dir);
    if (!Path.empty() && Path[0] == '/' && !FtpSetCurrentDirectoryW(Connect, "/")) return false;
    size_t P = 0;
    while (P < Path.size()) {
        size_t E = Path.find('/', P);
        if (E == std::string::npos) E = Path.size();
        const std::string Part = Path.substr(P, E - P);
        P = E + 1;
        if (Part.empty()) continue;
        if (FtpSetCurrentDirectoryW(Connect, Part)) continue;
        if (!FtpCreateDirectoryW(Connect, Part) || !FtpSetCurrentDirectoryW(Connect, Part))
            return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Connections

std::string TWebCopy::FtpConnectionKey(const TWebCopyJob& Job) {
    // The port is part of the key: another port is another server.
    return Job.Host + Job.UserID + Job.Password + ":" + IntToStr(Job.Port);
}

HINTERNET TWebCopy::FtpOpenConnection(const TWebCopyJob& Job, bool AlwaysNew) {
    const bool Passive = FFTPPassive;
    ProcessMessages();
    if (!AlwaysNew && FFTPconnect != nullptr && FPrevConnect == FtpConnectionKey(Job))
        return FFTPconnect;
    const bool Anonymous = Job.UserID.empty() || Job.Password.empty();
    HINTERNET Connect = InternetConnectW(
        FHinternet, Job.Host,
        static_cast<uint16_t>(Job.Port > 0 && Job.Port < 65536 ? Job.Port : 0),
        Anonymous ? std::string() : Job.UserID, Anonymous ? std::string() : Job.Password,
        INTERNET_SERVICE_FTP, Passive ? INTERNET_FLAG_PASSIVE : 0, 0);
    if (Connect == nullptr) {
        if (!FCancelled) ReportError(wceConnect, "Cannot connect to FTP server " + Job.Host);
        return nullptr;
    }
    return Connect;
}

void TWebCopy::FtpReleaseConnection(HINTERNET Connect, bool Keep, const TWebCopyJob& Job) {
    if (Keep && !FCancelled) {
        if (FFTPconnect != nullptr && FFTPconnect != Connect) InternetCloseHandle(FFTPconnect);
        FFTPconnect = Connect;
        FPrevConnect = FtpConnectionKey(Job);
        return;
    }
    // Nobody can reach a kept connection once its key is cleared: it goes too.
    if (FFTPconnect != nullptr && FFTPconnect != Connect) InternetCloseHandle(FFTPconnect);
    InternetCloseHandle(Connect);
    FFTPconnect = nullptr;
    FPrevConnect.clear();
}

std::string TWebCopy::FtpFileLine(const TWebCopyJob& Job, const std::string& Name, bool ToServer,
                                  const std::string& Counter) const {
    std::string Line = FDlgFileLabel + " " + Counter + Name;
    if (ToServer)
        Line += " " + FDlgToServerLabel + " " + Job.Host;
    else if (FShowServer)
        Line += " " + FDlgFromServerLabel + " " + Job.Host;
    return Line;
}

// ---------------------------------------------------------------------------
// Downloads

bool TWebCopy::FtpDownload(TWebCopyJob& Job, bool WriteFileLine) {
    Job.NoNewVersion = false;
    FCancelled = false;
    if (WriteFileLine) SetFileLine(FtpFileLine(Job, URLFileName(Job.URL), false, CounterText()));
    HINTERNET Connect = FtpOpenConnection(Job, false);
    if (Connect == nullptr) return false;

    const std::string URL = Slashes(Job.URL);
    const std::string Dir = RemoteDirectoryOf(URL);
    std::string Saved;
    bool Changed = false;
    TFtpOutcome Outcome = foFailed;
    if (!Dir.empty()) {
        FtpGetCurrentDirectoryW(Connect, Saved);
        Changed = FtpSetCurrentDirectoryW(Connect, Dir);
    }
    if (Dir.empty() || Changed) {
        Outcome = FtpFetch(Job, Connect, URLFileName(URL));
    } else if (OnURLNotFound) {
        OnURLNotFound(this, Job.URL);
    }
    if (Job.SameServer && !FCancelled && Changed)
        FtpSetCurrentDirectoryW(Connect, Saved.empty() ? "/" : Saved);
    FtpReleaseConnection(Connect, Job.SameServer, Job);
    return Outcome == foDone;
}

TWebCopy::TFtpOutcome TWebCopy::FtpFetch(TWebCopyJob& Job, HINTERNET Connect,
                                         const std::string& Name) {
    WIN32_FIND_DATAW Entry;
    const bool Found = !Name.empty() && FindRemoteEntry(Connect, Name, Entry);
    uint64_t Size = Found ? EntrySize(Entry) : 0;
    if (Found && (Job.CopyNewerOnly || OnFileDateCheck) &&
        !FtpRemoteDateAllows(Job, Name, FileTimeToDateTime(Entry.ftLastWriteTime), true))
        return foSkipped;

    const uint32_t Type = FFTPMode == fmASCII ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
    THandle File;
    if (Found)
        File.reset(FtpOpenFileW(Connect, Name, GENERIC_READ_ACCESS,
                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                    INTERNET_FLAG_RESYNCHRONIZE | Type,
                                0));
    if (!File) {
        if (FCancelled) return foFailed;
        if (OnURLNotFound) OnURLNotFound(this, Job.URL);
        return foFailed;
    }
    // The size the server gives as the transfer starts is the one the data
    // must have; the listing's may be older.
    uint32_t High = 0;
    const uint32_t Low = FtpGetFileSize(File.get(), &High);
    if (!(Low == 0xFFFFFFFFu && High == 0xFFFFFFFFu))
        Size = (static_cast<uint64_t>(High) << 32) | Low;

    std::string Path =
        JoinPath(Job.TargetDir, Job.TargetFilename.empty() ? Name : Job.TargetFilename);
    FLastFile = Path;
    FLastDir = Job.TargetDir;
    if (FileExists(Path)) {
        bool Allow = true;
        if (OnCopyOverWrite) OnCopyOverWrite(this, Path, Allow);
        if (!Allow) return foSkipped;
        if (FCreateUniqueFilenames) FLastFile = Path = UniqueFileName(Path);
    }
    (void)ForceDirectories(ExtractFilePath(Path));
    std::unique_ptr<TReplacingFile> Target = CreateDownloadTarget(Path);
    if (!Target) {
        File.reset();
        ReportError(wceCreateFile, "Cannot create target file " + Path);
        return foFailed;
    }
    return FtpReceive(std::move(File), Size, Type == FTP_TRANSFER_TYPE_BINARY, *Target);
}

bool TWebCopy::FtpRemoteDateAllows(TWebCopyJob& Job, const std::string& Name, TDateTime Remote,
                                   bool Download) {
    if (OnFileDateCheck) {
        bool Allow = true;
        OnFileDateCheck(this, Job.Idx, Remote, Allow);
        Job.Date = Remote;
        return Allow;
    }
    // A download needs a newer remote file; an upload is refused only by a
    // newer remote file.
    const bool Newer = Download ? Job.Date < Remote : !(Remote > Job.Date);
    Job.Date = Remote;
    if (Newer) return true;
    Job.NoNewVersion = true;
    if (OnNoNewFileFound) OnNoNewFileFound(this, Name, Remote, Remote);
    return false;
}

TWebCopy::TFtpOutcome TWebCopy::FtpReceive(TInternetHandlePtr File, uint64_t Size, bool Binary,
                                           TReplacingFile& Target) {
    bool ReadFailed = false;
    const uint64_t Total = ReceiveBlocks(File.get(), Size, Target, ReadFailed);
    File.reset();

    // Only a whole file replaces the target; otherwise the file the user
    // had stays. A binary transfer must bring the size the server listed.
    if (FCancelled) return foFailed;
    if (ReadFailed || (Binary && Size > 0 && Total != Size)) {
        ReportError(wceIncompleteDownload, SIncompleteDownload + Target.TargetName());
        return foFailed;
    }
    try {
        Target.Commit();
    } catch (const EFCreateError&) {
        ReportError(wceCreateFile, "Cannot create target file " + Target.TargetName());
        return foFailed;
    }
    return foDone;
}

bool TWebCopy::FtpMultiDownload(TWebCopyJob& Job) {
    Job.NoNewVersion = false;
    SetFileLine(FtpFileLine(Job, URLFileName(Job.URL), false, CounterText()));
    HINTERNET Connect = FtpOpenConnection(Job, true);
    if (Connect == nullptr) return false;

    // Every file is fetched from the directory that was listed, through the
    // job's own connection.
    const std::string URL = Slashes(Job.URL);
    bool Ok = EnterListedFolder(Connect, URL);
    if (!Ok && OnURLNotFound) OnURLNotFound(this, Job.URL);
    std::vector<std::string> Names;
    if (Ok) {
        WIN32_FIND_DATAW Data;
        THandle Find(FtpFindFirstFileW(Connect, URLFileName(URL), Data, INTERNET_FLAG_RELOAD, 0));
        if (Find) do {
                if ((Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY_VALUE) == 0)
                    Names.push_back(Data.cFileName);
            } while (InternetFindNextFileW(Find.get(), Data));
    }
    const std::string Of =
        " " + FDlgFileOfLabel + " " + IntToStr(static_cast<int64_t>(Names.size())) + " : ";
    for (size_t I = 0; I < Names.size() && !FCancelled; ++I) {
        SetFileLine(FtpFileLine(Job, Names[I], false, IntToStr(static_cast<int64_t>(I + 1)) + Of));
        TWebCopyJob File = Job;
        File.Idx = static_cast<int32_t>(I);
        File.URL = Names[I];
        File.TargetFilename = Names[I];
        const TFtpOutcome Outcome = FtpFetch(File, Connect, Names[I]);
        Job.NoNewVersion = File.NoNewVersion;
        if (Outcome == foFailed) Ok = false;
        if (OnMultiFTPFileDone) OnMultiFTPFileDone(this, Names[I]);
    }
    FtpReleaseConnection(Connect, false, Job);
    return Ok;
}

// ---------------------------------------------------------------------------
// Uploads

bool TWebCopy::FtpUpload(TWebCopyJob& Job) {
    return FtpUploadFile(Job, false);
}

bool TWebCopy::FtpUploadFile(TWebCopyJob& Job, bool Keep) {
    WriteLog("start ftp upload");
    Job.NoNewVersion = false;
    if (!Keep) FCancelled = false;
    PlayClip(ClipUpload);
    SetFileLine(FtpFileLine(Job, URLFileName(Job.URL), true, CounterText()));

    // The source is opened before the server is touched, so a missing one
    // leaves no empty file there.
    const std::string Source = Job.URL;
    // Read in 4096-byte blocks from a 256 KiB buffer: few system calls.
    std::unique_ptr<TFileStream> Local = OpenUploadSource(Source, 256 * 1024);
    if (!Local) {
        if (OnURLNotFound) OnURLNotFound(this, Source);
        ReportError(wceOpenSource, "Cannot open source file " + Source);
        return false;
    }
    const bool Reused = FFTPconnect != nullptr && FPrevConnect == FtpConnectionKey(Job);
    HINTERNET Connect = FtpOpenConnection(Job, false);
    if (Connect == nullptr) return false;
    if (!Reused) FPrevTarget.clear();
    WriteLog("connected to server:" + Job.Host);

    bool Ok = true;
    if (!Job.TargetDir.empty() && Job.TargetDir != FPrevTarget) {
        FPrevTarget = Keep ? Job.TargetDir : std::string();
        if (!EnterOrCreateDirectory(Connect, Job.TargetDir)) {
            FPrevTarget.clear();
            Ok = false;
        }
    }
    if (Ok) Ok = FtpSend(Job, Connect, *Local);
    FtpReleaseConnection(Connect, Keep, Job);
    WriteLog("done ftp upload");
    return Ok;
}

bool TWebCopy::FtpSend(TWebCopyJob& Job, HINTERNET Connect, TFileStream& Local) {
    const std::string Name = Job.TargetFilename.empty() ? URLFileName(Job.URL) : Job.TargetFilename;
    if (Job.CopyNewerOnly || OnFileDateCheck) {
        WIN32_FIND_DATAW Entry;
        if (FindRemoteEntry(Connect, Name, Entry)) {
            bool Allow = true;
            if (OnCopyOverWrite) OnCopyOverWrite(this, Name, Allow);
            if (!Allow ||
                !FtpRemoteDateAllows(Job, Name, FileTimeToDateTime(Entry.ftLastWriteTime), false))
                return false;
        }
    }
    const uint32_t Type = FFTPMode == fmASCII ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
    THandle File(FtpOpenFileW(Connect, Name, GENERIC_WRITE_ACCESS, Type, 0));
    if (!File) {
        if (!FCancelled && OnURLNotFound) OnURLNotFound(this, Job.URL);
        return false;
    }
    FLastFile = Job.URL;
    FLastDir = Job.TargetDir;

    const int64_t Size = Local.Size();
    WriteLog("start to upload file:" + Job.URL);
    WriteLog("filesize:" + IntToStr(Size));
    const uint64_t Start = GetTickCount64();
    std::array<uint8_t, 4096> Buffer;
    uint64_t Total = 0;
    uint32_t Written = 0;
    bool WriteFailed = false;
    do {
        ProcessMessages();
        const int64_t Got = Local.Read(Buffer.data(), static_cast<int64_t>(Buffer.size()));
        if (!InternetWriteFile(File.get(), Buffer.data(), static_cast<uint32_t>(Got), Written)) {
            WriteFailed = true;
            break;
        }
        Total += Written;
        WriteLog("uploaded:" + IntToStr(static_cast<int64_t>(Total)));
        ShowTransfer(Total, static_cast<uint64_t>(Size), Start, FDlgUpload);
        if (OnCopyProgress)
            OnCopyProgress(this, FFileNum, static_cast<uint32_t>(Total),
                           static_cast<uint32_t>(Size));
        ProcessMessages();
    } while (Written > 0 && !FCancelled);

    // Closing the remote file ends the upload; the server's answer says
    // whether it took the file whole.
    uint32_t Code = WriteFailed ? GetLastError() : 0;
    const bool Closed = InternetCloseHandle(File.release());
    if (!Closed && Code == 0) Code = GetLastError();
    WriteLog("done upload:" + IntToStr(static_cast<int64_t>(Total)));
    if (FCancelled) return false;
    if (Code != 0) {
        ReportLayerError(Code);
        return false;
    }
    return Total == static_cast<uint64_t>(Size);
}

bool TWebCopy::FtpMultiUpload(TWebCopyJob& Job) {
    Job.NoNewVersion = false;
    PlayClip(ClipUpload);
    SetFileLine(FtpFileLine(Job, URLFileName(Job.URL), true, CounterText()));
    FPrevTarget.clear();
    HINTERNET Connect = FtpOpenConnection(Job, true);
    if (Connect == nullptr) return false;
    if (!EnterOrCreateDirectory(Connect, Job.TargetDir)) {
        FtpReleaseConnection(Connect, false, Job);
        return false;
    }
    // The files go through this connection, already in the target folder.
    FtpReleaseConnection(Connect, true, Job);
    FPrevTarget = Job.TargetDir;

    const std::string Folder = ExtractFilePath(Job.URL);
    const std::string Pattern = ExtractFileName(Job.URL);
    std::vector<std::string> Names;
    bool Ok = ListFolderNames(Folder.empty() ? "." : Folder, Names);
    for (const std::string& Name : Names) {
        if (FCancelled) break;
        const std::string Path = Folder + Name;
        if (!FtpNameMatches(Pattern, Name) || DirectoryExists(Path)) continue;
        TWebCopyJob File = Job;
        File.URL = Path;
        File.TargetFilename = Name;
        if (!FtpUploadFile(File, true)) Ok = false;
        Job.NoNewVersion = File.NoNewVersion;
        if (OnMultiFTPFileDone) OnMultiFTPFileDone(this, Name);
    }
    if (FFTPconnect != nullptr) FtpReleaseConnection(FFTPconnect, false, Job);
    FPrevTarget.clear();
    return Ok && !FCancelled;
}

// ---------------------------------------------------------------------------
// Deletion, listing, connection test

bool TWebCopy::FtpDelete(TWebCopyJob& Job) {
    PlayClip(ClipUpload);
    SetFileLine(FtpFileLine(Job, URLFileName(Job.URL), true, CounterText()));
    const bool Reused = FFTPconnect != nullptr && FPrevConnect == FtpConnectionKey(Job);
    HINTERNET Connect = FtpOpenConnection(Job, false);
    if (Connect == nullptr) return false;
    if (!Reused) FPrevTarget.clear();
    bool Entered = true;
    if (!Job.TargetDir.empty() && Job.TargetDir != FPrevTarget) {
        FPrevTarget = Job.SameServer ? Job.TargetDir : std::string();
        Entered = FtpSetCurrentDirectoryW(Connect, Slashes(Job.TargetDir));
        if (!Entered) FPrevTarget.clear();
    }
    if (Entered) {
        const std::string Name =
            Job.TargetFilename.empty() ? URLFileName(Job.URL) : Job.TargetFilename;
        if (FtpDeleteFileW(Connect, Name)) {
            if (OnRemovedFile) OnRemovedFile(this, Job.Idx);
        } else if (OnRemovedFileFailed) {
            OnRemovedFileFailed(this, Job.Idx);
        }
    }
    FtpReleaseConnection(Connect, Job.SameServer, Job);
    return Entered;
}

bool TWebCopy::FtpList(TWebCopyJob& Job) {
    Job.NoNewVersion = false;
    SetFileLine(FtpFileLine(Job, URLFileName(Job.URL), false, CounterText()));
    HINTERNET Connect = FtpOpenConnection(Job, true);
    if (Connect == nullptr) return false;
    const std::string URL = Slashes(Job.URL);
    bool Ok = EnterListedFolder(Connect, URL);
    if (!Ok) {
        if (OnURLNotFound) OnURLNotFound(this, Job.URL);
    } else {
        TWebCopyItem* Item = FItems->Items(Job.Idx);
        Item->ResetListing();
        WIN32_FIND_DATAW Data;
        THandle Find(FtpFindFirstFileW(Connect, URLFileName(URL), Data, INTERNET_FLAG_RELOAD, 0));
        const uint32_t Code = Find ? 0 : GetLastError();
        if (!Find && Code != ERROR_NO_MORE_FILES_VALUE) {
            Ok = false;
            if (!FCancelled) ReportLayerError(Code);
        }
        // The file line counts the entries as they are taken.
        for (int32_t Count = 1; Find; ++Count) {
            Item->FileList()->push_back(Data.cFileName);
            TFileDetailItem* Detail = Item->FileDetails()->Add();
            Detail->SetFilename(Data.cFileName);
            Detail->SetFileAttributes(Data.dwFileAttributes);
            Detail->SetFileSizeLow(Data.nFileSizeLow);
            Detail->SetFileSizeHigh(Data.nFileSizeHigh);
            FILETIME Time;
            Time.dwLowDateTime = Data.ftLastWriteTime.dwLowDateTime;
            Time.dwHighDateTime = Data.ftLastWriteTime.dwHighDateTime;
            Detail->SetFileDate(Time);
            if (Count > 1)
                SetFileLine(FDlgFileLabel + " " + IntToStr(Count) + " : " + Data.cFileName);
            if (!InternetFindNextFileW(Find.get(), Data)) break;
        }
    }
    FtpReleaseConnection(Connect, false, Job);
    return Ok;
}

bool TWebCopy::FtpTest(TWebCopyJob& Job) {
    PlayClip(ClipUpload);
    const bool Reused = FFTPconnect != nullptr && FPrevConnect == FtpConnectionKey(Job);
    HINTERNET Connect = FtpOpenConnection(Job, false);
    if (Connect == nullptr) return false;
    if (!Reused) FPrevTarget.clear();
    FtpReleaseConnection(Connect, false, Job);
    return true;
}

} // namespace kivo::webcopy
