// Program entry of the installer on Windows.
#include "app/RunElevatedMain.h"
#include "app/win32/RunElevatedForm.h"
#include "runtime/Application.h"

int main(int argc, char** argv) {
    kivo::SetProgramArguments(argc, argv);
    // Module start-up, before any window exists. An elevated copy ends in
    // here; its boxes come from the native user interface installed first.
    kivo::InstallWindowsViews();
    kivo::InitializeRunElevatedMain();
    {
        kivo::TRunElevatedForm Form;
        Form.Run();
    }
    kivo::FinalizeRunElevatedMain();
    return 0;
}
