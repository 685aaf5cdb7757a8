#include "app/QtUserInterface.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include "platform/FileSystem.h"
#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "webcopy/WcProgressView.h"

namespace kivo {

namespace {

QMessageBox::Icon IconOfStyle(uint32_t Style) {
    switch (Style & 0xF0) {
    case MB_ICONSTOP: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

QMessageBox::Icon IconOfType(TMsgDlgType Type) {
    switch (Type) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
    }
    return QMessageBox::NoIcon;
}

QWidget* OwnerWidget(TWindowHandle Owner) {
    return Owner != nullptr ? static_cast<QWidget*>(Owner) : nullptr;
}

} // namespace

int32_t TQtUserInterface::Run(QMessageBox& Box) {
    if (!Responder) {
        Box.exec();
    } else {
        Box.setModal(false);
        Box.show();
        QApplication::processEvents();
        QAbstractButton* Pressed = Responder(Box);
        if (Pressed == nullptr) Pressed = Box.defaultButton();
        if (Pressed == nullptr && !Box.buttons().isEmpty()) Pressed = Box.buttons().first();
        if (Pressed != nullptr) Pressed->click();
        Box.close();
    }
    QAbstractButton* Clicked = Box.clickedButton();
    if (Clicked == nullptr) Clicked = Box.escapeButton();
    return Clicked != nullptr ? Clicked->property("kivoResult").toInt() : IDCANCEL;
}

int32_t TQtUserInterface::MessageBox(TWindowHandle Owner, const std::string& Text,
                                     const std::string& Caption, uint32_t Style) {
    EnsureGuiApplication();
    QMessageBox Box(OwnerWidget(Owner));
    Box.setWindowTitle(QString::fromStdString(Caption));
    Box.setText(QString::fromStdString(Text));
    Box.setTextFormat(Qt::PlainText);
    Box.setIcon(IconOfStyle(Style));
    auto Add = [&](const char* Caption_, QMessageBox::ButtonRole Role, int32_t Result) {
        QPushButton* B = Box.addButton(QString::fromUtf8(Caption_), Role);
        B->setProperty("kivoResult", Result);
        return B;
    };
    switch (Style & 0x0F) {
    case MB_OKCANCEL:
        Box.setDefaultButton(Add("OK", QMessageBox::AcceptRole, IDOK));
        Box.setEscapeButton(Add("Abbrechen", QMessageBox::RejectRole, IDCANCEL));
        break;
    case MB_YESNO:
        Box.setDefaultButton(Add("&Ja", QMessageBox::YesRole, IDYES));
        Add("&Nein", QMessageBox::NoRole, IDNO);
        break;
    default: {
        QPushButton* Ok = Add("OK", QMessageBox::AcceptRole, IDOK);
        Box.setDefaultButton(Ok);
        Box.setEscapeButton(Ok);
    }
    }
    return Run(Box);
}

int32_t TQtUserInterface::MessageDlg(const std::string& Msg, TMsgDlgType Type,
                                     TMsgDlgButtons Buttons) {
    EnsureGuiApplication();
    QMessageBox Box(QApplication::activeWindow());
    Box.setWindowTitle(QString::fromUtf8(MsgDlgCaption(Type)));
    Box.setText(QString::fromStdString(Msg));
    Box.setTextFormat(Qt::PlainText);
    Box.setIcon(IconOfType(Type));
    struct TBtn {
        TMsgDlgBtn Btn;
        QMessageBox::ButtonRole Role;
        int32_t Result;
    };
    const TBtn All[] = {{mbYes, QMessageBox::YesRole, mrYes},
                        {mbNo, QMessageBox::NoRole, mrNo},
                        {mbOK, QMessageBox::AcceptRole, mrOk},
                        {mbCancel, QMessageBox::RejectRole, mrCancel}};
    QPushButton* First = nullptr;
    for (const TBtn& B : All) {
        if ((Buttons & (1u << B.Btn)) == 0) continue;
        QPushButton* P = Box.addButton(QString::fromUtf8(MsgDlgButtonCaption(B.Btn)), B.Role);
        P->setProperty("kivoResult", B.Result);
        if (First == nullptr) First = P;
        if (B.Btn == mbCancel || (B.Btn == mbNo && (Buttons & (1u << mbCancel)) == 0))
            Box.setEscapeButton(P);
    }
    if (First != nullptr) Box.setDefaultButton(First);
    return Run(Box);
}

intptr_t TQtUserInterface::SendMessage(TWindowHandle Window, uint32_t Msg, uintptr_t,
                                       intptr_t LParam) {
    auto* Button = qobject_cast<QAbstractButton*>(static_cast<QWidget*>(Window));
    if (Button == nullptr) return 0;
    if (Msg == BCM_SETSHIELD && LParam != 0) {
        Button->setIcon(QIcon(ShieldPixmap()));
        Button->setIconSize(QSize(16, 16));
        Button->setProperty("kivoShield", true);
        return 1;
    }
    return 0;
}

TQtUserInterface& QtUserInterface() {
    static TQtUserInterface Ui;
    return Ui;
}

void InstallQtUserInterface() {
    SetUserInterface(&QtUserInterface());
}

void EnsureGuiApplication() {
    if (QCoreApplication::instance() == nullptr) {
        // Only the program's name: the elevated copy's arguments are data,
        // not options for the toolkit. The object lives until the process ends.
        static int Argc = 1;
        static char Name[] = "kivo-mapi-setup";
        static char* Argv[] = {Name, nullptr};
        new QApplication(Argc, Argv);
    }
    static const bool Views = [] {
        // The web copy engine's progress and login dialogs, and its pump.
        webcopy::InstallQtViews();
        return true;
    }();
    (void)Views;
    InstallerFontFamily();
}

void ShowException(const std::exception& E) {
    ShowExceptionBox(E, QApplication::activeWindow());
}

QString InstallerFontFamily() {
    static const QString Family = [] {
        // Only the regular face: the bold face of that package renders with
        // the stroke width of the regular one, while the toolkit's own
        // emboldening of the regular face keeps the metrics and looks bold.
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
        if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
            return QStringLiteral("Tahoma");
        return QStringLiteral("DejaVu Sans");
    }();
    return Family;
}

QPixmap ShieldPixmap() {
    QPixmap Pix(16, 16);
    Pix.fill(Qt::transparent);
    QPainter P(&Pix);
    P.setRenderHint(QPainter::Antialiasing);
    QPainterPath Shield;
    Shield.moveTo(8, 1);
    Shield.lineTo(14, 3);
    Shield.lineTo(14, 8);
    Shield.cubicTo(14, 11.5, 11, 13.5, 8, 15);
    Shield.cubicTo(5, 13.5, 2, 11.5, 2, 8);
    Shield.lineTo(2, 3);
    Shield.closeSubpath();
    // Quartered: blue and gold, outlined dark.
    P.setClipPath(Shield);
    P.fillRect(QRectF(0, 0, 8, 8), QColor(0x1F, 0x5F, 0xC8));
    P.fillRect(QRectF(8, 8, 8, 8), QColor(0x1F, 0x5F, 0xC8));
    P.fillRect(QRectF(8, 0, 8, 8), QColor(0xF2, 0xC2, 0x1B));
    P.fillRect(QRectF(0, 8, 8, 8), QColor(0xF2, 0xC2, 0x1B));
    P.setClipping(false);
    P.setPen(QPen(QColor(0x20, 0x2A, 0x40), 1));
    P.drawPath(Shield);
    return Pix;
}

QPixmap WasteBinPixmap() {
    QImage Img(16, 16, QImage::Format_ARGB32);
    Img.fill(QColor(0xD0, 0x1C, 0x1C));
    QPainter P(&Img);
    const QColor White(Qt::white);
    P.fillRect(6, 2, 4, 1, White);  // handle
    P.fillRect(3, 3, 10, 2, White); // lid
    P.fillRect(4, 6, 8, 8, White);  // body
    const QColor Red(0xD0, 0x1C, 0x1C);
    for (int X : {6, 9})
        P.fillRect(X, 7, 1, 6, Red); // ribs
    P.end();
    return QPixmap::fromImage(Img);
}

} // namespace kivo
