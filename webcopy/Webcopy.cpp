#include "webcopy/Webcopy.h"

#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "runtime/Application.h"
#include "runtime/CodePages.h"
#include "runtime/SysUtils.h"
#include "runtime/Text.h"

namespace kivo::webcopy {

const char* const SIncompleteDownload = "Incomplete download of file ";

// ---------------------------------------------------------------------------
// Hooks

namespace {

TWcLoginHook& LoginSlot() {
    static TWcLoginHook Hook;
    return Hook;
}

void DefaultShellOpen(const std::string& Path) {
    // "open" hands the path to the desktop's opener and does not wait; a
    // downloaded program goes there like any document and is never started.
    ShellOpenDocument(Path, "");
}

TWcShellOpenHook& ShellOpenSlot() {
    static TWcShellOpenHook Hook = DefaultShellOpen;
    return Hook;
}

} // namespace

void SetLoginHook(TWcLoginHook Hook) {
    LoginSlot() = std::move(Hook);
}

bool CallLoginHook(const std::string& ACaption, std::string& AUserName, std::string& APassword) {
    TWcLoginHook Hook = LoginSlot();
    return Hook ? Hook(ACaption, AUserName, APassword) : false;
}

void SetShellOpenHook(TWcShellOpenHook Hook) {
    ShellOpenSlot() = std::move(Hook);
}

// ---------------------------------------------------------------------------
// Synchronisation with the main thread

namespace {

const std::thread::id MainThreadId = std::this_thread::get_id();

struct TSyncCall {
    std::function<void()> Fn;
    bool Done = false;
    std::exception_ptr Error;
};

struct TSyncState {
    std::mutex Mutex;
    std::condition_variable Queued; // the main thread waits for calls
    std::condition_variable Done;   // workers wait for their call
    std::deque<std::shared_ptr<TSyncCall>> Queue;
    std::function<void()> Wakeup;
};

TSyncState& Sync() {
    static TSyncState State;
    return State;
}

// Runs Fn on the main thread and waits for it; rethrows what it raised.
void Synchronize(std::function<void()> Fn) {
    if (std::this_thread::get_id() == MainThreadId) {
        Fn();
        return;
    }
    TSyncState& S = Sync();
    auto Call = std::make_shared<TSyncCall>();
    Call->Fn = std::move(Fn);
    std::function<void()> Wakeup;
    {
        std::lock_guard<std::mutex> Lock(S.Mutex);
        S.Queue.push_back(Call);
        Wakeup = S.Wakeup;
    }
    S.Queued.notify_all();
    if (Wakeup) Wakeup();
    std::unique_lock<std::mutex> Lock(S.Mutex);
    S.Done.wait(Lock, [&] { return Call->Done; });
    if (Call->Error) std::rethrow_exception(Call->Error);
}

// Waits up to Ms milliseconds for a queued call.
void WaitForSynchronize(int Ms) {
    TSyncState& S = Sync();
    std::unique_lock<std::mutex> Lock(S.Mutex);
    S.Queued.wait_for(Lock, std::chrono::milliseconds(Ms), [&] { return !S.Queue.empty(); });
}

} // namespace

void CheckSynchronize() {
    if (std::this_thread::get_id() != MainThreadId) return;
    TSyncState& S = Sync();
    while (true) {
        std::shared_ptr<TSyncCall> Call;
        {
            std::lock_guard<std::mutex> Lock(S.Mutex);
            if (S.Queue.empty()) break;
            Call = S.Queue.front();
            S.Queue.pop_front();
        }
        try {
            Call->Fn();
        } catch (...) {
            Call->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> Lock(S.Mutex);
            Call->Done = true;
        }
        S.Done.notify_all();
    }
}

void SetSynchronizeWakeup(std::function<void()> Wakeup) {
    std::lock_guard<std::mutex> Lock(Sync().Mutex);
    Sync().Wakeup = std::move(Wakeup);
}

// The worker of ThreadExecute: it only hands the job loop to the main
// thread, then tells the component it is done, and frees itself.
class TWCopyThread {
public:
    TWebCopy* webcopy = nullptr;

