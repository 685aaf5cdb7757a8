// The web copy engine: a component that runs a list of copy jobs
// (downloads, uploads, listings, deletions, file copies) one after the other
// with a progress dialog, reporting failures through events and per-job
// result flags. Everything runs on the thread that calls Execute; the
// dialog is plain state (WcForms.h) that a view may render.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Internet.h"
#include "platform/NetShare.h"
#include "platform/ReplacingFile.h"
#include "platform/Sftp.h"
#include "runtime/Classes.h"
#include "runtime/DateTime.h"
#include "webcopy/WcForms.h"

namespace kivo::webcopy {

enum TWebCopyProtocol : uint8_t {
    wpHttp,
    wpFtp,
    wpFile,
    wpFtpUpload,
    wpHttpUpload,
    wpMultiFtp,
    wpMultiFtpUpload,
    wpFtpDelete,
    wpFtpList,
    wpFtpTest,
    wpSftp,
    wpSftpUpload,
    wpSftpDelete,
    wpSftpList
};
enum TWebCopyAuthentication : uint8_t { waNever, waAlways, waAuto };
enum TWebCopyHTTPCommand : uint8_t { hcPost, hcPut };
enum TFTPMode : uint8_t { fmBINARY, fmASCII };
enum TWebCopyAnimationType : uint8_t { atModern, atClassic };
enum TWebCopyStatus : uint8_t { wusSuccess, wusFailed };

// Error codes of OnError / OnErrorInfo that the engine itself assigns
// (HTTP statuses of 300 and above and the Internet layer's codes are the
// others). Each text is the literal followed by the path, file or server.
constexpr int32_t wceIdenticalFiles = 0;     // "Cannot copy identical files "
constexpr int32_t wceOpenSource = 1;         // "Cannot open source file "
constexpr int32_t wceZeroLengthSource = 2;   // "Zero length source file "
constexpr int32_t wceCreateFile = 3;         // "Cannot create file " / "Cannot create target file "
constexpr int32_t wceReadSource = 4;         // "Error reading source file "
constexpr int32_t wceWriteTarget = 5;        // "Error writing to destination file "
constexpr int32_t wceConnect = 6;            // "Cannot connect to server " / "... FTP server "
constexpr int32_t wceIncompleteDownload = 7; // "Incomplete download of file " + target path
extern const char* const SIncompleteDownload;

// The id of the clip resources the dialog plays.
constexpr int ClipDownload = 257;
constexpr int ClipUpload = 258;

using TStringList = std::vector<std::string>;

// A file time: 100-nanosecond intervals since 1601-01-01 in two halves.
struct FILETIME {
    uint32_t dwLowDateTime = 0;
    uint32_t dwHighDateTime = 0;
};

class TWebCopy;
class TWebCopyItems;
class TFileDetailItems;

// An item of a collection; it knows its collection and its place in it.
class TCollectionItem {
public:
    virtual ~TCollectionItem() = default;
    TCollectionItem(const TCollectionItem&) = delete;
    TCollectionItem& operator=(const TCollectionItem&) = delete;
    int Index() const { return FIndex; }
    // Copies what the concrete kind copies; other kinds of source do nothing.
    virtual void Assign(const TCollectionItem* Source) = 0;

protected:
    TCollectionItem() = default;

private:
    template <typename, typename> friend class TOwnedCollection;
    int FIndex = 0;
};

// The list behind a collection: owns its items, makes each one knowing its
// collection (CollectionT, the class deriving from this one), and keeps every
// item's Index equal to its place. EListError for an index out of range.
template <typename ItemT, typename CollectionT> class TOwnedCollection {
public:
    TOwnedCollection(const TOwnedCollection&) = delete;
    TOwnedCollection& operator=(const TOwnedCollection&) = delete;
    ItemT* Add() { return Insert(Count()); }
    ItemT* Insert(int Index) {
        if (Index < 0 || Index > Count()) throw EListError(Index);
        auto It = FItems.insert(FItems.begin() + Index,
                                std::make_unique<ItemT>(static_cast<CollectionT*>(this)));
        Renumber();
        return It->get();
    }
    ItemT* Items(int Index) const {
        if (Index < 0 || Index >= Count()) throw EListError(Index);
        return FItems[static_cast<size_t>(Index)].get();
    }
    ItemT* operator[](int Index) const { return Items(Index); }
    int Count() const { return static_cast<int>(FItems.size()); }
    void Delete(int Index) {
        if (Index < 0 || Index >= Count()) throw EListError(Index);
        FItems.erase(FItems.begin() + Index);
        Renumber();
    }
    void Clear() { FItems.clear(); }

protected:
    TOwnedCollection() = default;
    ~TOwnedCollection() = default;
    std::vector<std::unique_ptr<ItemT>> FItems;

private:
    void Renumber() {
        for (size_t I = 0; I < FItems.size(); ++I)
            FItems[I]->FIndex = static_cast<int>(I);
    }
};

class TFileDetailItem : public TCollectionItem {
public:
    explicit TFileDetailItem(TFileDetailItems* ACollection) : FCollection(ACollection) {}
    TFileDetailItems* Collection() const { return FCollection; }
    void Assign(const TCollectionItem* Source) override;

