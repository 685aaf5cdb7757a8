#include "app/RunElevatedMain.h"

#include <cstdlib>
#include <memory>

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
        UserInterface().MessageDlg("AppDir: " + SystemPathText(InstallFolder) +
                                       "; Ausführen: " + SystemPathText(ExePath) +
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

// ---- the application's error box ----

std::string ApplicationTitle() {
    std::string Name = ExtractFileName(ExecutablePath());
    std::string Ext = ExtractFileExt(Name);
    return Name.substr(0, Name.size() - Ext.size());
}

std::string ErrorBoxText(const std::string& Message) {
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + ".";
    return Message;
}

void ShowExceptionBox(const std::exception& E, TWindowHandle Owner) {
    if (dynamic_cast<const EAbort*>(&E) != nullptr) return;
    UserInterface().MessageBox(Owner, ErrorBoxText(E.what()), ApplicationTitle(),
                               MB_OK | MB_ICONSTOP);
}

// ---- the window as designed ----

const TFormDesign& RunElevatedFormDesign() {
    static const TFormDesign Design{
        "RunElevatedForm",
        "Register 64bit MAPI Proxy",
        635,
        337,
        0xFFFFFF,
        "Tahoma",
        11,
        {{
            {fcLabel1, "Label1", ckLabel, 112, 80, 0, 0, -1, 16, false},
            {fcLabel2, "Label2", ckLabel, 112, 102, 0, 0, -1, 16, false},
            {fcLabel3, "Label3", ckLabel, 112, 124, 0, 0, -1, 16, false},
            {fcLabel4, "Label4", ckLabel, 112, 27, 0, 0, -1, 19, true},
            {fcCheckBox1, "CheckBox1", ckCheckBox, 112, 149, 457, 17, 4, 16, false},
            {fcButton1, "Button1", ckButton, 88, 230, 481, 25, 1, 0, false},
            {fcButton2, "Button2", ckButton, 176, 288, 297, 25, 0, 0, false},
            {fcButton3, "Button3", ckButton, 88, 180, 481, 25, 2, 0, false},
            {fcButton4, "Button4", ckButton, 575, 180, 26, 25, 3, 0, false},
        }},
        0xD01C1C,
    };
    return Design;
}

std::array<TFormControl, 5> TabOrder() {
    return {fcButton2, fcButton1, fcButton3, fcButton4, fcCheckBox1};
}

// ---- the window's state and behaviour ----

TRunElevatedFormState::TRunElevatedFormState(IRunElevatedFormView* View)
    : PublicFolder(&GetPublicProfileFolder), LocalFolder(&GetLocalProfileFolder), FView(View) {
    // At creation: all buttons enabled and visible, the check box unchecked
    // with its caption; FormCreate and UpdateServerState set the rest.
    FControls[fcCheckBox1].Caption = "install to user public documents";
}

TRunElevatedFormState::~TRunElevatedFormState() = default;

TWindowHandle TRunElevatedFormState::Handle(TFormControl C) const {
    return FView != nullptr ? FView->ControlHandle(C) : nullptr;
}

void TRunElevatedFormState::Changed(TFormControl C) {
    if (FView != nullptr) FView->ControlChanged(C);
}

void TRunElevatedFormState::SetCaption(TFormControl C, const std::string& Caption) {
    Edit(C).Caption = Caption;
    Changed(C);
}

void TRunElevatedFormState::SetEnabled(TFormControl C, bool Enabled) {
    Edit(C).Enabled = Enabled;
    Changed(C);
}

void TRunElevatedFormState::SetVisible(TFormControl C, bool Visible) {
    Edit(C).Visible = Visible;
    Changed(C);
}

void TRunElevatedFormState::SetCheckBox1Checked(bool Checked) {
    Edit(fcCheckBox1).Checked = Checked;
    Changed(fcCheckBox1);
}

TFormControl TRunElevatedFormState::FirstFocus() const {
    for (TFormControl C : TabOrder())
        if (FControls[C].Enabled && FControls[C].Visible) return C;
    return fcCheckBox1;
}

void TRunElevatedFormState::Guarded(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& E) {
        if (FView != nullptr)
            FView->ShowError(E);
        else
            ShowExceptionBox(E, nullptr);
    }
}

void TRunElevatedFormState::Create() {
    Guarded([this] { FormCreate(); });
}