    static void Start(TWebCopy* AWebCopy) {
        auto* Thread = new TWCopyThread;
        Thread->webcopy = AWebCopy;
        Thread->FAlive = AWebCopy->FAlive;
        std::thread([Thread] {
            Thread->Run();
            delete Thread;
        }).detach();
    }

private:
    void Run() {
        // The component may be freed before the main thread gets to a
        // call; both run on the main thread, so the check is race-free.
        try {
            Synchronize([this] {
                if (auto Alive = FAlive.lock()) webcopy->DoCopy();
            });
        } catch (...) {
            // An error of the copy ends the thread; the termination below
            // still tells the component.
        }
        try {
            Synchronize([this] {
                if (auto Alive = FAlive.lock()) webcopy->FCopyCompleted = true;
            });
        } catch (...) {
        }
    }
    std::weak_ptr<TWebCopy*> FAlive;
};

// ---------------------------------------------------------------------------
// Collections

void TFileDetailItem::Assign(const TCollectionItem* Source) {
    auto* S = dynamic_cast<const TFileDetailItem*>(Source);
    if (S == nullptr || S == this) return;
    FFileAttributes = S->FFileAttributes;
    FFilename = S->FFilename;
    FFileSizeLow = S->FFileSizeLow;
    FFileSizeHigh = S->FFileSizeHigh;
    FFileDate = S->FFileDate;
}

TWebCopyItem::TWebCopyItem(TWebCopyItems* ACollection) : FCollection(ACollection) {}
TWebCopyItem::~TWebCopyItem() = default;

void TWebCopyItem::Assign(const TCollectionItem* Source) {
    auto* S = dynamic_cast<const TWebCopyItem*>(Source);
    if (S == nullptr || S == this) return;
    FActive = S->FActive;
    FAuthenticate = S->FAuthenticate;
    FCopyNewerOnly = S->FCopyNewerOnly;
    FDisplayURL = S->FDisplayURL;
    FFileDate = S->FFileDate;
    FFTPHost = S->FFTPHost;
    FFTPUserID = S->FFTPUserID;
    FFTPPassword = S->FFTPPassword;
    FFTPPort = S->FFTPPort;
    FHTTPCommand = S->FHTTPCommand;
    FProtocol = S->FProtocol;
    FTargetDir = S->FTargetDir;
    FTargetFilename = S->FTargetFilename;
    FURL = S->FURL;
    FHTTPUserID = S->FHTTPUserID;
    FHTTPPassword = S->FHTTPPassword;
}

void TWebCopyItem::ResetListing() {
    FFileList = std::make_unique<TStringList>();
    FFileDetails = std::make_unique<TFileDetailItems>();
}

int TWebCopyItems::ActiveItems() const {
    int N = 0;
    for (const auto& I : FItems)
        N += I->Active() ? 1 : 0;
    return N;
}

int TWebCopyItems::SuccessCount() const {
    int N = 0;
    for (const auto& I : FItems)
        N += I->Success() ? 1 : 0;
    return N;
}

// ---------------------------------------------------------------------------
// Texts

int64_t RoundHalfEven(double X) {
    return static_cast<int64_t>(std::nearbyint(X));
}

namespace {

// Appends Value / Div as "%.2f" would print the double quotient (correctly
// rounded, ties to even on the exact binary value) with the user's decimal
// separator, without going through printf: the per-block update builds
// several of these texts for every 4 KiB block.
void AppendFixed2(std::string& Out, int64_t Value, int64_t Div) {
    char Buf[32];
    if (Value < 0 || Value >= (int64_t{1} << 50)) {
        Out += FormatFixed2(static_cast<double>(Value) / static_cast<double>(Div));
        return;
    }
    const int64_t Unit = Div / 100; // one hundredth
    int64_t Q = Value / Unit;
    int64_t Rem = Value % Unit;
    int64_t Half = Unit / 2;
    if (Rem > Half) {
        ++Q;
    } else if (Rem == Half) {
        // The decimal value is a tie; the double quotient lies on one side
        // of it (or exactly on it), and printf rounds that double.
        double D = static_cast<double>(Value) / static_cast<double>(Div);
        double Err = std::fma(D, static_cast<double>(Div), -static_cast<double>(Value));
        if (Err > 0 || (Err == 0 && (Q & 1) != 0)) ++Q;
    }
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Q / 100);
    Out.append(Buf, R.ptr);
    Out += DecimalSeparator();
    int Frac = static_cast<int>(Q % 100);
    Out += static_cast<char>('0' + Frac / 10);
    Out += static_cast<char>('0' + Frac % 10);
}

void AppendInt(std::string& Out, int64_t Value) {
    char Buf[24];
    auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
    Out.append(Buf, R.ptr);
}

void AppendSize(std::string& Out, int64_t N, const char* const Units[4]) {
    if (N < 1000) {
        AppendInt(Out, N);
        Out += Units[0];
    } else if (N < 1000000) {
        AppendFixed2(Out, N, 1000);
        Out += Units[1];
    } else if (N < 1000000000) {
        AppendFixed2(Out, N, 1000000);
        Out += Units[2];
    } else {
        AppendFixed2(Out, N, 1000000000);
        Out += Units[3];
    }
}

const char* const SizeUnits[4] = {" bytes", " Kb", " Mb", " Gb"};
const char* const RateUnits[4] = {" bytes/sec", " Kb/sec", " Mb/sec", " Gb/sec"};

void AppendTime(std::string& Out, uint64_t ElapsedMs, uint64_t Done, uint64_t Total,
                const std::string& SecWord, const std::string& MinWord) {
    long double Time = static_cast<long double>(ElapsedMs);
    if (Done > 0 && Total > 0 && Total > Done)
        Time = Time * static_cast<long double>(Total - Done) / static_cast<long double>(Done);
    int64_t Ms = static_cast<int64_t>(std::nearbyint(static_cast<double>(Time)));
    int64_t Sec = RoundHalfEven(static_cast<double>(Ms) / 1000.0);
    int64_t Min = RoundHalfEven(static_cast<double>(Sec) / 60.0);
    int64_t Hours = RoundHalfEven(static_cast<double>(Min) / 60.0);
    if (Min == 0 && Hours == 0) {
        AppendInt(Out, Sec);
        Out += ' ';
        Out += SecWord;
        Out += '.';
    } else if (Hours > 0) {
        AppendInt(Out, Min / 60);
        Out += "h ";
        AppendInt(Out, Min % 60);
    } else {
        AppendInt(Out, Min);
        Out += ' ';
        Out += MinWord;
        Out += '.';
    }
}

} // namespace