    uint32_t FileAttributes() const { return FFileAttributes; }
    void SetFileAttributes(uint32_t Value) { FFileAttributes = Value; }
    const std::string& Filename() const { return FFilename; }
    void SetFilename(const std::string& Value) { FFilename = Value; }
    uint32_t FileSizeLow() const { return FFileSizeLow; }
    void SetFileSizeLow(uint32_t Value) { FFileSizeLow = Value; }
    uint32_t FileSizeHigh() const { return FFileSizeHigh; }
    void SetFileSizeHigh(uint32_t Value) { FFileSizeHigh = Value; }
    const FILETIME& FileDate() const { return FFileDate; }
    void SetFileDate(const FILETIME& Value) { FFileDate = Value; }

private:
    TFileDetailItems* FCollection;
    uint32_t FFileAttributes = 0;
    std::string FFilename;
    uint32_t FFileSizeLow = 0, FFileSizeHigh = 0;
    FILETIME FFileDate;
};

// A collection without an owner.
class TFileDetailItems : public TOwnedCollection<TFileDetailItem, TFileDetailItems> {};

class TWebCopyItem : public TCollectionItem {
public:
    explicit TWebCopyItem(TWebCopyItems* ACollection);
    ~TWebCopyItem() override;
    TWebCopyItems* Collection() const { return FCollection; }
    // From another TWebCopyItem: every published property, no result field.
    void Assign(const TCollectionItem* Source) override;

    // Published properties.
    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    TWebCopyAuthentication Authenticate() const { return FAuthenticate; }
    void SetAuthenticate(TWebCopyAuthentication Value) { FAuthenticate = Value; }
    bool CopyNewerOnly() const { return FCopyNewerOnly; }
    void SetCopyNewerOnly(bool Value) { FCopyNewerOnly = Value; }
    const std::string& DisplayURL() const { return FDisplayURL; }
    void SetDisplayURL(const std::string& Value) { FDisplayURL = Value; }
    TDateTime FileDate() const { return FFileDate; }
    void SetFileDate(TDateTime Value) { FFileDate = Value; }
    const std::string& FTPHost() const { return FFTPHost; }
    void SetFTPHost(const std::string& Value) { FFTPHost = Value; }
    const std::string& FTPUserID() const { return FFTPUserID; }
    void SetFTPUserID(const std::string& Value) { FFTPUserID = Value; }
    const std::string& FTPPassword() const { return FFTPPassword; }
    void SetFTPPassword(const std::string& Value) { FFTPPassword = Value; }
    int32_t FTPPort() const { return FFTPPort; }
    void SetFTPPort(int32_t Value) { FFTPPort = Value; }
    TWebCopyHTTPCommand HTTPCommand() const { return FHTTPCommand; }
    void SetHTTPCommand(TWebCopyHTTPCommand Value) { FHTTPCommand = Value; }
    TWebCopyProtocol Protocol() const { return FProtocol; }
    void SetProtocol(TWebCopyProtocol Value) { FProtocol = Value; }
    const std::string& TargetDir() const { return FTargetDir; }
    void SetTargetDir(const std::string& Value) { FTargetDir = Value; }
    const std::string& TargetFilename() const { return FTargetFilename; }
    void SetTargetFilename(const std::string& Value) { FTargetFilename = Value; }
    const std::string& URL() const { return FURL; }
    void SetURL(const std::string& Value) { FURL = Value; }
    const std::string& HTTPUserID() const { return FHTTPUserID; }
    void SetHTTPUserID(const std::string& Value) { FHTTPUserID = Value; }
    const std::string& HTTPPassword() const { return FHTTPPassword; }
    void SetHTTPPassword(const std::string& Value) { FHTTPPassword = Value; }

    // Results of the last run that reached this item.
    bool Success() const { return FSuccess; }
    bool Cancelled() const { return FCancelled; }
    bool NoNewVersion() const { return FNoNewVersion; }
    TDateTime NewFileDate() const { return FNewFileDate; }
    void SetNewFileDate(TDateTime Value) { FNewFileDate = Value; }
    // Preset by the caller: the total when an HTTP server sends no length.
    uint32_t FileSize() const { return FFileSize; }
    void SetFileSize(uint32_t Value) { FFileSize = Value; }
    // Null until a listing job fills them; owned by the item.
    TStringList* FileList() const { return FFileList.get(); }
    TFileDetailItems* FileDetails() const { return FFileDetails.get(); }
    // Gives the item a new, empty listing (a listing job's first step).
    void ResetListing();

private:
    friend class TWebCopy;
    TWebCopyItems* FCollection;
    bool FActive = true;
    TWebCopyAuthentication FAuthenticate = waNever;
    bool FCopyNewerOnly = false;
    std::string FDisplayURL;
    TDateTime FFileDate = 0;
    std::string FFTPHost, FFTPUserID, FFTPPassword;
    int32_t FFTPPort = 21;
    TWebCopyHTTPCommand FHTTPCommand = hcPost;
    TWebCopyProtocol FProtocol = wpHttp;
    std::string FTargetDir, FTargetFilename, FURL, FHTTPUserID, FHTTPPassword;

