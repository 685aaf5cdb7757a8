#include "support/AppFixture.h"

#include <QDir>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "platform/FileSystem.h"
#include "tests/common/TestFiles.h"

namespace kivo::test {

void AppFixture::SetUp() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string Templ = GetTempDirectory() + "kivo-app-XXXXXX";
    ASSERT_NE(::mkdtemp(Templ.data()), nullptr);
    Root = Templ;
    ::setenv("HOME", (Root + "/home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (Root + "/data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
    ForceDirectories(Root + "/home");
    EnsureGuiApplication();
    InstallQtUserInterface();
    // No box may wait for a person: one that a test does not expect fails it.
    QtUserInterface().Responder = [](QMessageBox& Box) -> QAbstractButton* {
        ADD_FAILURE() << "unexpected box: " << Box.windowTitle().toStdString() << ": "
                      << Box.text().toStdString();
        return nullptr;
    };
    // The program's module start-up: no switch on this command line.
    InitializeRunElevatedMain();
}

void AppFixture::TearDown() {
    QtUserInterface().Responder = nullptr;
    SetUserInterface(nullptr);
    InstallFolder.clear();
    QApplication::processEvents();
    if (!Root.empty())
        std::system(("chattr -R -i '" + Root + "' 2>/dev/null; rm -rf '" + Root + "'").c_str());
}

std::string AppFixture::LocalFolder() const {
    return Root + "/data/KIVO/KIVO Profile";
}
std::string AppFixture::PublicFolder() const {
    return Root + "/home/Public/KIVO Profile";
}

std::string AppFixture::PlaceServer(const std::string& Folder) const {
    ForceDirectories(Folder);
    std::string Path = Folder + "/Zelbrix.exe";
    EXPECT_TRUE(WriteFile(Path,
                          "#!/bin/sh\n"
                          "printf '%s' \"$*\" > \"$(dirname \"$0\")/record.tmp\"\n"
                          "mv \"$(dirname \"$0\")/record.tmp\" \"$(dirname \"$0\")/record\"\n"));
    ::chmod(Path.c_str(), 0755);
    return Path;
}

std::string AppFixture::AwaitRecord(const std::string& Folder) const {
    std::string Path = Folder + "/record";
    for (int i = 0; i < 1000 && !FileExists(Path); ++i)
        ::usleep(10000);
    return ReadFile(Path);
}

void AppFixture::Screenshot(QWidget& Widget, const std::string& Name) const {
    QString Dir = QString::fromUtf8(KIVO_BINARY_DIR) + QStringLiteral("/artifacts/app");
    QDir().mkpath(Dir);
    QApplication::processEvents();
    Widget.grab().save(Dir + QStringLiteral("/") + QString::fromStdString(Name) +
                       QStringLiteral(".png"));
}

std::string ButtonTexts(QMessageBox& Box) {
    std::string Texts;
    for (QAbstractButton* B : Box.buttons()) {
        if (!Texts.empty()) Texts += "|";
        Texts += B->text().toStdString();
    }
    return Texts;
}

QAbstractButton* ButtonNamed(QMessageBox& Box, const char* Text) {
    for (QAbstractButton* B : Box.buttons())
        if (B->text() == QString::fromUtf8(Text)) return B;
    return nullptr;
}

} // namespace kivo::test
