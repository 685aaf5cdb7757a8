// The download button end to end against a local HTTP server: the package is
// fetched into the install folder with the web copy engine and unpacked with
// the unzipper. Parts that need an engine this build lacks are skipped with
// the reason; the download itself is checked whenever the web copy engine is
// there.
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/QtUserInterface.h"
#include "app/RunElevatedMain.h"
#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "support/AppFixture.h"
#include "tests/common/TestFiles.h"
#include "tests/elevation/support/StandIns.h"

extern char** environ;

using namespace kivo;
using namespace kivo::test;

namespace {

// tests/app/package_server.py on a free port, for the whole test program.
class TPackageServer {
public:
    TPackageServer() {
        std::string Templ = GetTempDirectory() + "kivo-pkg-XXXXXX";
        if (::mkdtemp(Templ.data()) == nullptr) return;
        Root = Templ;
        int In[2], Out[2];
        if (::pipe(In) != 0 || ::pipe(Out) != 0) return;
        posix_spawn_file_actions_t Fa;
        posix_spawn_file_actions_init(&Fa);
        posix_spawn_file_actions_adddup2(&Fa, In[0], 0);
        posix_spawn_file_actions_adddup2(&Fa, Out[1], 1);
        posix_spawn_file_actions_addclose(&Fa, In[1]);
        posix_spawn_file_actions_addclose(&Fa, Out[0]);
        std::string Script = std::string(KIVO_SOURCE_DIR) + "/tests/app/package_server.py";
        char* Argv[] = {const_cast<char*>("python3"), Script.data(), Root.data(), nullptr};
        int Rc = posix_spawnp(&FPid, "python3", &Fa, nullptr, Argv, environ);
        posix_spawn_file_actions_destroy(&Fa);
        ::close(In[0]);
        ::close(Out[1]);
        FStdin = In[1];
        if (Rc != 0) return;
        FILE* F = ::fdopen(Out[0], "r");
        if (F == nullptr || std::fscanf(F, "PORT %d", &Port) != 1) Port = 0;
        if (F != nullptr) std::fclose(F);
    }
    ~TPackageServer() {
        if (FStdin >= 0) ::close(FStdin); // the server ends with its input
        if (FPid > 0) ::waitpid(FPid, nullptr, 0);
        if (!Root.empty()) std::system(("rm -rf '" + Root + "'").c_str());
    }
    void SetMode(const std::string& Mode) const { EXPECT_TRUE(WriteFile(Root + "/mode", Mode)); }
    std::string BaseUrl() const {
        return "http://127.0.0.1:" + std::to_string(Port) + "/downloads/";
    }

    std::string Root;
    int Port = 0;

private:
    pid_t FPid = -1;
    int FStdin = -1;
};

TPackageServer& Server() {
    static TPackageServer S;
    return S;
}

class Download : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_NE(Server().Port, 0) << "the package server did not start";
        ::setenv("KIVO_DOWNLOAD_BASE_URL", Server().BaseUrl().c_str(), 1);
        Server().SetMode("ok");
        Stage = Root + "/stage";
        ForceDirectories(Stage);
    }
    void TearDown() override {
        ::unsetenv("KIVO_DOWNLOAD_BASE_URL");
        SetMessagePump([] { QCoreApplication::processEvents(); });
        AppFixture::TearDown();
    }

    // Zelbrix.zip with the stand-in server program and a second file.
    std::string MakePackage() {
        PlaceServer(Stage);
        EXPECT_TRUE(WriteFile(Stage + "/README.txt", "server package\n"));
        std::string Zip = Stage + "/Zelbrix.zip";
        EXPECT_EQ(
            std::system(
                ("cd '" + Stage + "' && zip -q -X Zelbrix.zip Zelbrix.exe README.txt").c_str()),
            0);
        return ReadFile(Zip);
    }
    void Publish(const std::string& Package) {
        EXPECT_TRUE(WriteFile(Server().Root + "/Zelbrix.zip", Package));
    }

    std::string Stage;
};

void ExpectUnchanged(TRunElevatedForm& F) {
    EXPECT_FALSE(F.Button1->isEnabled());
    EXPECT_FALSE(F.Button2->isEnabled());
    EXPECT_TRUE(F.Button3->isEnabled());
    EXPECT_TRUE(F.Button4->isHidden());
}

} // namespace

TEST_F(Download, PackageArrivesInAFolderThatDidNotExistAndIsUnpacked) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    std::string Package = MakePackage();
    Publish(Package);
    TRunElevatedForm Form;
    Form.show();
    ASSERT_FALSE(DirectoryExists(LocalFolder()));
    std::string Caption = Form.Button3->text().toStdString();

    Form.Button3->click();

    EXPECT_EQ(ReadFile(LocalFolder() + "/Zelbrix.zip"), Package);
    EXPECT_TRUE(FileExists(LocalFolder() + "/Zelbrix.exe"));
    EXPECT_EQ(ReadFile(LocalFolder() + "/README.txt"), "server package\n");
    EXPECT_TRUE(Form.Button1->isEnabled());
    EXPECT_TRUE(Form.Button2->isEnabled());
    EXPECT_FALSE(Form.Button3->isEnabled());
    EXPECT_FALSE(Form.Button4->isHidden());
    EXPECT_EQ(Form.Button3->text().toStdString(), Caption); // the caption is left as it is
    Screenshot(Form, "11-after-download-server-present");
}