    bool FSuccess = false;
    bool FCancelled = false;
    bool FNoNewVersion = false;
    TDateTime FNewFileDate = 0;
    uint32_t FFileSize = 0;
    std::unique_ptr<TStringList> FFileList;
    std::unique_ptr<TFileDetailItems> FFileDetails;
};

class TWebCopyItems : public TOwnedCollection<TWebCopyItem, TWebCopyItems> {
public:
    explicit TWebCopyItems(TWebCopy* AOwner) : FOwner(AOwner) {}
    TWebCopy* Owner() const { return FOwner; }
    // Items with Active set / with Success set.
    int ActiveItems() const;
    int SuccessCount() const;

private:
    TWebCopy* FOwner;
};

// Events. Sender is the component.
using TWebCopyBeforeDialogShow = std::function<void(TWebCopy* Sender, TForm* ADialog)>;
using TWebCopyConnectError = std::function<void(TWebCopy* Sender)>;
using TWebCopyCancel = std::function<void(TWebCopy* Sender)>;
using TWebCopyThreadDone = std::function<void(TWebCopy* Sender)>;
using TWebCopyOverwrite =
    std::function<void(TWebCopy* Sender, const std::string& tgtfile, bool& allow)>;
using TWebCopyProgress =
    std::function<void(TWebCopy* Sender, int32_t fileidx, uint32_t size, uint32_t totsize)>;
using TWebCopyError = std::function<void(TWebCopy* Sender, int32_t ErrorCode)>;
using TWebCopyErrorInfo =
    std::function<void(TWebCopy* Sender, int32_t ErrorCode, const std::string& ErrorInfo)>;
using TWebCopyFileDone = std::function<void(TWebCopy* Sender, int32_t idx)>;
using TWebCopyFileStart = std::function<void(TWebCopy* Sender, int32_t idx)>;
using TWebCopyFileDateCheck =
    std::function<void(TWebCopy* Sender, int32_t idx, TDateTime newdate, bool& allow)>;
using TWebCopyMultiFTPFileDone = std::function<void(TWebCopy* Sender, const std::string& Filename)>;
using TWebCopyURLNotFound = std::function<void(TWebCopy* Sender, const std::string& url)>;
using TWebCopyNoNewFile = std::function<void(TWebCopy* Sender, const std::string& tgtfile,
                                             TDateTime curdate, TDateTime newdate)>;
using TWebRemoveFileDone = std::function<void(TWebCopy* Sender, int32_t idx)>;
using TWebRemoveFileFailed = std::function<void(TWebCopy* Sender, int32_t idx)>;

// The login dialog as the engine reaches it: caption in, user name and
// password in and out; True when confirmed. The Qt module installs the
// real dialog, the command-line tool a terminal prompt, tests their own
// answers. Without a hook every login counts as cancelled.
using TWcLoginHook = std::function<bool(const std::string& ACaption, std::string& AUserName,
                                        std::string& APassword)>;
void SetLoginHook(TWcLoginHook Hook);
bool CallLoginHook(const std::string& ACaption, std::string& AUserName, std::string& APassword);

// "Open" for the Open file and Open folder buttons (default: xdg-open).
using TWcShellOpenHook = std::function<void(const std::string& Path)>;
void SetShellOpenHook(TWcShellOpenHook Hook);

// Runs the calls that worker threads handed to the main thread (the
// synchronise-with-main-thread service). A GUI calls it from its event
// loop when woken; waits of the engine call it themselves.
void CheckSynchronize();
// Called from a worker thread whenever a call is queued, so a GUI can wake
// its event loop and call CheckSynchronize.
void SetSynchronizeWakeup(std::function<void()> Wakeup);

class TWCopyThread;

// One job as DoCopy hands it to a protocol routine: the item's fields as the
// job starts (OnFileStart handlers may change the item before), and what the
// routine reports back for the item.
struct TWebCopyJob {
    int32_t Idx = 0;
    TWebCopyProtocol Protocol = wpHttp;
    std::string URL;
    std::string DisplayURL;
    std::string TargetDir;
    std::string TargetFilename;
    bool CopyNewerOnly = false;
    // HTTP
    std::string HTTPUserID;
    std::string HTTPPassword;
    TWebCopyAuthentication Authenticate = waNever;
    TWebCopyHTTPCommand HTTPCommand = hcPost;
    // FTP, SFTP and network shares
    std::string Host;
    std::string UserID;
    std::string Password;
    int32_t Port = 0;
    // The next job goes to the same FTP server with the same login: the
    // connection stays open for it.
    bool SameServer = false;
    // In: the item's FileDate. Out: the date of the file that was found.
    TDateTime Date = 0;
    // Out: the file was not copied because it was not newer.
    bool NoNewVersion = false;
};

class TWebCopy : public TComponent {
public:
    explicit TWebCopy(TComponent* AOwner);
    ~TWebCopy() override;