std::string SizeText(int64_t Bytes) {
    std::string Out;
    AppendSize(Out, Bytes, SizeUnits);
    return Out;
}

std::string RateText(int64_t BytesPerSecond) {
    std::string Out;
    AppendSize(Out, BytesPerSecond, RateUnits);
    return Out;
}

std::string TimeText(uint64_t ElapsedMs, uint64_t Done, uint64_t Total, const std::string& SecWord,
                     const std::string& MinWord) {
    std::string Out;
    AppendTime(Out, ElapsedMs, Done, Total, SecWord, MinWord);
    return Out;
}

// ---------------------------------------------------------------------------
// The component

TWebCopy::TWebCopy(TComponent* AOwner)
    : TComponent(AOwner), FItems(std::make_unique<TWebCopyItems>(this)),
      FAlive(std::make_shared<TWebCopy*>(this)) {}

TWebCopy::~TWebCopy() {
    FAlive.reset();
    FreeDialog();
    CloseSession();
}

std::string TWebCopy::Version() const {
    return Format("%u.%u.%u.%u", (WebCopyVersion >> 24) & 0xFF, (WebCopyVersion >> 16) & 0xFF,
                  (WebCopyVersion >> 8) & 0xFF, WebCopyVersion & 0xFF);
}

void TWebCopy::SetVersion(const std::string& /*Value*/) {}

