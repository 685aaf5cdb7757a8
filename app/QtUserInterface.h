// The Qt implementation of the user-interface services: message boxes and
// message dialogs with the library's German captions, the elevation shield on
// buttons, the application's error box, the message pump, and the fonts and
// pictures of the installer.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <exception>
#include <functional>
#include <string>

#include "app/RunElevatedMain.h"
#include "platform/UserInterface.h"

class QAbstractButton;
class QMessageBox;

namespace kivo {

class TQtUserInterface final : public IUserInterface {
public:
    int32_t MessageBox(TWindowHandle Owner, const std::string& Text, const std::string& Caption,
                       uint32_t Style) override;
    int32_t MessageDlg(const std::string& Msg, TMsgDlgType Type, TMsgDlgButtons Buttons) override;
    intptr_t SendMessage(TWindowHandle Window, uint32_t Msg, uintptr_t WParam,
                         intptr_t LParam) override;

    // Without a person at the keyboard (tests, the demo tour): each box is
    // shown without a modal loop, handed to the responder, which may look
    // at it and returns the button to press (nullptr: the default button),
    // and then closed.
    using TResponder = std::function<QAbstractButton*(QMessageBox& Box)>;
    TResponder Responder;

private:
    int32_t Run(QMessageBox& Box);
};

// The process-wide Qt user interface; Install makes it the one in force.
TQtUserInterface& QtUserInterface();
void InstallQtUserInterface();

// Creates the application object when none exists yet (the elevated copy
// shows its boxes before any window exists), installs the message pump
// and loads the fonts.
void EnsureGuiApplication();

// The application's top-level error box (ShowExceptionBox) over the active
// window.
void ShowException(const std::exception& E);

// "Tahoma" from the Tahoma-metric font of the system when available, else a
// sans-serif of similar width.
QString InstallerFontFamily();

// Pictures of our own: the elevation shield and the white waste bin on a red
// square, both 16 x 16 with alpha.
QPixmap ShieldPixmap();
QPixmap WasteBinPixmap();

} // namespace kivo