    // Published properties.
    const std::string& Agent() const { return FAgent; }
    void SetAgent(const std::string& Value) { FAgent = Value; }
    bool AlwaysOnTop() const { return FAlwaysOnTop; }
    void SetAlwaysOnTop(bool Value) { FAlwaysOnTop = Value; }
    TWebCopyAnimationType Animation() const { return FAnimation; }
    void SetAnimation(TWebCopyAnimationType Value) { FAnimation = Value; }
    bool AutoURLDecode() const { return FAutoURLDecode; }
    void SetAutoURLDecode(bool Value) { FAutoURLDecode = Value; }
    bool CreateUniqueFilenames() const { return FCreateUniqueFilenames; }
    void SetCreateUniqueFilenames(bool Value) { FCreateUniqueFilenames = Value; }
    const std::string& DlgCancel() const { return FDlgCancel; }
    void SetDlgCancel(const std::string& Value) { FDlgCancel = Value; }
    const std::string& DlgCaption() const { return FDlgCaption; }
    void SetDlgCaption(const std::string& Value) { FDlgCaption = Value; }
    const std::string& DlgCompleted() const { return FDlgCompleted; }
    void SetDlgCompleted(const std::string& Value) { FDlgCompleted = Value; }
    const std::string& DlgClose() const { return FDlgClose; }
    void SetDlgClose(const std::string& Value) { FDlgClose = Value; }
    const std::string& DlgFileLabel() const { return FDlgFileLabel; }
    void SetDlgFileLabel(const std::string& Value) { FDlgFileLabel = Value; }
    const std::string& DlgFileOfLabel() const { return FDlgFileOfLabel; }
    void SetDlgFileOfLabel(const std::string& Value) { FDlgFileOfLabel = Value; }
    const std::string& DlgFromServerLabel() const { return FDlgFromServerLabel; }
    void SetDlgFromServerLabel(const std::string& Value) { FDlgFromServerLabel = Value; }
    const std::string& DlgToServerLabel() const { return FDlgToServerLabel; }
    void SetDlgToServerLabel(const std::string& Value) { FDlgToServerLabel = Value; }
    const std::string& DlgProgressLabel() const { return FDlgProgressLabel; }
    void SetDlgProgressLabel(const std::string& Value) { FDlgProgressLabel = Value; }
    const std::string& DlgRateLabel() const { return FDlgRateLabel; }
    void SetDlgRateLabel(const std::string& Value) { FDlgRateLabel = Value; }
    const std::string& DlgTimeLabel() const { return FDlgTimeLabel; }
    void SetDlgTimeLabel(const std::string& Value) { FDlgTimeLabel = Value; }
    const std::string& DlgElapsedTimeLabel() const { return FDlgElapsedTimeLabel; }
    void SetDlgElapsedTimeLabel(const std::string& Value) { FDlgElapsedTimeLabel = Value; }
    const std::string& DlgCopying() const { return FDlgCopying; }
    void SetDlgCopying(const std::string& Value) { FDlgCopying = Value; }
    const std::string& DlgDwnload() const { return FDlgDwnload; }
    void SetDlgDwnload(const std::string& Value) { FDlgDwnload = Value; }
    const std::string& DlgUpload() const { return FDlgUpload; }
    void SetDlgUpload(const std::string& Value) { FDlgUpload = Value; }
    const std::string& DlgOpenFile() const { return FDlgOpenFile; }
    void SetDlgOpenFile(const std::string& Value) { FDlgOpenFile = Value; }
    const std::string& DlgOpenFolder() const { return FDlgOpenFolder; }
    void SetDlgOpenFolder(const std::string& Value) { FDlgOpenFolder = Value; }
    const std::string& DlgTimeSec() const { return FDlgTimeSec; }
    void SetDlgTimeSec(const std::string& Value) { FDlgTimeSec = Value; }
    const std::string& DlgTimeMin() const { return FDlgTimeMin; }
    void SetDlgTimeMin(const std::string& Value) { FDlgTimeMin = Value; }
    bool FTPPassive() const { return FFTPPassive; }
    void SetFTPPassive(bool Value) { FFTPPassive = Value; }
    TFTPMode FTPMode() const { return FFTPMode; }
    void SetFTPMode(TFTPMode Value) { FFTPMode = Value; }
    bool HTTPKeepAliveAuthentication() const { return FHTTPKeepAliveAuthentication; }
    void SetHTTPKeepAliveAuthentication(bool Value) { FHTTPKeepAliveAuthentication = Value; }
    TWebCopyItems* Items() const { return FItems.get(); }
    const std::string& Proxy() const { return FProxy; }
    void SetProxy(const std::string& Value) { FProxy = Value; }
    const std::string& ProxyUserID() const { return FProxyUserID; }
    void SetProxyUserID(const std::string& Value) { FProxyUserID = Value; }
    const std::string& ProxyPassword() const { return FProxyPassword; }
    void SetProxyPassword(const std::string& Value) { FProxyPassword = Value; }
    bool DlgShowCancel() const { return FDlgShowCancel; }
    void SetDlgShowCancel(bool Value) { FDlgShowCancel = Value; }
    bool DlgShowCloseBtn() const { return FDlgShowCloseBtn; }
    void SetDlgShowCloseBtn(bool Value) { FDlgShowCloseBtn = Value; }
    bool ShowDialog() const { return FShowDialog; }
    void SetShowDialog(bool Value) { FShowDialog = Value; }
    bool ShowDialogOnTop() const { return FShowDialogOnTop; }
    void SetShowDialogOnTop(bool Value) { FShowDialogOnTop = Value; }
    bool ShowOpenFile() const { return FShowOpenFile; }
    void SetShowOpenFile(bool Value) { FShowOpenFile = Value; }
    bool ShowOpenFolder() const { return FShowOpenFolder; }
    void SetShowOpenFolder(bool Value) { FShowOpenFolder = Value; }
    bool ShowCompletion() const { return FShowCompletion; }
    void SetShowCompletion(bool Value) { FShowCompletion = Value; }
    bool ShowElapsedTime() const { return FShowElapsedTime; }
    void SetShowElapsedTime(bool Value) { FShowElapsedTime = Value; }
    bool ShowFileName() const { return FShowFileName; }
    void SetShowFileName(bool Value) { FShowFileName = Value; }
    bool ShowServer() const { return FShowServer; }
    void SetShowServer(bool Value) { FShowServer = Value; }
    bool ShowTime() const { return FShowTime; }
    void SetShowTime(bool Value) { FShowTime = Value; }
    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t Value) { FTimeout = Value; }
    // TLS servers: certificates from a PEM file instead of the system's
    // store, or (Insecure) no verification at all.
    const std::string& CaFile() const { return FCaFile; }
    void SetCaFile(const std::string& Value) { FCaFile = Value; }
    bool Insecure() const { return FInsecure; }
    void SetInsecure(bool Value) { FInsecure = Value; }
    // 2.5.5.1, from the version constant; writing is ignored.
    std::string Version() const;
    void SetVersion(const std::string& Value);