double TWebCopy::ScaleFactor() const {
    auto* OwnerForm = dynamic_cast<TForm*>(Owner());
    if (OwnerForm == nullptr) return 1.0;
    if (OwnerForm->Scaled() || (ComponentState() & csDesigning) != 0)
        return OwnerForm->PixelsPerInch() / 96.0;
    return 1.0;
}

void TWebCopy::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent != nullptr && AComponent == FForm) {
        FForm = nullptr;
        FProgress = nullptr;
        FFileLbl = FSizeLbl = FRateLbl = FTimeLbl = FElapsedTimeLbl = nullptr;
        FCancelBtn = FBtnShowFile = FBtnShowFolder = nullptr;
        FAnim = nullptr;
    }
}

TWebCopyStatus TWebCopy::LastUpdateStatus() const {
    for (int I = 0; I < FItems->Count(); ++I)
        if (!FItems->Items(I)->Success()) return wusFailed;
    return wusSuccess;
}

void TWebCopy::ReportError(int32_t Code, const std::string& Info) {
    if (OnError) OnError(this, Code);
    if (OnErrorInfo) OnErrorInfo(this, Code, Info);
    WriteLog("error " + IntToStr(Code) + ":" + Info);
}

void TWebCopy::ReportLayerError(uint32_t Code) {
    ReportError(static_cast<int32_t>(Code), InternetErrorMessage(Code));
}

void TWebCopy::Execute() {
    DoCopy();
}

void TWebCopy::ThreadExecute() {
    TWCopyThread::Start(this);
}

void TWebCopy::ThreadExecAndWait() {
    FCopyCompleted = false;
    std::weak_ptr<TWebCopy*> Alive = FAlive;
    ThreadExecute();
    while (true) {
        CheckSynchronize();
        if (Alive.expired() || FCopyCompleted) break;
        ProcessMessages();
        if (Alive.expired() || FCopyCompleted) break;
        // Sleep until a call is queued (or briefly, for the message pump).
        WaitForSynchronize(10);
    }
}

void TWebCopy::CloseSession() {
    if (FFTPconnect != nullptr) {
        InternetCloseHandle(FFTPconnect);
        FFTPconnect = nullptr;
    }
    FPrevConnect.clear();
    if (FHinternet != nullptr) {
        InternetCloseHandle(FHinternet);
        FHinternet = nullptr;
    }
}

// The Internet session of the run, when any active job is not a file copy.
void TWebCopy::OpenInternetSession() {
    FHinternet = nullptr;
    int Online = 0;
    for (int I = 0; I < FItems->Count(); ++I) {
        TWebCopyItem* It = FItems->Items(I);
        if (It->Active() && It->Protocol() != wpFile) ++Online;
    }
    if (Online > 0) {
        FHinternet = InternetOpenW(
            FAgent, FProxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY,
            FProxy, std::string(), INTERNET_FLAG_NO_CACHE_WRITE);
        if (FHinternet != nullptr) {
            InternetSetAbortCheck(FHinternet, [this] { return FCancelled; });
            InternetSetOptionW(FHinternet, INTERNET_OPTION_KIVO_CA_FILE, FCaFile.data(),
                               static_cast<uint32_t>(FCaFile.size()));
            const uint32_t Insecure = FInsecure ? 1 : 0;
            InternetSetOptionW(FHinternet, INTERNET_OPTION_KIVO_INSECURE, &Insecure,
                               sizeof Insecure);
            if (FTimeout > 0) {
                uint64_t Ms64 = static_cast<uint64_t>(FTimeout) * 1000u;
                uint32_t Ms = Ms64 > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(Ms64);
                InternetSetOptionW(FHinternet, INTERNET_OPTION_CONNECT_TIMEOUT, &Ms, sizeof Ms);
                InternetSetOptionW(FHinternet, INTERNET_OPTION_SEND_TIMEOUT, &Ms, sizeof Ms);
                InternetSetOptionW(FHinternet, INTERNET_OPTION_RECEIVE_TIMEOUT, &Ms, sizeof Ms);
            }
        }
    }
}