TEST_F(Download, EmptyPackageCountsAsDone) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    std::string Empty = Stage + "/empty.zip";
    ASSERT_EQ(std::system(
                  ("python3 -c \"import zipfile,sys; zipfile.ZipFile(sys.argv[1],'w').close()\" '" +
                   Empty + "'")
                      .c_str()),
              0);
    Publish(ReadFile(Empty));
    TRunElevatedForm Form;
    Form.Button3->click();
    EXPECT_EQ(ReadFile(LocalFolder() + "/Zelbrix.zip"), ReadFile(Empty));
    // Nothing to extract, the archive closes and the result is true: the
    // buttons move on although no server program came.
    EXPECT_FALSE(FileExists(LocalFolder() + "/Zelbrix.exe"));
    EXPECT_TRUE(Form.Button1->isEnabled());
    EXPECT_FALSE(Form.Button3->isEnabled());
}

TEST_F(Download, CancelledDownloadLeavesNoPackageAndChangesNothing) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    // Large enough that the slow server is still sending when we cancel.
    Publish(std::string(256 * 1024, 'x'));
    Server().SetMode("slow");
    TRunElevatedForm Form;
    bool Cancelled = false;
    int Seen = 0;
    SetMessagePump([&] {
        QCoreApplication::processEvents();
        if (Cancelled) return;
        for (QWidget* W : QApplication::topLevelWidgets()) {
            auto* Dialog = qobject_cast<QDialog*>(W);
            if (Dialog == nullptr || !Dialog->isVisible()) continue;
            for (QPushButton* B : Dialog->findChildren<QPushButton*>()) {
                if (B->text() != QStringLiteral("Cancel") || !B->isVisible()) continue;
                if (++Seen < 8) return; // a few blocks into the transfer
                Screenshot(*Dialog, "10-download-progress");
                Cancelled = true;
                B->click();
                return;
            }
        }
    });
    Form.Button3->click();
    EXPECT_TRUE(Cancelled) << "no progress dialog with a Cancel button was seen";
    EXPECT_FALSE(FileExists(LocalFolder() + "/Zelbrix.zip"));
    ExpectUnchanged(Form);
}

TEST_F(Download, HttpErrorWithAnOlderPackageUnpacksTheOlderOne) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    std::string Older = MakePackage();
    ForceDirectories(LocalFolder());
    EXPECT_TRUE(WriteFile(LocalFolder() + "/Zelbrix.zip", Older));
    Server().SetMode("status 404");
    TRunElevatedForm Form;
    Form.Button3->click();
    EXPECT_EQ(ReadFile(LocalFolder() + "/Zelbrix.zip"), Older);
    EXPECT_TRUE(FileExists(LocalFolder() + "/Zelbrix.exe"));
    EXPECT_TRUE(Form.Button1->isEnabled());
}

TEST_F(Download, PackageThatIsNotAZipChangesNothing) {
    TUseFacts Facts(TStandInFacts::StandardUser());
    Publish("this is a text file, not an archive\n");
    TRunElevatedForm Form;
    Form.Button3->click();
    EXPECT_TRUE(FileExists(LocalFolder() + "/Zelbrix.zip"));
    EXPECT_FALSE(FileExists(LocalFolder() + "/Zelbrix.exe"));
    ExpectUnchanged(Form);
}

TEST(DownloadUrl, OverrideMustBeAnHttpFolder) {
    ::unsetenv("KIVO_DOWNLOAD_BASE_URL");
    EXPECT_EQ(DownloadBaseUrl(), DefaultDownloadBaseUrl);
    EXPECT_EQ(DownloadBaseUrl().rfind("http://", 0), 0u);
    EXPECT_EQ(DownloadBaseUrl().substr(DownloadBaseUrl().size() - 11), "/downloads/");
    ::setenv("KIVO_DOWNLOAD_BASE_URL", "http://mirror.example/kivo", 1);
    EXPECT_EQ(DownloadBaseUrl(), "http://mirror.example/kivo/");
    ::setenv("KIVO_DOWNLOAD_BASE_URL", "file:///etc/", 1);
    EXPECT_EQ(DownloadBaseUrl(), DefaultDownloadBaseUrl);
    ::setenv("KIVO_DOWNLOAD_BASE_URL", "http://a b/", 1);
    EXPECT_EQ(DownloadBaseUrl(), DefaultDownloadBaseUrl);
    ::unsetenv("KIVO_DOWNLOAD_BASE_URL");
}