    // Published events.
    TWebCopyBeforeDialogShow OnBeforeDialogShow;
    TWebCopyConnectError OnConnectError;
    TWebCopyCancel OnCopyCancel;
    TWebCopyThreadDone OnCopyDone;
    TWebCopyOverwrite OnCopyOverWrite;
    TWebCopyProgress OnCopyProgress;
    TWebCopyError OnError;
    TWebCopyErrorInfo OnErrorInfo;
    TWebCopyFileDone OnFileDone;
    TWebCopyFileStart OnFileStart;
    TWebCopyFileDateCheck OnFileDateCheck;
    TWebCopyMultiFTPFileDone OnMultiFTPFileDone;
    TWebCopyURLNotFound OnURLNotFound;
    TWebCopyNoNewFile OnNoNewFileFound;
    TWebRemoveFileDone OnRemovedFile;
    TWebRemoveFileFailed OnRemovedFileFailed;

    // Run-time properties: read-only views of the current dialog (null when
    // there is none).
    TForm* ProgressForm() const { return FForm; }
    TProgressBar* ProgressBar() const { return FProgress; }
    TLabel* ProgressFileLabel() const { return FFileLbl; }
    TLabel* ProgressSizeLabel() const { return FSizeLbl; }
    TLabel* ProgressRateLabel() const { return FRateLbl; }
    const std::string& RateStr() const { return FRateStr; }
    const std::string& TimeLeftStr() const { return FTimeLeftStr; }
    const std::string& ElapsedTimeStr() const { return FElapsedTimeStr; }
    bool FormClosed() const { return FFormClosed; }
    const std::string& LogfileName() const { return FLogfileName; }
    void SetLogfileName(const std::string& Value) { FLogfileName = Value; }
    int32_t SocketBuffLen() const { return FSocketBuffLen; }
    void SetSocketBuffLen(int32_t Value) { FSocketBuffLen = Value; }
    uint16_t CodePage() const { return FCodePage; }
    void SetCodePage(uint16_t Value) { FCodePage = Value; }
    // SFTP host keys: a server whose key differs from the one KnownHostsFile
    // lists for it is always refused; with StrictHostKeyChecking a server
    // the file does not list is refused too. "~/" stands for the home folder.
    bool StrictHostKeyChecking() const { return FStrictHostKeyChecking; }
    void SetStrictHostKeyChecking(bool Value) { FStrictHostKeyChecking = Value; }
    const std::string& KnownHostsFile() const { return FKnownHostsFile; }
    void SetKnownHostsFile(const std::string& Value) { FKnownHostsFile = Value; }

