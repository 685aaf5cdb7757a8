// The login dialog: asks for a user name and a password.
#pragma once

#include <QDialog>
#include <QImage>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kivo::webcopy {

class TWcLoginForm : public QDialog {
public:
    explicit TWcLoginForm(QWidget* Parent = nullptr);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QPushButton* Button1; // OK, default button, modal result 1
    QPushButton* Button2; // Cancel, cancel button, modal result 2

protected:
    void reject() override { done(2); }
};

// The banner above the fields: 320 x 60 pixels, 8 bits per pixel.
QImage LoginBanner();

// Shows the dialog modally with Caption. OK: the user name and password
// become the entered texts and the result is true; otherwise both stay as
// they were. The fields start empty. Needs a QApplication (false without).
bool Login(const std::string& Caption, std::string& UserName, std::string& Password);

// Called with the open dialog before it runs (tests answer it through this).
void SetLoginShownHook(std::function<void(TWcLoginForm&)> Hook);

} // namespace kivo::webcopy
