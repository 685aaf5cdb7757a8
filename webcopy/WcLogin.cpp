#include "webcopy/WcLogin.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <functional>
#include <memory>

#include "webcopy/WcArt.h"
#include "webcopy/WcProgressView.h"

namespace kivo::webcopy {

namespace {
std::function<void(TWcLoginForm&)>& ShownHook() {
    static std::function<void(TWcLoginForm&)> Hook;
    return Hook;
}
} // namespace

void SetLoginShownHook(std::function<void(TWcLoginForm&)> Hook) {
    ShownHook() = std::move(Hook);
}

QImage LoginBanner() {
    QImage Art = ToQImage(DrawLoginBannerArt()).convertToFormat(QImage::Format_RGB32);
    QPainter P(&Art);
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(Qt::white);
    QFont Font = P.font();
    Font.setPixelSize(20);
    Font.setBold(true);
    P.setFont(Font);
    P.drawText(QRect(96, 0, 220, 60), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Login"));
    P.end();
    return Art.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

TWcLoginForm::TWcLoginForm(QWidget* Parent) : QDialog(Parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(312, 184);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QPixmap::fromImage(LoginBanner()));
    Image1->setGeometry(0, 0, 320, 60); // auto-sized to the picture

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(104, 80, 193, 21);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(104, 112, 193, 21);
    Edit2->setEchoMode(QLineEdit::Password);

    Label1 = new QLabel(QStringLiteral("&User name: "), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(16, 80, 57, 13);
    Label1->setBuddy(Edit1);
    Label2 = new QLabel(QStringLiteral("&Password:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(16, 112, 49, 13);
    Label2->setBuddy(Edit2);
    // The captions are wider than their design-time boxes in some fonts.
    Label1->adjustSize();
    Label2->adjustSize();

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(144, 152, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(224, 152, 75, 25);
    Button2->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { done(1); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(2); });

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);
    Edit1->setFocus();

    if (QScreen* S = QGuiApplication::primaryScreen()) {
        QRect Area = S->availableGeometry();
        move(Area.center() - QPoint(width() / 2, height() / 2));
    }
}

bool Login(const std::string& Caption, std::string& UserName, std::string& Password) {
    if (QApplication::instance() == nullptr) return false;
    auto Form = std::make_unique<TWcLoginForm>();
    Form->setWindowTitle(QString::fromStdString(Caption));
    if (ShownHook()) {
        TWcLoginForm* Raw = Form.get();
        QTimer::singleShot(0, Raw, [Raw] {
            if (ShownHook()) ShownHook()(*Raw);
        });
    }
    int Result = Form->exec();
    if (Result != 1) return false;
    UserName = Form->Edit1->text().toStdString();
    Password = Form->Edit2->text().toStdString();
    return true;
}

} // namespace kivo::webcopy