    // Runs DoCopy on the calling thread.
    void Execute();
    // The job loop.
    void DoCopy();
    // Hands DoCopy to the main thread through a worker thread and returns.
    void ThreadExecute();
    // ThreadExecute, then services the main thread until the copy is done.
    void ThreadExecAndWait();
    void CancelCopy() { FCancelled = true; }
    TWebCopyStatus LastUpdateStatus() const;

    // The scale factor of the dialog geometry.
    double ScaleFactor() const;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

    // One line to LogfileName: local time "hh:nn dd/mm/yyyy : " + Message,
    // in the ANSI code page, CR LF. Nothing when LogfileName is empty or the
    // file cannot be opened or created; a failed write raises EInOutError.
    void WriteLog(const std::string& Message);

    // OnError followed by OnErrorInfo, and the same as a trace line.
    void ReportError(int32_t Code, const std::string& Info);
    // ReportError with an error code of the Internet layer and its text.
    void ReportLayerError(uint32_t Code);

    // Protocol routines. Each returns whether the job succeeded.
    bool HttpDownload(TWebCopyJob& Job);
    bool HttpUpload(TWebCopyJob& Job);
    bool FileCopy(TWebCopyJob& Job);
    bool FtpDownload(TWebCopyJob& Job, bool WriteFileLine);
    bool FtpUpload(TWebCopyJob& Job);
    bool FtpMultiDownload(TWebCopyJob& Job);
    bool FtpMultiUpload(TWebCopyJob& Job);
    bool FtpDelete(TWebCopyJob& Job);
    bool FtpList(TWebCopyJob& Job);
    bool FtpTest(TWebCopyJob& Job);
    bool SftpDownload(TWebCopyJob& Job, bool WriteFileLine);
    bool SftpUpload(TWebCopyJob& Job);
    bool SftpDelete(TWebCopyJob& Job);
    bool SftpList(TWebCopyJob& Job);

    // Dialog services of the protocol routines. Each is a no-op on the
    // controls once the dialog is gone (closed through its close box).
    bool DialogAlive();
    // "N of M : " when Items holds two or more items, else empty.
    std::string CounterText() const;
    void SetFileLine(const std::string& Text);
    void SetCaptionText(const std::string& Text);
    // Starts the system file-copy clip (ResId 0) or a clip resource.
    void PlayClip(int ResId);
    void SetBarStyle(TProgressBarStyle Style);
    // The per-block update: bar (when Total > 0), size line, caption
    // percentage with CaptionWord (when ShowCompletion), rate, time left,
    // elapsed time. Done and Total are bytes; StartTick is GetTickCount64 at
    // the start of the transfer.
    void ShowTransfer(uint64_t Done, uint64_t Total, uint64_t StartTick,
                      const std::string& CaptionWord);

    // Private state the protocol routines share.
    int32_t FFileNum = 0;
    bool FCancelled = false;
    TForm* FForm = nullptr;
    TProgressBar* FProgress = nullptr;
    TLabel* FFileLbl = nullptr;
    TLabel* FSizeLbl = nullptr;
    TLabel* FRateLbl = nullptr;
    TLabel* FTimeLbl = nullptr;
    TLabel* FElapsedTimeLbl = nullptr;
    TButton* FCancelBtn = nullptr;
    TButton* FBtnShowFile = nullptr;
    TButton* FBtnShowFolder = nullptr;
    TAnimate* FAnim = nullptr;
    bool FCancelIsClose = false;
    bool FFormClosed = false;
    std::string FLastFile, FLastDir;
    HINTERNET FHinternet = nullptr;
    HINTERNET FFTPconnect = nullptr;
    std::string FPrevConnect;
    std::string FPrevTarget;
    bool FCopyCompleted = false;
    // The SFTP connection of the current job: socket, session and channel,
    // released in the reverse order.
    struct TSftpConnection {
        TTcpSocket Socket;
        std::unique_ptr<TSshSession> Session;
        std::unique_ptr<TSftpChannel> Channel;
    };
    std::unique_ptr<TSftpConnection> FSftp;

private:
    friend class TWCopyThread;

    void OpenInternetSession();
    // Steps of HttpDownload: the request (with the login dialog on 401), the
    // date check, the target's path, and the body into the target.
    TInternetHandlePtr OpenHttpRequest(TWebCopyJob& Job, const std::string& URL);
    bool RemoteDateAllows(TWebCopyJob& Job, HINTERNET Request, const std::string& FileName);
    bool ChooseDownloadPath(const TWebCopyJob& Job, HINTERNET Request, const std::string& URL,
                            std::string& Path, bool& NameUsable);
    bool ReceiveBody(int32_t Idx, TInternetHandlePtr Request, TReplacingFile& Target);
    // Reads Handle to its end, a failed read or Cancel in 4096-byte blocks
    // into Target, updating the dialog and raising OnCopyProgress after each
    // block; the bytes received.
    uint64_t ReceiveBlocks(HINTERNET Handle, uint64_t Size, TReplacingFile& Target,
                           bool& ReadFailed);
    // Steps of FileCopy: the copy once the share is connected, the date
    // check, the target (with the overwrite question), the blocks, and the
    // per-block dialog update.
    bool CopySourceFile(TWebCopyJob& Job);
    bool SourceDateAllows(TWebCopyJob& Job, TReadableFile& File, const std::string& Source);
    std::unique_ptr<TReplacingFile> OpenCopyTarget(std::string& Target);
    bool CopyBlocks(TReadableFile& In, TReplacingFile& Out, const std::string& Source,
                    uint64_t Size, uint64_t Start);
    void ShowCopyProgress(uint64_t Done, uint64_t Size, uint64_t StartTick);

