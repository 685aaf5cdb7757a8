// The installer window and its workflow: status lines, the install-folder
// choice, download and unpacking of the server package, register and
// unregister through the elevation support, and deleting the server program.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

namespace kivo {

// The chosen install folder, without trailing delimiter; empty at start.
extern std::string InstallFolder;
// File name of the COM server program inside InstallFolder.
extern const char* const ServerExeName; // "Zelbrix.exe"
// File name of the server package.
extern const char* const ServerZipName; // "Zelbrix.zip"
// The maker's downloads folder (ends in "/"); KIVO_DOWNLOAD_BASE_URL, an
// http:// or https:// URL, overrides it for mirrors and tests (read at each
// call).
std::string DownloadBaseUrl();
extern const char* const DefaultDownloadBaseUrl;

// The action of the elevated copy: starts the server program with the
// switch in field 2 of Parameters, in the folder of field 1, and reports the
// start in a message box. Always 0.
uint32_t ElevatedServerAction(const std::string& Parameters);

// Start-up of the module, before any window exists: clears InstallFolder,
// registers ElevatedServerAction and, when the command line carries the
// elevation switch, runs it and ends the process.
void InitializeRunElevatedMain();
// End of the module: clears InstallFolder.
void FinalizeRunElevatedMain();

// Whether this build can download (web copy engine) and unpack (archive
// engine) the server package.

class TRunElevatedForm : public QWidget {
public:
    explicit TRunElevatedForm(QWidget* Parent = nullptr);
    ~TRunElevatedForm() override;

    // Handlers, public so that tests and the demo tour can drive them.
    void FormCreate();
    void CheckBox1Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void SelectInstallFolder();
    void UpdateServerState();
    void BeginBusy();
    void EndBusy();
    bool DownloadAndExtractServer();

    // Runs a handler the way the application runs event handlers: an error
    // that escapes it goes to the application's error box.
    void Guarded(const std::function<void()>& Handler);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QCheckBox* CheckBox1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QList<QPixmap> ImageList1;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void RegisterOrUnregister(const char* Switch);
    bool FFocusPlaced = false;
    bool FBusy = false;
};

} // namespace kivo