TWebCopyJob TWebCopy::JobFor(int32_t Idx) const {
    const TWebCopyItem* It = FItems->Items(Idx);
    TWebCopyJob Job;
    Job.Idx = Idx;
    Job.Protocol = It->Protocol();
    Job.URL = It->URL();
    Job.DisplayURL = It->DisplayURL();
    Job.TargetDir = It->TargetDir();
    Job.TargetFilename = It->TargetFilename();
    Job.CopyNewerOnly = It->CopyNewerOnly();
    Job.HTTPUserID = It->HTTPUserID();
    Job.HTTPPassword = It->HTTPPassword();
    Job.Authenticate = It->Authenticate();
    Job.HTTPCommand = It->HTTPCommand();
    Job.Host = It->FTPHost();
    Job.UserID = It->FTPUserID();
    Job.Password = It->FTPPassword();
    Job.Port = It->FTPPort();
    Job.Date = It->FileDate();
    if (Idx + 1 < FItems->Count()) {
        const TWebCopyItem* Next = FItems->Items(Idx + 1);
        auto IsFtp = [](TWebCopyProtocol P) { return P == wpFtp || P == wpFtpUpload; };
        Job.SameServer = IsFtp(Job.Protocol) && IsFtp(Next->Protocol()) &&
                         Job.Host + Job.UserID + Job.Password ==
                             Next->FTPHost() + Next->FTPUserID() + Next->FTPPassword();
    }
    return Job;
}

void TWebCopy::ShowJobCaption(TWebCopyProtocol Protocol) {
    switch (Protocol) {
    case wpHttp:
    case wpFtp:
    case wpMultiFtp: SetCaptionText(FDlgDwnload + " ..."); break;
    case wpFile: SetCaptionText(FDlgCopying + " ..."); break;
    case wpFtpUpload:
    case wpHttpUpload:
    case wpMultiFtpUpload: SetCaptionText(FDlgUpload + " ..."); break;
    default: break;
    }
}

bool TWebCopy::RunJob(TWebCopyJob& Job) {
    switch (Job.Protocol) {
    case wpHttp: return HttpDownload(Job);
    case wpHttpUpload: return HttpUpload(Job);
    case wpFile: return FileCopy(Job);
    case wpFtp: return FtpDownload(Job, true);
    case wpFtpUpload: return FtpUpload(Job);
    case wpMultiFtp: return FtpMultiDownload(Job);
    case wpMultiFtpUpload: return FtpMultiUpload(Job);
    case wpFtpDelete: return FtpDelete(Job);
    case wpFtpList: return FtpList(Job);
    case wpFtpTest: return FtpTest(Job);
    case wpSftp: return SftpDownload(Job, true);
    case wpSftpUpload: return SftpUpload(Job);
    case wpSftpDelete: return SftpDelete(Job);
    case wpSftpList: return SftpList(Job);
    }
    return false;
}