    // Steps of the FTP routines: the kept connection, the file line, one
    // file fetched from or sent into the connection's current directory.
    enum TFtpOutcome : uint8_t { foDone, foSkipped, foFailed };
    static std::string FtpConnectionKey(const TWebCopyJob& Job);
    HINTERNET FtpOpenConnection(const TWebCopyJob& Job, bool AlwaysNew);
    void FtpReleaseConnection(HINTERNET Connect, bool Keep, const TWebCopyJob& Job);
    std::string FtpFileLine(const TWebCopyJob& Job, const std::string& Name, bool ToServer,
                            const std::string& Counter) const;
    TFtpOutcome FtpFetch(TWebCopyJob& Job, HINTERNET Connect, const std::string& Name);
    bool FtpRemoteDateAllows(TWebCopyJob& Job, const std::string& Name, TDateTime Remote,
                             bool Download);
    TFtpOutcome FtpReceive(TInternetHandlePtr File, uint64_t Size, bool Binary,
                           TReplacingFile& Target);
    bool FtpUploadFile(TWebCopyJob& Job, bool Keep);
    bool FtpSend(TWebCopyJob& Job, HINTERNET Connect, TFileStream& Local);
    // The job of item Idx as it starts.
    TWebCopyJob JobFor(int32_t Idx) const;
    void ShowJobCaption(TWebCopyProtocol Protocol);
    // Hands the job to the routine of its protocol.
    bool RunJob(TWebCopyJob& Job);

    void BuildDialog();
    void FinishDialog();
    void FreeDialog();
    void CancelClick();
    void OpenFileClick();
    void OpenFolderClick();
    void CloseSession();

    // Steps of the SFTP routines (WebcopySftp.cpp).
    enum TSftpRoutine : uint8_t { srDownload, srUpload, srDelete, srList };
    // The connection of a job: the kept one when it serves the same login,
    // else a new one (socket, session, authentication, channel).
    bool SftpAcquire(const TWebCopyJob& Job, TSftpRoutine Routine);
    bool SftpConnect(const TWebCopyJob& Job, TSftpRoutine Routine);
    bool SftpOpenSocket(const TWebCopyJob& Job);
    bool SftpStartSession(const TWebCopyJob& Job);
    bool SftpCheckHostKey(const TWebCopyJob& Job);
    bool SftpAuthenticate(const TWebCopyJob& Job);
    void SftpRelease();
    // Releases the connection when the job ends, unless it is kept.
    struct TSftpJobGuard {
        TWebCopy& W;
        bool Keep;
        ~TSftpJobGuard() {
            if (!Keep) W.SftpRelease();
        }
    };
    // OnError and OnErrorInfo with Code and Info, and LogLine to the trace.
    void SftpReport(int32_t Code, const std::string& Info, const std::string& LogLine);
    std::string SftpFileLine(const std::string& Name, const std::string& Host, bool Upload) const;
    // A name as it goes to the server (in CodePage) and as it comes back.
    std::string SftpRemoteText(const std::string& Text) const;
    std::string SftpLocalText(const std::string& Text) const;
    void SftpShowBlock(uint64_t Total, uint64_t Size, uint64_t StartTick);
    bool SftpNewerAllowsDownload(TWebCopyJob& Job, TDateTime RemoteDate,
                                 const std::string& FileName);
    bool SftpNewerAllowsUpload(TWebCopyJob& Job, const std::string& RemotePath,
                               const std::string& RemoteName);
    bool SftpChooseLocalPath(const TWebCopyJob& Job, const std::string& FileName,
                             std::string& Path);
    bool SftpReceive(TSftpHandle& Remote, TReplacingFile& Target, uint64_t Size,
                     const std::string& FileName);
    bool SftpSend(TStream& Source, TSftpHandle& Remote, const std::string& RemoteName);
    void SftpCheckUploadFolder(const TWebCopyJob& Job);
    bool SftpMakeDir(const std::string& Dir, bool Recursive, uint32_t Mode);
    void SftpReadListing(TSftpHandle& Folder, const std::string& Pattern, TWebCopyItem& Item);

