// The Qt views: the progress dialog rendering the engine's state during a
// real download, and the login dialog. Runs offscreen; screenshots go to
// <build>/artifacts/.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "runtime/Application.h"
#include "support/EventLog.h"
#include "support/TestSupport.h"
#include "support/ViewRuns.h"
#include "webcopy/WcLogin.h"
#include "webcopy/WcProgressView.h"
#include "webcopy/Webcopy.h"

using namespace kivo;
using namespace kivo::webcopy;
using kivo::test::Server;

namespace {

QApplication& App() {
    static int Argc = 1;
    static char Name[] = "webcopy_WcQtViewTest";
    static char* Argv[] = {Name, nullptr};
    static QApplication* Instance = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* A = new QApplication(Argc, Argv);
        InstallQtViews();
        return A;
    }();
    return *Instance;
}

std::string Artifact(const std::string& Name) {
    std::string Dir = std::string(KIVO_BINARY_DIR) + "/artifacts";
    ::mkdir(Dir.c_str(), 0755);
    return Dir + "/" + Name;
}

void Save(QWidget* W, const std::string& Name) {
    QPixmap Shot = W->grab();
    EXPECT_FALSE(Shot.isNull());
    EXPECT_TRUE(Shot.save(QString::fromStdString(Artifact(Name))));
}

template <class T> T* Child(QDialog* D, const char* Name) {
    return D->findChild<T*>(QString::fromLatin1(Name));
}

class QtViews : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        Server().ClearLog();
    }
    void TearDown() override { SetLoginShownHook(nullptr); }
    test::TTempDir Dir;
};

