#include "app/RunElevatedMain.h"

#include <QApplication>
#include <QCursor>
#include <QFont>
#include <cstdlib>
#include <memory>

#include "app/QtUserInterface.h"
#include "archive/AbUnzper.h"
#include "elevation/QxUtilRunElevated.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "util/QxBasicStringProcs.h"
#include "util/QxUtilPath.h"
#include "webcopy/Webcopy.h"

namespace kivo {

std::string InstallFolder;
const char* const ServerExeName = "Zelbrix.exe";
const char* const ServerZipName = "Zelbrix.zip";
const char* const DefaultDownloadBaseUrl = "http://www.kivo-didazive.de/downloads/";

std::string DownloadBaseUrl() {
    const char* Env = std::getenv("KIVO_DOWNLOAD_BASE_URL");
    if (Env == nullptr) return DefaultDownloadBaseUrl;
    std::string Url = Env;
    bool Http = Url.rfind("http://", 0) == 0 || Url.rfind("https://", 0) == 0;
    if (!Http || Url.find_first_of(" \t\r\n") != std::string::npos) return DefaultDownloadBaseUrl;
    if (Url.back() != '/') Url += '/';
    return Url;
}

namespace {

QFont InstallerFont(int PixelHeight, bool Bold = false) {
    QFont F(InstallerFontFamily());
    F.setPixelSize(PixelHeight);
    F.setBold(Bold);
    return F;
}

void PlaceLabel(QLabel* L, int X, int Y, const QFont& F) {
    L->setFont(F);
    L->move(X, Y);
}

} // namespace

// ---- the elevated action ----

uint32_t ElevatedServerAction(const std::string& Parameters) {
    InstallFolder = GetDelimitedField(Parameters, 1, "");
    std::string ExePath = AddTrailingBackslash(InstallFolder) + ServerExeName;
    std::string Args = GetDelimitedField(Parameters, 2, "");
    intptr_t R = ShellExecuteOpen(ExePath, Args, "", SW_SHOWNORMAL);
    std::string Message;
    if (static_cast<uintptr_t>(R) <= 32) {
        Message =
            "Error (" + std::to_string(static_cast<uintptr_t>(R)) + ") registering COM server";
        UserInterface().MessageDlg("AppDir: " + InstallFolder + "; Ausführen: " + ExePath +
                                       "; Parameter: " + GetDelimitedField(Parameters, 2, ""),
                                   mtInformation, MsgDlgButtons({mbOK}));
    } else {
        Message = "Success";
    }
    UserInterface().MessageBox(nullptr, Message, "MAPI 64 COM Server", MB_OK | MB_ICONINFORMATION);
    return 0;
}

void InitializeRunElevatedMain() {
    InstallFolder.clear();
    OnElevateProc = &ElevatedServerAction;
    CheckRunElevated();
}

void FinalizeRunElevatedMain() {
    InstallFolder.clear();
}

// ---- the window ----

TRunElevatedForm::TRunElevatedForm(QWidget* Parent) : QWidget(Parent) {
    EnsureGuiApplication();
    setObjectName(QStringLiteral("RunElevatedForm"));
    setWindowTitle(QStringLiteral("Register 64bit MAPI Proxy"));
    setFixedSize(635, 337);
    setAutoFillBackground(true);
    QPalette Pal = palette();
    Pal.setColor(QPalette::Window, Qt::white);
    setPalette(Pal);
    setFont(InstallerFont(11));

    Label4 = new QLabel(this);
    PlaceLabel(Label4, 112, 27, InstallerFont(19, true));
    Label1 = new QLabel(this);
    PlaceLabel(Label1, 112, 80, InstallerFont(16));
    Label2 = new QLabel(this);
    PlaceLabel(Label2, 112, 102, InstallerFont(16));
    Label3 = new QLabel(this);
    PlaceLabel(Label3, 112, 124, InstallerFont(16));

    // Created in tab order: Button2, Button1, Button3, Button4, CheckBox1.
    Button2 = new QPushButton(this);
    Button2->setGeometry(176, 288, 297, 25);
    Button1 = new QPushButton(this);
    Button1->setGeometry(88, 230, 481, 25);
    Button3 = new QPushButton(this);
    Button3->setGeometry(88, 180, 481, 25);
    ImageList1.append(WasteBinPixmap());
    Button4 = new QPushButton(this);
    Button4->setGeometry(575, 180, 26, 25);
    Button4->setIcon(QIcon(ImageList1.at(0)));
    Button4->setIconSize(QSize(16, 16));
    CheckBox1 = new QCheckBox(QStringLiteral("install to user public documents"), this);
    CheckBox1->setFont(InstallerFont(16));
    CheckBox1->setGeometry(112, 149, 457, 17);
    CheckBox1->setChecked(false);
    for (QPushButton* B : {Button1, Button2, Button3, Button4})
        B->setAutoDefault(false);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3->setObjectName(QStringLiteral("Label3"));
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2->setObjectName(QStringLiteral("Button2"));
    Button3->setObjectName(QStringLiteral("Button3"));
    Button4->setObjectName(QStringLiteral("Button4"));

    connect(CheckBox1, &QCheckBox::clicked, this,
            [this] { Guarded([this] { CheckBox1Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { Guarded([this] { Button4Click(); }); });

    // An error while the window is created is shown; the window still opens.
    Guarded([this] { FormCreate(); });
}

TRunElevatedForm::~TRunElevatedForm() {
    if (FBusy) QApplication::restoreOverrideCursor();
}

void TRunElevatedForm::Guarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& E) {
        ShowException(E);
    }
}

void TRunElevatedForm::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (FFocusPlaced) return;
    FFocusPlaced = true;
    // The first enabled control in tab order takes the focus.
    for (QWidget* W :
         std::initializer_list<QWidget*>{Button2, Button1, Button3, Button4, CheckBox1}) {
        if (W->isEnabled() && !W->isHidden()) {
            W->setFocus(Qt::ActiveWindowFocusReason);
            break;
        }
    }
}

void TRunElevatedForm::FormCreate() {
    Label1->setText(
        QString::fromStdString(Format("Administrator: %s", BoolToStr(IsAdministrator()))));
    Label1->adjustSize();
    Label2->setText(QString::fromStdString(
        Format("AdministratorAccount: %s", BoolToStr(IsAdministratorAccount()))));
    Label2->adjustSize();
    Label3->setText(QString::fromStdString(Format("UAC Enabled: %s", BoolToStr(IsUacEnabled()))));
    Label3->adjustSize();
    Label4->setText(QStringLiteral("KIVO Profile - MAPI 64bit Subsystem Installer"));
    Label4->adjustSize();
    Button1->setText(QStringLiteral("Install / Register MAPI Server"));
    SetElevationShield(Button1);
    Button2->setText(QStringLiteral("UnInstall / Unregister MAPI Server"));
    SetElevationShield(Button2);
    SelectInstallFolder();
}

void TRunElevatedForm::CheckBox1Click() {
    SelectInstallFolder();
}

void TRunElevatedForm::SelectInstallFolder() {
    InstallFolder = CheckBox1->isChecked() ? GetPublicProfileFolder() : GetLocalProfileFolder();
    UpdateServerState();
}

void TRunElevatedForm::UpdateServerState() {
    std::string Path = AddTrailingBackslash(InstallFolder) + ServerExeName;
    bool Present = FileExists(Path);
    if (Present) {
        Button3->setText(QString::fromStdString(Path));
        Button3->setEnabled(false);
    } else {
        Button3->setText(QStringLiteral("Download MAPI COM Server from KIVO Didazive Web Site"));
        Button3->setEnabled(true);
    }
    Button1->setEnabled(Present);
    Button2->setEnabled(Present);
    Button4->setVisible(Present);
}

void TRunElevatedForm::BeginBusy() {
    setCursor(Qt::WaitCursor);
    if (!FBusy) QApplication::setOverrideCursor(Qt::WaitCursor);
    FBusy = true;
    Button1->setEnabled(false);
    Button2->setEnabled(false);
    ProcessMessages();
}

void TRunElevatedForm::EndBusy() {
    unsetCursor();
    if (FBusy) QApplication::restoreOverrideCursor();
    FBusy = false;
    Button1->setEnabled(true);
    Button2->setEnabled(true);
    ProcessMessages();
}

void TRunElevatedForm::RegisterOrUnregister(const char* Switch) {
    BeginBusy();
    try {
        std::string Params = InstallFolder + ";" + Switch;
        uint32_t Code = RunElevated(Params, this, [] { ProcessMessages(); });
        SetLastError(Code);
        if (Code != 0) RaiseLastOSError();
    } catch (...) {
        EndBusy();
        throw;
    }
    EndBusy();
}

void TRunElevatedForm::Button1Click() {
    RegisterOrUnregister("/regserver");
}

void TRunElevatedForm::Button2Click() {
    RegisterOrUnregister("/unregserver");
}

void TRunElevatedForm::Button3Click() {
    if (!DownloadAndExtractServer()) return;
    Button2->setEnabled(true);
    Button1->setEnabled(true);
    Button4->setVisible(true);
    Button3->setEnabled(false);
}

void TRunElevatedForm::Button4Click() {
    if (UserInterface().MessageDlg(std::string(ServerExeName) + " löschen?", mtConfirmation,
                                   MsgDlgButtons({mbYes, mbNo})) != mrYes)
        return;
    if (DeleteFile(AddTrailingBackslash(InstallFolder) + ServerExeName)) {
        Button3->setEnabled(true);
        UpdateServerState();
    }
}

// ---- download and extraction ----

using webcopy::TWebCopy;
using webcopy::TWebCopyItem;
using webcopy::wpHttp;

namespace {

void AddDownloadItem(TWebCopy& WebCopy, const std::string& FileName) {
    TWebCopyItem* Item = WebCopy.Items()->Add();
    Item->SetURL(DownloadBaseUrl() + FileName);
    Item->SetProtocol(wpHttp);
    Item->SetCopyNewerOnly(true);
    Item->SetTargetDir(InstallFolder);
}

} // namespace

bool TRunElevatedForm::DownloadAndExtractServer() {
    bool Result = false;
    auto UnZipper = std::make_unique<TAbUnZipper>(nullptr);
    auto WebCopy = std::make_unique<TWebCopy>(nullptr);
    WebCopy->SetAgent("WebCopy");
    WebCopy->SetDlgCaption("Lade MAPI Datei...");
    WebCopy->SetDlgDwnload("Lade MAPI Datei...");
    WebCopy->Items()->Clear();
    AddDownloadItem(*WebCopy, ServerZipName);
    if (WebCopy->Items()->Count() > 0) {
        try {
            WebCopy->Execute();
        } catch (const std::exception&) {
            // The download's outcome is not looked at: extraction decides.
        }
    }
    try {
        UnZipper->SetFileName(AddTrailingBackslash(InstallFolder) + ServerZipName);
        UnZipper->SetBaseDirectory(InstallFolder);
        if (UnZipper->Count() > 0) UnZipper->ExtractFiles("*.*");
        UnZipper->CloseArchive();
        Result = true;
    } catch (const std::exception&) {
        Result = false;
    }
    WebCopy.reset();
    UnZipper.reset();
    return Result;
}

} // namespace kivo
