// The demo tour of the native window: the shared steps (app/TourSteps.h)
// with clicks on the window's own controls, pictures of the window and of
// each box, and each box answered with its default button.
//
//   kivo-mapi-setup-tour.exe <screenshot folder>
//
// Windows need a display: under Wine run it with xvfb-run.
#include <cstdio>
#include <string>

#include "app/TourSteps.h"
#include "app/win32/RunElevatedForm.h"
#include "platform/FileSystem.h"
#include "platform/NativeResources.h"
#include "platform/NativeUserInterface.h"
#include "runtime/Application.h"

using namespace kivo;

namespace {

class TNativeTourDriver final : public ITourDriver {
public:
    TNativeTourDriver(TRunElevatedForm& AForm, std::string AShotDir)
        : FForm(AForm), FShotDir(std::move(AShotDir)) {}

    TRunElevatedFormState& Form() override { return FForm.State(); }

    void Click(TFormControl Control) override {
        FForm.Control(Control).Click();
        ui::PumpMessages();
    }

    std::string SaveWindow(const std::string& Name) override {
        ui::PumpMessages();
        FForm.Window().Update();
        const std::string Path = NextPicture(FShotDir, Name);
        if (!FForm.Window().SavePicture(Path)) std::printf("   !! no picture of the window\n");
        return Path;
    }

    // Looks at a box on the screen, photographs it and presses its first
    // button, the default one.
    void Answer(void* Box) {
        ui::PumpMessages();
        const ui::TBoxContents Contents = ui::BoxContents(Box);
        const std::string Path = NextPicture(FShotDir, Step);
        if (!ui::SaveWindowPicture(Box, Path)) std::printf("   !! no picture of the box\n");
        const std::string Pressed = Contents.Buttons.empty() ? "" : Contents.Buttons.front();
        PrintBox(Contents.Caption, Contents.Text, Pressed, Path);
        ui::PressBoxButton(Box, ResultOf(Pressed));
    }

private:
    static int32_t ResultOf(const std::string& Caption) {
        if (Caption == MsgDlgButtonCaption(mbYes)) return mrYes;
        if (Caption == MsgDlgButtonCaption(mbNo)) return mrNo;
        if (Caption == MsgDlgButtonCaption(mbCancel)) return mrCancel;
        return mrOk;
    }

    TRunElevatedForm& FForm;
    std::string FShotDir;
};

} // namespace

int main(int argc, char** argv) {
    std::string ShotDir;
    if (!ReadTourArguments(argc, argv, ShotDir)) return 2;
    InstallWindowsViews();
    InitializeRunElevatedMain();
    std::string Reason;
    if (!ui::WindowsAvailable(&Reason)) {
        std::fprintf(stderr, "%s\n", Reason.c_str());
        return 2;
    }
    ForceDirectories(ShotDir);
    TRunElevatedForm Form;
    TNativeTourDriver Driver(Form, ShotDir);
    ui::SetBoxShownHook([&Driver](void* Box) {
        if (Box != nullptr) Driver.Answer(Box);
    });
    Form.Show();
    const int Result = RunTourSteps(Driver, ShotDir);
    ui::SetBoxShownHook(nullptr);
    FinalizeRunElevatedMain();
    return Result;
}
