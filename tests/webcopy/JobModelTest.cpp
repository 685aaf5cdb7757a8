// The component, its job list, the job loop and its threads, the log sink,
// and the progress dialog's state for the flag combinations a user can set.
#include <gtest/gtest.h>
#include <thread>

#include "runtime/Application.h"
#include "runtime/DateTime.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;

namespace {

TButton* Btn(TWebCopy& W, const char* Name) {
    return W.ProgressForm() ? static_cast<TButton*>(W.ProgressForm()->FindControl(Name)) : nullptr;
}
TLabel* Lbl(TForm& F, const char* Name) {
    return static_cast<TLabel*>(F.FindControl(Name));
}

// A job that needs no network and ends at once (its protocol is not in this build).
TWebCopyItem* QuickJob(TWebCopy& W) {
    TWebCopyItem* It = W.Items()->Add();
    It->SetProtocol(wpFtpTest);
    return It;
}

} // namespace

TEST(JobModel, DefaultsAndVersion) {
    TWebCopy W(nullptr);
    EXPECT_EQ(W.Agent(), "WebCopy");
    EXPECT_EQ(W.DlgCaption(), "Downloading");
    EXPECT_EQ(W.DlgFileLabel(), "File :");
    EXPECT_EQ(W.DlgTimeLabel(), "Estimated time left :");
    EXPECT_TRUE(W.ShowDialog());
    EXPECT_TRUE(W.ShowDialogOnTop());
    EXPECT_TRUE(W.DlgShowCancel());
    EXPECT_FALSE(W.ShowTime());
    EXPECT_EQ(W.Animation(), atModern);
    EXPECT_EQ(W.SocketBuffLen(), 65536);
    EXPECT_EQ(W.CodePage(), 65001);
    EXPECT_EQ(W.Version(), "2.5.5.1");
    W.SetVersion("9.9");
    EXPECT_EQ(W.Version(), "2.5.5.1");

    TWebCopyItem* It = W.Items()->Add();
    EXPECT_TRUE(It->Active());
    EXPECT_EQ(It->FTPPort(), 21);
    EXPECT_EQ(It->HTTPCommand(), hcPost);
    EXPECT_EQ(It->Protocol(), wpHttp);
    EXPECT_EQ(It->Authenticate(), waNever);
    EXPECT_EQ(It->FileList(), nullptr);
    EXPECT_EQ(W.Items()->Owner(), &W);
    EXPECT_EQ(W.LastUpdateStatus(), wusFailed);
    W.Items()->Clear();
    EXPECT_EQ(W.LastUpdateStatus(), wusSuccess); // an empty list
}

TEST(JobModel, ItemsAssignCountsAndOwnership) {
    TWebCopy W(nullptr);
    TWebCopyItem* A = W.Items()->Add();
    A->SetURL("http://h/a");
    A->SetFTPPort(2121);
    A->SetCopyNewerOnly(true);
    A->SetHTTPCommand(hcPut);
    A->SetFileSize(77);
    A->ResetListing();
    A->FileList()->push_back("x");
    A->FileDetails()->Add()->SetFilename("x");
    TWebCopyItem* B = W.Items()->Insert(0);
    EXPECT_EQ(A->Index(), 1);
    EXPECT_EQ(B->Index(), 0);
    B->Assign(A);
    EXPECT_EQ(B->URL(), "http://h/a");
    EXPECT_EQ(B->FTPPort(), 2121);
    EXPECT_TRUE(B->CopyNewerOnly());
    EXPECT_EQ(B->HTTPCommand(), hcPut);
    EXPECT_EQ(B->FileSize(), 0u); // results and presets are not copied
    EXPECT_EQ(B->FileList(), nullptr);

    TFileDetailItems Details;
    Details.Add()->SetFilename("other");
    B->Assign(Details.Items(0)); // another kind of object: nothing happens
    EXPECT_EQ(B->URL(), "http://h/a");

    B->SetActive(false);
    EXPECT_EQ(W.Items()->ActiveItems(), 1);
    EXPECT_EQ(W.Items()->SuccessCount(), 0);
    EXPECT_THROW(W.Items()->Items(2), EListError);
    W.Items()->Delete(0);
    EXPECT_EQ(A->Index(), 0);
}

