// The demo tour of the Qt window: drives the installer window through
// download, register, unregister and delete without a person at the
// keyboard, prints what happened and saves a screenshot of each window state
// and box.
//
//   kivo-mapi-setup-tour <screenshot folder>
//
// It runs the same window and handlers as the program; only the boxes are
// answered by the tour (with their default button) instead of waiting. The
// steps are the shared ones (TourSteps.h); this file clicks and photographs.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>
#include <string>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "app/TourSteps.h"
#include "runtime/Application.h"

using namespace kivo;

namespace {

class TQtTourDriver final : public ITourDriver {
public:
    TQtTourDriver(TRunElevatedForm& AForm, std::string AShotDir)
        : FForm(AForm), FShotDir(std::move(AShotDir)) {}

    TRunElevatedFormState& Form() override { return FForm.State(); }

    void Click(TFormControl Control) override {
        QWidget* W = nullptr;
        switch (Control) {
        case fcButton1: W = FForm.Button1; break;
        case fcButton2: W = FForm.Button2; break;
        case fcButton3: W = FForm.Button3; break;
        case fcButton4: W = FForm.Button4; break;
        case fcCheckBox1: W = FForm.CheckBox1; break;
        default: return;
        }
        static_cast<QAbstractButton*>(W)->click();
    }

    std::string SaveWindow(const std::string& Name) override { return Save(FForm, Name); }

    std::string Save(QWidget& W, const std::string& Name) {
        QApplication::processEvents();
        std::string Path = NextPicture(FShotDir, Name);
        W.grab().save(QString::fromStdString(Path));
        return Path;
    }

private:
    TRunElevatedForm& FForm;
    std::string FShotDir;
};

} // namespace

int main(int argc, char** argv) {
    std::string ShotDir;
    if (!ReadTourArguments(argc, argv, ShotDir)) return 2;
    InstallQtUserInterface();
    InitializeRunElevatedMain();
    QApplication App(argc, argv);
    EnsureGuiApplication();
    QDir().mkpath(QString::fromStdString(ShotDir));

    TRunElevatedForm Form;
    TQtTourDriver Driver(Form, ShotDir);
    QtUserInterface().Responder = [&Driver](QMessageBox& Box) -> QAbstractButton* {
        QAbstractButton* Pressed = Box.defaultButton();
        PrintBox(Box.windowTitle().toStdString(), Box.text().toStdString(),
                 Pressed != nullptr ? Pressed->text().toStdString() : "",
                 Driver.Save(Box, Driver.Step));
        return Pressed;
    };
    Form.show();
    const int Result = RunTourSteps(Driver, ShotDir);
    QtUserInterface().Responder = nullptr;
    FinalizeRunElevatedMain();
    return Result;
}