    std::string FAgent = "WebCopy";
    bool FAlwaysOnTop = false;
    TWebCopyAnimationType FAnimation = atModern;
    bool FAutoURLDecode = false;
    bool FCreateUniqueFilenames = false;
    std::string FDlgCancel = "Cancel";
    std::string FDlgCaption = "Downloading";
    std::string FDlgCompleted = "completed";
    std::string FDlgClose = "Close";
    std::string FDlgFileLabel = "File :";
    std::string FDlgFileOfLabel = "of";
    std::string FDlgFromServerLabel = "from";
    std::string FDlgToServerLabel = "to";
    std::string FDlgProgressLabel = "Progress :";
    std::string FDlgRateLabel = "Transfer rate :";
    std::string FDlgTimeLabel = "Estimated time left :";
    std::string FDlgElapsedTimeLabel = "Elapsed time :";
    std::string FDlgCopying = "Copying";
    std::string FDlgDwnload = "Downloading";
    std::string FDlgUpload = "Uploading";
    std::string FDlgOpenFile = "Open file";
    std::string FDlgOpenFolder = "Open folder";
    std::string FDlgTimeSec = "sec";
    std::string FDlgTimeMin = "minutes";
    bool FFTPPassive = false;
    TFTPMode FFTPMode = fmBINARY;
    bool FHTTPKeepAliveAuthentication = false;
    std::unique_ptr<TWebCopyItems> FItems;
    std::string FProxy, FProxyUserID, FProxyPassword;
    bool FDlgShowCancel = true;
    bool FDlgShowCloseBtn = false;
    bool FShowDialog = true;
    bool FShowDialogOnTop = true;
    bool FShowOpenFile = false;
    bool FShowOpenFolder = false;
    bool FShowCompletion = false;
    bool FShowElapsedTime = false;
    bool FShowFileName = true;
    bool FShowServer = true;
    bool FShowTime = false;
    int32_t FTimeout = 0;
    std::string FCaFile;
    bool FInsecure = false;

    std::string FRateStr, FTimeLeftStr, FElapsedTimeStr;
    std::string FLogfileName;
    int32_t FSocketBuffLen = 65536;
    uint16_t FCodePage = 65001;
    bool FStrictHostKeyChecking = false;
    std::string FKnownHostsFile = "~/.ssh/known_hosts";

    // Reused text buffers of the per-block update, and the size text of
    // the current whole size.
    std::string FLineBuf;
    uint64_t FTotalCached = UINT64_MAX;
    std::string FTotalText;

    // Lets a worker thread's late call see that the component is gone.
    std::shared_ptr<TWebCopy*> FAlive;
};

// ---------------------------------------------------------------------------
// Texts and helpers shared by the protocol routines.

constexpr uint32_t WebCopyVersion = 0x02050501;

// x rounded to the nearest integer, halves to even.
int64_t RoundHalfEven(double X);

// "999 bytes", "1.54 Kb", "12.30 Mb", "1.07 Gb" (decimal steps, two
// decimals with the user's separator).
std::string SizeText(int64_t Bytes);
// The same with "bytes/sec", "Kb/sec", "Mb/sec", "Gb/sec".
std::string RateText(int64_t BytesPerSecond);
// The time text: from elapsed milliseconds, bytes done and total: the
// estimate of the time left when 0 < Done < Total, else the elapsed time.
std::string TimeText(uint64_t ElapsedMs, uint64_t Done, uint64_t Total, const std::string& SecWord,
                     const std::string& MinWord);

// The part of a URL after its last "/" (and after any "\" in it), query
// part included.
std::string URLFileName(std::string_view URL);
// The URL without its user information ("user:password@"), as every URL
// that reaches an event, the trace log or a tool's output is shown.
std::string URLWithoutUserInfo(std::string_view URL);
// The host of a URL: after "://", without user information, up to the
// first "/"; a port stays part of the text.
std::string URLHostName(std::string_view URL);
// The object name of a URL for an upload request.
std::string URLObjectName(std::string_view URL);
// The server text of the login caption (user information kept).
std::string URLServerText(std::string_view URL);
// Puts the proxy credentials into an http:// URL when both are set.
std::string AddProxyCredentials(std::string_view URL, const std::string& UserID,
                                const std::string& Password);
// Percent decoding with upper-case hexadecimal digits only.
std::string URLDecode(std::string_view Text);
// The first "name(n).ext" (n = 1, 2, ...) that does not exist.
std::string UniqueFileName(const std::string& Path);
// The new file a download writes beside its target (committed over it when
// whole); nullptr when the target cannot be written.
std::unique_ptr<TReplacingFile> CreateDownloadTarget(const std::string& Path);
// The local file of an upload, open for reading (through a buffer of
// BufferSize bytes when above 0); nullptr when it is missing, a folder, or
// cannot be opened.
std::unique_ptr<TFileStream> OpenUploadSource(const std::string& Path, int32_t BufferSize = 0);
// Splits "host:port" / "[v6]:port" into server and port (80 when none).
void SplitHostPort(const std::string& HostText, std::string& Server, uint16_t& Port);

} // namespace kivo::webcopy