TEST(JobModel, EmptyListStillBuildsAndClosesTheDialog) {
    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    W.Execute();
    EXPECT_EQ(Log.Lines, (std::vector<std::string>{"BeforeDialogShow", "CopyDone"}));
    EXPECT_EQ(W.ProgressForm(), nullptr);

    W.SetShowDialog(false);
    Log.Lines.clear();
    W.Execute();
    EXPECT_EQ(Log.Lines, std::vector<std::string>{"CopyDone"});
}

TEST(JobModel, InactiveItemsAreLeftAlone) {
    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    TWebCopyItem* Off = QuickJob(W);
    Off->SetActive(false);
    Off->SetNewFileDate(42);
    TWebCopyItem* On = QuickJob(W);
    W.Execute();
    EXPECT_DOUBLE_EQ(Off->NewFileDate(), 42);
    EXPECT_FALSE(Log.Has("FileStart 0"));
    EXPECT_TRUE(Log.Has("FileStart 1"));
    EXPECT_TRUE(Log.Has("FileDone 1")); // failed jobs are done all the same
    EXPECT_FALSE(On->Success());
    EXPECT_EQ(W.LastUpdateStatus(), wusFailed);
}

TEST(JobModel, ThreadExecuteRunsTheCopyOnTheMainThread) {
    TWebCopy W(nullptr);
    QuickJob(W);
    std::thread::id Seen;
    W.OnFileStart = [&](TWebCopy*, int32_t) { Seen = std::this_thread::get_id(); };
    int Done = 0;
    W.OnCopyDone = [&](TWebCopy*) { ++Done; };
    W.ThreadExecAndWait();
    EXPECT_EQ(Done, 1);
    EXPECT_EQ(Seen, std::this_thread::get_id());

    // ThreadExecute only defers the run until the main thread serves it.
    W.ThreadExecute();
    EXPECT_EQ(Done, 1);
    for (int I = 0; I < 500 && Done < 2; ++I) {
        CheckSynchronize();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(Done, 2);
    // Let the worker's termination call through before W goes.
    for (int I = 0; I < 50; ++I) {
        CheckSynchronize();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(JobModel, LogLinesCarryTimeAndAnsiText) {
    test::TTempDir Dir;
    struct TLogging : TWebCopy {
        using TWebCopy::TWebCopy;
        using TWebCopy::WriteLog;
    } W(nullptr);
    W.WriteLog("dropped"); // no file name: nothing happens
    W.SetLogfileName(Dir / "trace.log");
    W.WriteLog("start ftp upload");
    W.WriteLog("Gr\u00fc\u00dfe");
    std::string Text = test::ReadFile(Dir / "trace.log");
    ASSERT_EQ(Text.size(), 2 * 19 + 16 + 5 + 4);
    // "hh:nn dd/mm/yyyy : " (C locale separators)
    EXPECT_EQ(Text[2], ':');
    EXPECT_EQ(Text[8], '/');
    EXPECT_EQ(Text.substr(16, 3), " : ");
    EXPECT_EQ(Text.substr(19, 18), "start ftp upload\r\n");
    EXPECT_EQ(Text.substr(19 + 18 + 19), "Gr\xfc\xdf"
                                         "e\r\n"); // Windows-1252 bytes

    W.SetLogfileName(Dir / "missing/dir/trace.log");
    EXPECT_NO_THROW(W.WriteLog("dropped quietly"));
}

// ---------------------------------------------------------------------------
// The dialog

TEST(ProgressDialog, DefaultGeometryAndTexts) {
    TWebCopy W(nullptr);
    QuickJob(W);
    bool Checked = false;
    W.OnFileStart = [&](TWebCopy* S, int32_t) {
        TForm& F = *S->ProgressForm();
        EXPECT_EQ(F.Width(), 300);
        EXPECT_EQ(F.Height(), 23 + 188);
        EXPECT_EQ(F.ClientWidth(), 294);
        EXPECT_EQ(F.Caption(), "Downloading ...");
        EXPECT_EQ(F.FormStyle(), fsStayOnTop);
        EXPECT_FALSE(F.SystemMenu());
        EXPECT_EQ(F.Position(), poScreenCenter);
        EXPECT_TRUE(F.Visible());
        TProgressBar* Bar = S->ProgressBar();
        EXPECT_EQ(Bar->Left(), 10);
        EXPECT_EQ(Bar->Top(), 60);
        EXPECT_EQ(Bar->Height(), 12);
        EXPECT_EQ(Bar->Width(), 274);
        TLabel* File = S->ProgressFileLabel();
        EXPECT_EQ(File->Top(), 80);
        EXPECT_EQ(File->Width(), 274);
        EXPECT_EQ(File->Height(), 20);
        EXPECT_EQ(File->EllipsisPosition(), epPathEllipsis);
        EXPECT_EQ(S->ProgressSizeLabel()->Top(), 100);
        EXPECT_EQ(S->ProgressSizeLabel()->Caption(), "Progress :");
        EXPECT_EQ(S->ProgressRateLabel()->Top(), 120);
        EXPECT_EQ(S->ProgressRateLabel()->Caption(), "Transfer rate :");
        EXPECT_EQ(Lbl(F, "TimeLabel")->Top(), 140);
        EXPECT_FALSE(Lbl(F, "TimeLabel")->Visible());
        EXPECT_EQ(Lbl(F, "ElapsedTimeLabel")->Top(), 160);
        EXPECT_FALSE(Lbl(F, "ElapsedTimeLabel")->Visible());
        TButton* Cancel = Btn(*S, "CancelButton");
        EXPECT_EQ(Cancel->Caption(), "Cancel");
        EXPECT_EQ(Cancel->Left(), 294 - 85);
        EXPECT_EQ(Cancel->Top(), 140);
        EXPECT_EQ(Cancel->Width(), 75);
        EXPECT_EQ(Cancel->Height(), 25);
        EXPECT_EQ(Btn(*S, "OpenFileButton"), nullptr);
        auto* Anim = static_cast<TAnimate*>(F.FindControl("Animate"));
        EXPECT_EQ(Anim->CommonAVI(), aviCopyFile);
        EXPECT_TRUE(Anim->Active());
        Checked = true;
    };
    W.Execute();
    EXPECT_TRUE(Checked);
}

TEST(ProgressDialog, LinesAndRowsFollowTheFlags) {
    struct TCase {
        bool Time, Elapsed, FileName, Cancel;
        int Height, Base, Row;
    };
    const TCase Cases[] = {
        {true, true, true, true, 23 + 40 + 188, 80, 180},
        {false, true, true, true, 23 + 20 + 188, 80, 160}, // elapsed in the fifth slot
        {true, false, false, true, 23 + 20 + 188, 60, 140},
        {false, false, false, false, 23 + 188 - 20, 60, 120},
    };
    for (const TCase& C : Cases) {
        TWebCopy W(nullptr);
        QuickJob(W);
        W.SetShowTime(C.Time);
        W.SetShowElapsedTime(C.Elapsed);
        W.SetShowFileName(C.FileName);
        W.SetDlgShowCancel(C.Cancel);
        W.OnFileStart = [&](TWebCopy* S, int32_t) {
            TForm& F = *S->ProgressForm();
            EXPECT_EQ(F.Height(), C.Height);
            EXPECT_EQ(S->ProgressFileLabel()->Visible(), C.FileName);
            EXPECT_EQ(S->ProgressFileLabel()->Top(), C.Base);
            EXPECT_EQ(S->ProgressSizeLabel()->Top(), C.Base + 20);
            EXPECT_EQ(Lbl(F, "TimeLabel")->Top(), C.Base + 60);
            EXPECT_EQ(Lbl(F, "TimeLabel")->Visible(), C.Time);
            EXPECT_EQ(Lbl(F, "ElapsedTimeLabel")->Top(), C.Base + 80);
            EXPECT_EQ(Lbl(F, "ElapsedTimeLabel")->Visible(), C.Elapsed);
            EXPECT_EQ(Btn(*S, "CancelButton")->Top(), C.Row);
            EXPECT_EQ(Btn(*S, "CancelButton")->Visible(), C.Cancel);
        };
        W.Execute();
    }
}

TEST(ProgressDialog, ScaleFactorOfAScaledOwnerForm) {
    TForm Owner(nullptr);
    Owner.SetPixelsPerInch(144);
    TWebCopy W(&Owner);
    EXPECT_DOUBLE_EQ(W.ScaleFactor(), 1.5);
    QuickJob(W);
    W.SetShowOpenFile(true);
    W.SetShowOpenFolder(true);
    W.OnFileStart = [&](TWebCopy* S, int32_t) {
        TForm& F = *S->ProgressForm();
        EXPECT_EQ(F.Width(), 450);
        EXPECT_EQ(F.Height(), RoundHalfEven((23 + 188) * 1.5)); // 316.5 -> 316
        const int CW = F.ClientWidth();
        EXPECT_EQ(CW, 450 - 2 * 4); // a 3-pixel frame scaled: 4.5 -> 4
        EXPECT_EQ(S->ProgressBar()->Top(), 90);
        EXPECT_EQ(S->ProgressBar()->Height(), 18);
        EXPECT_EQ(S->ProgressFileLabel()->Top(), 120);
        EXPECT_EQ(S->ProgressSizeLabel()->Top(), 150);
        EXPECT_EQ(Btn(*S, "CancelButton")->Left(), CW - 128); // 127.5 -> 128
        EXPECT_EQ(Btn(*S, "CancelButton")->Top(), 210);
        EXPECT_EQ(Btn(*S, "CancelButton")->Width(), 75);
        EXPECT_EQ(Btn(*S, "OpenFolderButton")->Left(), CW - 255);
        EXPECT_EQ(Btn(*S, "OpenFileButton")->Left(), CW - 255 - 128);
        EXPECT_FALSE(Btn(*S, "OpenFileButton")->Enabled());
    };
    W.Execute();

    Owner.SetScaled(false);
    EXPECT_DOUBLE_EQ(W.ScaleFactor(), 1.0);
    W.SetDesigning(true);
    EXPECT_DOUBLE_EQ(W.ScaleFactor(), 1.5);
}

TEST(ProgressDialog, OpenButtonsKeepTheDialogOpen) {
    std::vector<std::string> Opened;
    SetShellOpenHook([&](const std::string& Path) { Opened.push_back(Path); });
    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    QuickJob(W);
    W.SetShowOpenFile(true);
    W.Execute();
    ASSERT_NE(W.ProgressForm(), nullptr);
    EXPECT_TRUE(W.ProgressForm()->Visible());
    EXPECT_EQ(Btn(W, "CancelButton")->Caption(), "Close");
    EXPECT_TRUE(Btn(W, "OpenFileButton")->Enabled());
    EXPECT_EQ(Btn(W, "OpenFileButton")->Left(), 294 - 170);
    EXPECT_FALSE(static_cast<TAnimate*>(W.ProgressForm()->FindControl("Animate"))->Active());
    EXPECT_EQ(Log.Lines.back(), "CopyDone");
    EXPECT_FALSE(W.FormClosed());

    Btn(W, "OpenFileButton")->Click();
    EXPECT_EQ(Opened.size(), 1u);
    EXPECT_TRUE(W.FormClosed());
    EXPECT_FALSE(W.ProgressForm()->Visible()); // released; freed with the next run

    // The Close button closes the dialog at the end of a run.
    W.Execute();
    EXPECT_FALSE(W.FormClosed());
    Btn(W, "CancelButton")->Click();
    EXPECT_FALSE(W.ProgressForm()->Visible());
    SetShellOpenHook(nullptr);
}

TEST(ProgressDialog, OpenButtonsStayDisabledAfterACancelledRun) {
    TWebCopy W(nullptr);
    QuickJob(W);
    QuickJob(W);
    W.SetShowOpenFolder(true);
    W.SetDlgShowCancel(false);
    test::TEventLog Log(W);
    W.OnFileStart = [](TWebCopy* S, int32_t) {
        static_cast<TButton*>(S->ProgressForm()->FindControl("CancelButton"))->Click();
    };
    W.Execute();
    EXPECT_TRUE(Log.Has("CopyCancel"));
    EXPECT_TRUE(W.Items()->Items(0)->Cancelled());
    EXPECT_FALSE(Log.Has("FileStart 1"));
    ASSERT_NE(W.ProgressForm(), nullptr);
    EXPECT_FALSE(Btn(W, "OpenFolderButton")->Enabled());
    EXPECT_EQ(Btn(W, "CancelButton")->Caption(), "Close");
    EXPECT_FALSE(Btn(W, "CancelButton")->Visible());
}

TEST(ProgressDialog, CloseQueryRefusesWhileARunGoesOn) {
    TWebCopy W(nullptr);
    QuickJob(W);
    bool Closed = true;
    W.OnFileStart = [&](TWebCopy* S, int32_t) { Closed = S->ProgressForm()->Close(); };
    W.Execute();
    EXPECT_FALSE(Closed);

    // With the close box the user may close it; the run goes on without it.
    W.SetDlgShowCloseBtn(true);
    QuickJob(W);
    int Errors = 0;
    W.OnError = [&](TWebCopy*, int32_t) { ++Errors; };
    W.OnFileStart = [&](TWebCopy* S, int32_t Idx) {
        if (Idx == 0) {
            EXPECT_TRUE(S->ProgressForm()->SystemMenu());
            Closed = S->ProgressForm()->Close();
        }
    };
    W.Execute();
    EXPECT_TRUE(Closed);
    EXPECT_EQ(Errors, 2);
    EXPECT_EQ(W.ProgressForm(), nullptr);
}

TEST(ProgressDialog, HiddenDialogIsBuiltButNeverShown) {
    TWebCopy W(nullptr);
    test::TEventLog Log(W);
    QuickJob(W);
    W.SetShowDialog(false);
    W.SetAlwaysOnTop(true);
    bool Seen = false;
    W.OnFileStart = [&](TWebCopy* S, int32_t) {
        ASSERT_NE(S->ProgressForm(), nullptr);
        EXPECT_FALSE(S->ProgressForm()->Visible());
        EXPECT_FALSE(S->ProgressForm()->Topmost());
        Seen = true;
    };
    W.Execute();
    EXPECT_TRUE(Seen);
    EXPECT_FALSE(Log.Has("BeforeDialogShow"));
    EXPECT_EQ(W.ProgressForm(), nullptr);

    // Shown with AlwaysOnTop: topmost after showing.
    W.SetShowDialog(true);
    W.OnFileStart = [&](TWebCopy* S, int32_t) { EXPECT_TRUE(S->ProgressForm()->Topmost()); };
    W.SetAnimation(atClassic);
    W.OnBeforeDialogShow = [](TWebCopy* S, TForm* F) {
        EXPECT_EQ(F, S->ProgressForm());
        EXPECT_FALSE(F->Visible());
        EXPECT_EQ(static_cast<TAnimate*>(F->FindControl("Animate"))->ResId(), ClipDownload);
    };
    W.Execute();
}

TEST(ProgressDialog, TransferTextsAndCaptionPercentage) {
    struct TProbe : TWebCopy {
        using TWebCopy::ShowTransfer;
        using TWebCopy::TWebCopy;
    } W(nullptr);
    QuickJob(W);
    W.SetShowCompletion(true);
    W.SetShowTime(true);
    W.SetShowElapsedTime(true);
    bool Checked = false;
    W.OnFileStart = [&](TWebCopy*, int32_t) {
        TForm& F = *W.ProgressForm();
        // 42 % after ten seconds: about fourteen seconds left.
        W.ShowTransfer(420000, 1000000, GetTickCount64() - 10000, "Downloading");
        EXPECT_EQ(W.ProgressBar()->Position(), 42);
        EXPECT_EQ(W.ProgressSizeLabel()->Caption(), "Progress : 420.00 Kb of 1.00 Mb");
        EXPECT_EQ(F.Caption(), "Downloading : 42% completed");
        EXPECT_EQ(W.ProgressRateLabel()->Caption(), "Transfer rate : " + W.RateStr());
        EXPECT_EQ(W.TimeLeftStr(), "14 sec.");
        EXPECT_EQ(W.ElapsedTimeStr(), "10 sec.");
        EXPECT_EQ(Lbl(F, "TimeLabel")->Caption(), "Estimated time left : 14 sec.");
        EXPECT_EQ(Lbl(F, "ElapsedTimeLabel")->Caption(), "Elapsed time : 10 sec.");

        // Unknown size: the bar keeps its place, the size line has no "of",
        // and the time-left line shows the elapsed time.
        W.ShowTransfer(12290, 0, GetTickCount64() - 5000, "Uploading");
        EXPECT_EQ(W.ProgressBar()->Position(), 42);
        EXPECT_EQ(W.ProgressSizeLabel()->Caption(), "Progress : 12.29 Kb");
        EXPECT_EQ(F.Caption(), "Uploading : 42% completed");
        EXPECT_EQ(W.TimeLeftStr(), "5 sec.");
        Checked = true;
    };
    W.Execute();
    EXPECT_TRUE(Checked);
}