void TWebCopy::DoCopy() {
    BuildDialog();
    try {
        OpenInternetSession();
        FFileNum = 0;
        FPrevTarget.clear();

        for (int Idx = 0; Idx < FItems->Count(); ++Idx) {
            TWebCopyItem* It = FItems->Items(Idx);
            if (!It->Active()) continue;
            ++FFileNum;
            if (OnFileStart) OnFileStart(this, Idx);
            if (Idx >= FItems->Count()) break;
            TWebCopyJob Job = JobFor(Idx);
            ShowJobCaption(Job.Protocol);
            const bool Ok = RunJob(Job);

            if (Idx < FItems->Count()) {
                It = FItems->Items(Idx);
                It->FNewFileDate = Job.Date;
                It->FSuccess = Ok && !FCancelled;
                It->FCancelled = FCancelled;
                It->FNoNewVersion = Job.NoNewVersion;
            }
            if (FCancelled) break;
            if (OnFileDone) OnFileDone(this, Idx);
        }
        CloseSession();
    } catch (...) {
        // A run-time error ends the run here; the dialog must not stay
        // behind as a window nobody can close.
        CloseSession();
        FCancelIsClose = true;
        if (DialogAlive()) FForm->Close();
        DialogAlive();
        throw;
    }
    FinishDialog();
}

// ---------------------------------------------------------------------------
// The progress dialog

void TWebCopy::FreeDialog() {
    if (FForm != nullptr) delete FForm; // Notification clears the pointers
}

bool TWebCopy::DialogAlive() {
    if (FForm != nullptr && FForm->Released()) FreeDialog();
    return FForm != nullptr;
}

void TWebCopy::BuildDialog() {
    FreeDialog(); // a dialog an earlier run left open for its Open buttons
    const double S = ScaleFactor();
    auto R = [S](double X) { return static_cast<int>(RoundHalfEven(X * S)); };
    const int L = R(20);
    const int E = L * ((FShowTime ? 1 : 0) + (FShowElapsedTime ? 1 : 0));

    FForm = new TForm(this);
    TForm* F = FForm;
    F->SetNonClientMetrics(R(TForm::SystemCaptionHeight), R(TForm::SystemDialogFrame));
    F->SetWidth(R(300));
    F->SetHeight(R(TForm::SystemCaptionHeight + E + 188) - (FDlgShowCancel ? 0 : L));
    F->SetPosition(poScreenCenter);
    F->SetBorderStyle(bsDialog);
    F->SetDoubleBuffered(true);
    F->SetFormStyle(FShowDialogOnTop ? fsStayOnTop : fsNormal);
    F->SetSystemMenu(FDlgShowCloseBtn);
    F->OnCloseQuery = [this](bool& CanClose) { CanClose = FDlgShowCloseBtn || FCancelIsClose; };
    F->OnClose = [](TCloseAction& Action) { Action = caFree; };
    const int CW = F->ClientWidth();

    FAnim = new TAnimate(F, "Animate");
    FAnim->SetBounds(10, 0, 272, 50);
    if (FAnimation == atModern)
        FAnim->SetCommonAVI(aviCopyFile);
    else
        FAnim->SetResId(ClipDownload);

    FProgress = new TProgressBar(F, "ProgressBar");
    FProgress->SetBounds(10, R(60), CW - 20, R(12));

    const int B = FShowFileName ? R(80) : R(60);
    FFileLbl = new TLabel(F, "FileLabel");
    FFileLbl->SetAutoSize(false);
    FFileLbl->SetEllipsisPosition(epPathEllipsis);
    FFileLbl->SetBounds(10, B, CW - R(20), L);
    FFileLbl->SetVisible(FShowFileName);

    auto Line = [&](const char* Name, int Slot, const std::string& Text) {
        auto* Lbl = new TLabel(F, Name);
        Lbl->SetBounds(10, B + Slot * L, 0, 0);
        Lbl->SetCaption(Text);
        return Lbl;
    };
    FSizeLbl = Line("SizeLabel", 1, FDlgProgressLabel);
    FRateLbl = Line("RateLabel", 2, FDlgRateLabel);
    FTimeLbl = Line("TimeLabel", 3, FDlgTimeLabel);
    FTimeLbl->SetVisible(FShowTime);
    FElapsedTimeLbl = Line("ElapsedTimeLabel", 4, FDlgElapsedTimeLabel);
    FElapsedTimeLbl->SetVisible(FShowElapsedTime);

    const int Row = E + (FShowFileName ? R(140) : R(120));
    const int CancelWidth = 75;
    FCancelBtn = new TButton(F, "CancelButton");
    FCancelBtn->SetBounds(CW - R(CancelWidth + 10), Row, CancelWidth, R(25));
    FCancelBtn->SetCaption(FDlgCancel);
    FCancelBtn->SetCancel(true);
    FCancelBtn->SetVisible(FDlgShowCancel);
    FCancelBtn->OnClick = [this] { CancelClick(); };
    if (FShowOpenFolder) {
        FBtnShowFolder = new TButton(F, "OpenFolderButton");
        FBtnShowFolder->SetBounds(CW - R(2 * CancelWidth + 20), Row, CancelWidth, R(25));
        FBtnShowFolder->SetCaption(FDlgOpenFolder);
        FBtnShowFolder->SetEnabled(false);
        FBtnShowFolder->OnClick = [this] { OpenFolderClick(); };
    }
    if (FShowOpenFile) {
        int Left = CW - R(2 * CancelWidth + 20);
        if (FShowOpenFolder) Left -= R(CancelWidth + 10);
        FBtnShowFile = new TButton(F, "OpenFileButton");
        FBtnShowFile->SetBounds(Left, Row, CancelWidth, R(25));
        FBtnShowFile->SetCaption(FDlgOpenFile);
        FBtnShowFile->SetEnabled(false);
        FBtnShowFile->OnClick = [this] { OpenFileClick(); };
    }

    F->SetCaption(FDlgCaption + " ...");
    FFormClosed = false;
    FCancelIsClose = false;
    FCancelled = false;
    FAnim->SetActive(true);
    if (FShowDialog) {
        if (OnBeforeDialogShow) OnBeforeDialogShow(this, F);
        if (DialogAlive()) {
            FForm->Show();
            if (FAlwaysOnTop) FForm->MakeTopmost();
        }
    }
    FCancelled = false;
}