void TRunElevatedFormState::Click(TFormControl Control) {
    switch (Control) {
    case fcCheckBox1: Guarded([this] { CheckBox1Click(); }); break;
    case fcButton1: Guarded([this] { Button1Click(); }); break;
    case fcButton2: Guarded([this] { Button2Click(); }); break;
    case fcButton3: Guarded([this] { Button3Click(); }); break;
    case fcButton4: Guarded([this] { Button4Click(); }); break;
    default: break;
    }
}

void TRunElevatedFormState::FormCreate() {
    SetCaption(fcLabel1, Format("Administrator: %s", BoolToStr(IsAdministrator())));
    SetCaption(fcLabel2, Format("AdministratorAccount: %s", BoolToStr(IsAdministratorAccount())));
    SetCaption(fcLabel3, Format("UAC Enabled: %s", BoolToStr(IsUacEnabled())));
    SetCaption(fcLabel4, "KIVO Profile - MAPI 64bit Subsystem Installer");
    SetCaption(fcButton1, "Install / Register MAPI Server");
    if (SetElevationShield(Handle(fcButton1))) {
        Edit(fcButton1).Shield = true;
        Changed(fcButton1);
    }
    SetCaption(fcButton2, "UnInstall / Unregister MAPI Server");
    if (SetElevationShield(Handle(fcButton2))) {
        Edit(fcButton2).Shield = true;
        Changed(fcButton2);
    }
    SelectInstallFolder();
}

void TRunElevatedFormState::CheckBox1Click() {
    SelectInstallFolder();
}

void TRunElevatedFormState::SelectInstallFolder() {
    InstallFolder = FControls[fcCheckBox1].Checked ? PublicFolder() : LocalFolder();
    UpdateServerState();
}

void TRunElevatedFormState::UpdateServerState() {
    std::string Path = AddTrailingBackslash(InstallFolder) + ServerExeName;
    bool Present = FileExists(Path);
    if (Present) {
        SetCaption(fcButton3, SystemPathText(Path));
        SetEnabled(fcButton3, false);
    } else {
        SetCaption(fcButton3, "Download MAPI COM Server from KIVO Didazive Web Site");
        SetEnabled(fcButton3, true);
    }
    SetEnabled(fcButton1, Present);
    SetEnabled(fcButton2, Present);
    SetVisible(fcButton4, Present);
}

void TRunElevatedFormState::BeginBusy() {
    if (FView != nullptr) FView->SetBusyCursor(true);
    FBusy = true;
    SetEnabled(fcButton1, false);
    SetEnabled(fcButton2, false);
    ProcessMessages();
}

void TRunElevatedFormState::EndBusy() {
    if (FView != nullptr) FView->SetBusyCursor(false);
    FBusy = false;
    SetEnabled(fcButton1, true);
    SetEnabled(fcButton2, true);
    ProcessMessages();
}

void TRunElevatedFormState::RegisterOrUnregister(const char* Switch) {
    BeginBusy();
    try {
        std::string Params = InstallFolder + ";" + Switch;
        TWindowHandle Window = FView != nullptr ? FView->WindowHandle() : nullptr;
        uint32_t Code = RunElevated(Params, Window, [] { ProcessMessages(); });
        SetLastError(Code);
        if (Code != 0) RaiseLastOSError();
    } catch (...) {
        EndBusy();
        throw;
    }
    EndBusy();
}

void TRunElevatedFormState::Button1Click() {
    RegisterOrUnregister("/regserver");
}

void TRunElevatedFormState::Button2Click() {
    RegisterOrUnregister("/unregserver");
}

void TRunElevatedFormState::Button3Click() {
    if (!DownloadAndExtractServer()) return;
    SetEnabled(fcButton2, true);
    SetEnabled(fcButton1, true);
    SetVisible(fcButton4, true);
    SetEnabled(fcButton3, false);
}

void TRunElevatedFormState::Button4Click() {
    if (UserInterface().MessageDlg(std::string(ServerExeName) + " löschen?", mtConfirmation,
                                   MsgDlgButtons({mbYes, mbNo})) != mrYes)
        return;
    if (DeleteFile(AddTrailingBackslash(InstallFolder) + ServerExeName)) {
        SetEnabled(fcButton3, true);
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

bool TRunElevatedFormState::DownloadAndExtractServer() {
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
