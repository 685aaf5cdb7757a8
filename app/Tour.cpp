// The demo tour: drives the installer window through download, register,
// unregister and delete without a person at the keyboard, prints what
// happened and saves a screenshot of each window state and box.
//
//   kivo-mapi-setup-tour <screenshot folder>
//
// It runs the same window and handlers as the program; only the boxes are
// answered by the tour (with their default button) instead of waiting.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>
#include <string>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "util/QxBasicStringProcs.h"

using namespace kivo;

namespace {

std::string ShotDir;
std::string Step = "box"; // names the screenshot of the next box
int ShotNumber = 0;
int Failures = 0;

std::string Save(QWidget& W, const std::string& Name) {
    QApplication::processEvents();
    char Prefix[16];
    std::snprintf(Prefix, sizeof Prefix, "%02d-", ++ShotNumber);
    std::string Path = ShotDir + "/" + Prefix + Name + ".png";
    W.grab().save(QString::fromStdString(Path));
    return Path;
}

std::string OneLine(std::string Text) {
    for (char& C : Text)
        if (C == '\r' || C == '\n') C = ' ';
    return Text;
}

void Describe(TRunElevatedForm& F, const std::string& Name) {
    std::printf("   window: folder %s\n", InstallFolder.c_str());
    std::printf("           download button %s: \"%s\"\n",
                F.Button3->isEnabled() ? "enabled" : "disabled",
                F.Button3->text().toStdString().c_str());
    std::printf("           register %s, unregister %s, delete %s\n",
                F.Button1->isEnabled() ? "enabled" : "disabled",
                F.Button2->isEnabled() ? "enabled" : "disabled",
                F.Button4->isHidden() ? "hidden" : "shown");
    std::printf("   screenshot: %s\n", Save(F, Name).c_str());
}

void Check(bool Ok, const char* What) {
    if (Ok) return;
    ++Failures;
    std::printf("   !! %s\n", What);
}

// The stand-in server program appends each switch it got to Zelbrix.log.
std::string AwaitServerLog(size_t Lines) {
    std::string Log = AddTrailingBackslash(InstallFolder) + "Zelbrix.log";
    std::string Text;
    for (int i = 0; i < 500; ++i) {
        Text.clear();
        if (FILE* F = std::fopen(Log.c_str(), "rb")) {
            char B[4096];
            Text.assign(B, std::fread(B, 1, sizeof B, F));
            std::fclose(F);
        }
        size_t N = 0;
        for (char C : Text)
            N += C == '\n';
        if (N >= Lines) break;
        Sleep(10);
    }
    return Text;
}

} // namespace

int main(int argc, char** argv) {
    SetProgramArguments(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <screenshot folder>\n", argv[0]);
        return 2;
    }
    ShotDir = argv[1];
    InstallQtUserInterface();
    InitializeRunElevatedMain();
    QApplication App(argc, argv);
    EnsureGuiApplication();
    QDir().mkpath(QString::fromStdString(ShotDir));

    QtUserInterface().Responder = [](QMessageBox& Box) -> QAbstractButton* {
        QAbstractButton* Pressed = Box.defaultButton();
        std::printf("   box \"%s\": %s  [pressing %s]\n", Box.windowTitle().toStdString().c_str(),
                    OneLine(Box.text().toStdString()).c_str(),
                    Pressed != nullptr ? Pressed->text().toStdString().c_str() : "-");
        std::printf("   screenshot: %s\n", Save(Box, Step).c_str());
        return Pressed;
    };

    std::printf("KIVO Profile MAPI installer, demo tour\n");
    std::printf("download base URL: %s\n\n", DownloadBaseUrl().c_str());
    TRunElevatedForm Form;
    Form.show();
    std::printf("1. The window opens in the local folder.\n");
    std::printf("   %s | %s | %s\n", Form.Label1->text().toStdString().c_str(),
                Form.Label2->text().toStdString().c_str(),
                Form.Label3->text().toStdString().c_str());
    Describe(Form, "start");

    std::printf("\n2. Download: the package is fetched and unpacked into the install folder.\n");
    Step = "download-box";
    Form.Button3->click();
    std::string Package = AddTrailingBackslash(InstallFolder) + ServerZipName;
    if (FileExists(Package))
        std::printf("   package: %s (%lld bytes)\n", Package.c_str(),
                    static_cast<long long>(GetFileSize(Package)));
    else
        std::printf("   package: none arrived\n");
    bool Present = FileExists(AddTrailingBackslash(InstallFolder) + ServerExeName);
    Describe(Form, "after-download");
    Check(Present, "Zelbrix.exe is not in the install folder");
    if (!Present) {
        std::printf(
            "\nThe server program is not installed, so register, unregister and delete stay\n"
            "disabled. The tour ends here.\n");
        return 1;
    }

    std::printf("\n3. Register: the server program is started elevated with /regserver.\n");
    Step = "register-box";
    Form.Button1->click();
    std::string Log = AwaitServerLog(1);
    std::printf("   Zelbrix.log: %s\n", OneLine(Log).c_str());
    Check(Log.find("/regserver") != std::string::npos,
          "the server program did not record /regserver");
    Describe(Form, "after-register");

    std::printf("\n4. Unregister: the same with /unregserver.\n");
    Step = "unregister-box";
    Form.Button2->click();
    Log = AwaitServerLog(2);
    std::printf("   Zelbrix.log: %s\n", OneLine(Log).c_str());
    Check(Log.find("/unregserver") != std::string::npos,
          "the server program did not record /unregserver");
    Describe(Form, "after-unregister");

    std::printf("\n5. Delete: the confirmation is answered with Ja.\n");
    Step = "delete-confirmation";
    Form.Button4->click();
    Check(!FileExists(AddTrailingBackslash(InstallFolder) + ServerExeName),
          "Zelbrix.exe is still there");
    Describe(Form, "after-delete");

    std::printf("\nTour %s. Screenshots are in %s\n", Failures == 0 ? "complete" : "FAILED",
                ShotDir.c_str());
    QtUserInterface().Responder = nullptr;
    FinalizeRunElevatedMain();
    return Failures == 0 ? 0 : 1;
}