void TWebCopy::FinishDialog() {
    if (FShowOpenFile || FShowOpenFolder) {
        if (OnCopyDone) OnCopyDone(this);
        FCancelIsClose = true;
        if (DialogAlive()) {
            FCancelBtn->SetCaption(FDlgClose);
            FAnim->SetActive(false);
            if (!FCancelled) {
                if (FBtnShowFile != nullptr) FBtnShowFile->SetEnabled(true);
                if (FBtnShowFolder != nullptr) FBtnShowFolder->SetEnabled(true);
            }
        }
    } else {
        FCancelIsClose = true;
        if (DialogAlive()) FForm->Close();
        DialogAlive();
        ProcessMessages();
        if (OnCopyDone) OnCopyDone(this);
    }
}

void TWebCopy::CancelClick() {
    if (OnCopyCancel) OnCopyCancel(this);
    FCancelled = true;
    if (FForm != nullptr) FForm->Close();
}

void TWebCopy::OpenFileClick() {
    TWcShellOpenHook Hook = ShellOpenSlot();
    if (Hook) Hook(FLastFile);
    if (FForm != nullptr) FForm->Close();
    FFormClosed = true;
}

void TWebCopy::OpenFolderClick() {
    TWcShellOpenHook Hook = ShellOpenSlot();
    if (Hook) Hook(FLastDir);
    if (FForm != nullptr) FForm->Close();
    FFormClosed = true;
}

std::string TWebCopy::CounterText() const {
    if (FItems->Count() < 2) return std::string();
    return IntToStr(FFileNum) + " " + FDlgFileOfLabel + " " + IntToStr(FItems->ActiveItems()) +
           " : ";
}

void TWebCopy::SetFileLine(const std::string& Text) {
    if (DialogAlive()) FFileLbl->SetCaption(Text);
}