TEST_F(QtViews, ProgressDialogShowsTheEngineState) {
    TWebCopy W(nullptr);
    TWebCopyItem* It = test::AddFullDialogDownload(W, Dir);
    bool Checked = false;
    W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
        if (Checked || Size < 60000) return;
        Checked = true;
        QTest::qWait(120); // let the view catch up with the state
        TForm& F = *S->ProgressForm();
        QDialog* D = QtDialogOf(F);
        ASSERT_NE(D, nullptr);
        EXPECT_TRUE(D->isVisible());
        EXPECT_TRUE(D->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_FALSE(D->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_EQ(D->size(), QSize(F.ClientWidth(), F.ClientHeight()));
        EXPECT_EQ(D->windowTitle().toStdString(), F.Caption());
        EXPECT_NE(D->windowTitle().indexOf("% completed"), -1);
        auto* Bar = Child<QProgressBar>(D, "ProgressBar");
        EXPECT_EQ(Bar->geometry(), QRect(10, 60, F.ClientWidth() - 20, 12));
        EXPECT_EQ(Bar->value(), S->ProgressBar()->Position());
        auto* Size2 = Child<QLabel>(D, "SizeLabel");
        EXPECT_EQ(Size2->text().toStdString(), S->ProgressSizeLabel()->Caption());
        EXPECT_EQ(Size2->pos(), QPoint(10, 100));
        auto* File = Child<QLabel>(D, "FileLabel");
        EXPECT_EQ(File->geometry(), QRect(10, 80, F.ClientWidth() - 20, 20));
        EXPECT_TRUE(File->text().endsWith("ellipsis.bin from 127.0.0.1:" +
                                          QString::number(Server().Port())) ||
                    File->text().contains("..."));
        EXPECT_FALSE(Child<QPushButton>(D, "OpenFileButton")->isEnabled());
        EXPECT_TRUE(Child<QLabel>(D, "TimeLabel")->isVisible());
        Save(D, "webcopy-progress.png");
    };
    W.Execute();
    EXPECT_TRUE(Checked);
    EXPECT_TRUE(It->Success());

    // The end of the run: the dialog stays with Close and the Open buttons.
    QTest::qWait(120);
    QDialog* D = QtDialogOf(*W.ProgressForm());
    ASSERT_NE(D, nullptr);
    auto* Close = Child<QPushButton>(D, "CancelButton");
    EXPECT_EQ(Close->text(), "Close");
    EXPECT_TRUE(Child<QPushButton>(D, "OpenFileButton")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(D, "OpenFolderButton")->isEnabled());
    Save(D, "webcopy-progress-done.png");
    QTest::mouseClick(Close, Qt::LeftButton);
    EXPECT_FALSE(W.ProgressForm()->Visible());
    EXPECT_FALSE(D->isVisible());
}

TEST_F(QtViews, CancelButtonAndEscapeCancelTheTransfer) {
    for (int Way = 0; Way < 2; ++Way) {
        TWebCopy W(nullptr);
        test::TEventLog Log(W);
        TWebCopyItem* It = test::AddSlowDownload(W, Dir);
        bool Clicked = false;
        W.OnCopyProgress = [&](TWebCopy* S, int32_t, uint32_t Size, uint32_t) {
            if (Clicked || Size == 0) return;
            Clicked = true;
            QTest::qWait(60);
            QDialog* D = QtDialogOf(*S->ProgressForm());
            ASSERT_NE(D, nullptr);
            if (Way == 0)
                QTest::mouseClick(Child<QPushButton>(D, "CancelButton"), Qt::LeftButton);
            else
                QTest::keyClick(D, Qt::Key_Escape);
            // The close box is refused while the transfer runs.
            D->close();
            EXPECT_TRUE(S->ProgressForm()->Visible());
        };
        W.Execute();
        EXPECT_TRUE(It->Cancelled());
        EXPECT_TRUE(Log.Has("CopyCancel"));
        EXPECT_FALSE(test::Exists(Dir / "c.bin"));
    }
}

TEST_F(QtViews, ClipsAndPathEllipsis) {
    for (int Res : {0, ClipDownload, ClipUpload}) {
        QImage A = ClipFrame(Res, 0), B = ClipFrame(Res, ClipFrameCount / 2);
        EXPECT_EQ(A.size(), QSize(272, 50));
        EXPECT_NE(A, B); // it moves
    }
    EXPECT_NE(ClipFrame(ClipDownload, 3), ClipFrame(ClipUpload, 3));
    QFontMetrics M(App().font());
    QString Long = "File : /home/user/a/very/long/folder/name/that/goes/on/archive.zip";
    QString Short = ElidePath(Long, M, 200);
    EXPECT_LE(M.horizontalAdvance(Short), 200);
    EXPECT_TRUE(Short.endsWith("/archive.zip"));
    EXPECT_TRUE(Short.contains("..."));
    EXPECT_EQ(ElidePath("short", M, 200), "short");
}

TEST_F(QtViews, LoginDialogLayoutAndAnswers) {
    // Confirmed with Enter in the password field.
    SetLoginShownHook([](TWcLoginForm& F) {
        EXPECT_EQ(F.size(), QSize(312, 184));
        EXPECT_EQ(F.Edit1->geometry(), QRect(104, 80, 193, 21));
        EXPECT_EQ(F.Edit2->geometry(), QRect(104, 112, 193, 21));
        EXPECT_EQ(F.Button1->geometry(), QRect(144, 152, 75, 25));
        EXPECT_EQ(F.Button2->geometry(), QRect(224, 152, 75, 25));
        EXPECT_TRUE(F.Button1->isDefault());
        EXPECT_EQ(F.Edit2->echoMode(), QLineEdit::Password);
        EXPECT_EQ(F.Label1->text(), "&User name: ");
        EXPECT_EQ(F.Label1->buddy(), F.Edit1);
        EXPECT_TRUE(F.Edit1->text().isEmpty()); // the incoming values are not shown
        EXPECT_FALSE(F.windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_EQ(F.Image1->pixmap().size(), QSize(320, 60));
        EXPECT_EQ(F.windowTitle(), "Connect to example.org");
        QTest::keyClicks(F.Edit1, "alice");
        QTest::keyClicks(F.Edit2, "s3cret");
        Save(&F, "webcopy-login.png");
        QTest::keyClick(F.Edit2, Qt::Key_Return);
    });
    std::string User = "old", Password = "old";
    EXPECT_TRUE(Login("Connect to example.org", User, Password));
    EXPECT_EQ(User, "alice");
    EXPECT_EQ(Password, "s3cret");

    // Escape, the Cancel button and the close box leave the values alone.
    for (int Way = 0; Way < 3; ++Way) {
        SetLoginShownHook([Way](TWcLoginForm& F) {
            QTest::keyClicks(F.Edit1, "bob");
            if (Way == 0)
                QTest::keyClick(&F, Qt::Key_Escape);
            else if (Way == 1)
                QTest::mouseClick(F.Button2, Qt::LeftButton);
            else
                F.close();
        });
        User = "keep";
        EXPECT_FALSE(Login("c", User, Password));
        EXPECT_EQ(User, "keep");
    }
    EXPECT_EQ(LoginBanner().format(), QImage::Format_Indexed8);
}

TEST_F(QtViews, EngineAsksThroughTheLoginDialog) {
    SetLoginShownHook([](TWcLoginForm& F) {
        QTest::keyClicks(F.Edit1, "user");
        QTest::keyClicks(F.Edit2, "secret");
        QTest::mouseClick(F.Button1, Qt::LeftButton);
    });
    TWebCopy W(nullptr);
    TWebCopyItem* It = test::AddLoginDownload(W, Dir);
    W.Execute();
    EXPECT_TRUE(It->Success());
    EXPECT_EQ(test::ReadFile(Dir / "l.bin"), test::Pattern(100));
}

} // namespace
