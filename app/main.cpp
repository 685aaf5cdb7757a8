// Program entry of the installer.
#include <QApplication>

#include "app/QtRunElevatedForm.h"
#include "app/QtUserInterface.h"
#include "runtime/Application.h"

int main(int argc, char** argv) {
    kivo::SetProgramArguments(argc, argv);
    // Module start-up, before any window exists. An elevated copy ends in
    // here; its boxes come from the Qt user interface installed first.
    kivo::InstallQtUserInterface();
    kivo::InitializeRunElevatedMain();

    QApplication App(argc, argv);
    App.setApplicationName(QString::fromStdString(kivo::ApplicationTitle()));
    kivo::EnsureGuiApplication();
    int Result;
    {
        kivo::TRunElevatedForm Form;
        Form.show();
        Result = App.exec();
    }
    kivo::FinalizeRunElevatedMain();
    return Result;
}