void TWebCopy::SetCaptionText(const std::string& Text) {
    if (DialogAlive()) FForm->SetCaption(Text);
}

void TWebCopy::PlayClip(int ResId) {
    if (!DialogAlive()) return;
    if (ResId == 0)
        FAnim->SetCommonAVI(aviCopyFile);
    else
        FAnim->SetResId(ResId);
    FAnim->SetActive(true);
}

void TWebCopy::SetBarStyle(TProgressBarStyle Style) {
    if (DialogAlive()) FProgress->SetStyle(Style);
}

void TWebCopy::ShowTransfer(uint64_t Done, uint64_t Total, uint64_t StartTick,
                            const std::string& CaptionWord) {
    const bool Alive = DialogAlive();
    std::string& T = FLineBuf;
    if (Total > 0 && Alive)
        FProgress->SetPosition(static_cast<int>(
            RoundHalfEven(static_cast<double>(Done) / static_cast<double>(Total) * 100.0)));

    T.assign(FDlgProgressLabel);
    T += ' ';
    AppendSize(T, static_cast<int64_t>(Done), SizeUnits);
    if (Total > 0) {
        if (Total != FTotalCached) {
            FTotalCached = Total;
            FTotalText = SizeText(static_cast<int64_t>(Total));
        }
        T += ' ';
        T += FDlgFileOfLabel;
        T += ' ';
        T += FTotalText;
    }
    if (Alive) FSizeLbl->SetCaption(T);

    if (FShowCompletion && Alive) {
        T.assign(CaptionWord);
        T += " : ";
        AppendInt(T, FProgress->Position());
        T += "% ";
        T += FDlgCompleted;
        FForm->SetCaption(T);
    }

    uint64_t Elapsed = GetTickCount64() - StartTick;
    int64_t Rate =
        RoundHalfEven(static_cast<double>(Done) / static_cast<double>(Elapsed + 1) * 1000.0);
    FRateStr.clear();
    AppendSize(FRateStr, Rate, RateUnits);
    if (Alive) {
        T.assign(FDlgRateLabel);
        T += ' ';
        T += FRateStr;
        FRateLbl->SetCaption(T);
    }

    Elapsed = GetTickCount64() - StartTick;
    FTimeLeftStr.clear();
    AppendTime(FTimeLeftStr, Elapsed, Done, Total, FDlgTimeSec, FDlgTimeMin);
    if (Alive) {
        T.assign(FDlgTimeLabel);
        T += ' ';
        T += FTimeLeftStr;
        FTimeLbl->SetCaption(T);
    }

    Elapsed = GetTickCount64() - StartTick;
    FElapsedTimeStr.clear();
    AppendTime(FElapsedTimeStr, Elapsed, 0, Total, FDlgTimeSec, FDlgTimeMin);
    if (Alive) {
        T.assign(FDlgElapsedTimeLabel);
        T += ' ';
        T += FElapsedTimeStr;
        FElapsedTimeLbl->SetCaption(T);
    }
}

// ---------------------------------------------------------------------------
// The log sink

void TWebCopy::WriteLog(const std::string& Message) {
    if (FLogfileName.empty()) return;
    const char DateSep = DateSeparator();
    const char TimeSep = TimeSeparator();
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, MSec = 0;
    DecodeDateTime(Now(), Year, Month, Day, Hour, Minute, Second, MSec);
    std::string Line = Format("%02d%c%02d %02d%c%02d%c%04d : ", Hour, TimeSep, Minute, Day, DateSep,
                              Month, DateSep, Year);
    Line += Utf8ToAnsi(Message);
    Line += "\r\n";
    // A log that cannot be opened is skipped; one that fails while written to is an error.
    const TAppendResult Result = AppendToFile(FLogfileName, Line);
    if (Result.Opened && Result.Error != 0) throw EInOutError(Result.Error);
}

} // namespace kivo::webcopy
