#include "app/win32/RunElevatedForm.h"

#include "app/win32/Resources.h"
#include "platform/NativeResources.h"
#include "platform/NativeUserInterface.h"
#include "webcopy/WcProgressWin.h"

namespace kivo {

namespace {

ui::TFont FontOf(const TFormDesign& Design, const TControlLayout& L) {
    ui::TFont F;
    F.Face = Design.FontFamily;
    F.Height = L.FontPixels != 0 ? L.FontPixels : Design.FontPixels;
    F.Bold = L.Bold;
    return F;
}

} // namespace

TRunElevatedForm::TRunElevatedForm(const std::function<void(TRunElevatedFormState&)>& Prepare)
    : FState(this) {
    const TFormDesign& Design = RunElevatedFormDesign();
    ui::TWindowOptions Options;
    Options.Caption = Design.Caption;
    Options.ClientWidth = Design.ClientWidth;
    Options.ClientHeight = Design.ClientHeight;
    Options.MinimizeBox = true;
    Options.Background = Design.Color;
    Options.Font.Face = Design.FontFamily;
    Options.Font.Height = Design.FontPixels;
    FWindow = std::make_unique<ui::TNativeWindow>(Options);
    ui::SetWindowIconResource(*FWindow, IDI_KIVO_APP);

    for (const TControlLayout& L : Design.Controls) {
        const ui::TRect Bounds{L.Left, L.Top, L.Width, L.Height};
        const ui::TFont Font = FontOf(Design, L);
        const std::string& Caption = FState.Control(L.Control).Caption;
        ui::TNativeControl* C = nullptr;
        switch (L.Kind) {
        case ckLabel: {
            ui::TLabelStyle Style;
            Style.Font = Font;
            C = &FWindow->AddLabel(Bounds, Caption, Style);
            break;
        }
        case ckCheckBox: C = &FWindow->AddCheckBox(Bounds, Caption, &Font); break;
        case ckButton:
            C = &FWindow->AddButton(Bounds, Caption);
            C->SetFont(Font);
            break;
        }
        FControls[L.Control] = C;
    }
    // Button4 shows image 0 of the image list, the waste bin, centred. The
    // icons come in the sizes of the window's screen, again when it moves
    // to one of another density.
    ui::SetButtonIconResource(*FControls[fcButton4], IDI_KIVO_WASTEBIN, 16);
    FWindow->OnDpiChanged = [this] {
        ui::SetWindowIconResource(*FWindow, IDI_KIVO_APP);
        ui::SetButtonIconResource(*FControls[fcButton4], IDI_KIVO_WASTEBIN, 16);
    };
    std::array<TFormControl, 5> Order = TabOrder();
    FWindow->SetTabOrder({FControls[Order[0]], FControls[Order[1]], FControls[Order[2]],
                          FControls[Order[3]], FControls[Order[4]]});

    FControls[fcCheckBox1]->OnClick = [this] {
        FState.SetCheckBox1Checked(FControls[fcCheckBox1]->Checked());
        FState.Click(fcCheckBox1);
    };
    for (TFormControl B : {fcButton1, fcButton2, fcButton3, fcButton4})
        FControls[B]->OnClick = [this, B] { FState.Click(B); };

    // An error while the window is created is shown; the window still opens.
    if (Prepare) Prepare(FState);
    FState.Create();
}

TRunElevatedForm::~TRunElevatedForm() {
    if (FState.Busy()) FWindow->SetBusyCursor(false);
}

void TRunElevatedForm::ControlChanged(TFormControl Control) {
    const TControlState& S = FState.Control(Control);
    ui::TNativeControl& C = *FControls[Control];
    if (C.Text() != S.Caption) C.SetText(S.Caption);
    if (C.Kind() == ui::TControlKind::Label) return;
    if (C.Enabled() != S.Enabled) C.SetEnabled(S.Enabled);
    if (C.Visible() != S.Visible) C.SetVisible(S.Visible);
    if (C.Kind() == ui::TControlKind::CheckBox && C.Checked() != S.Checked) C.SetChecked(S.Checked);
    // The state sent the shield message through the user interface; a
    // user interface that does not reach the button (a test's stand-in)
    // leaves it to the view. The shield is never taken off again.
    if (S.Shield && !FShieldShown[Control]) {
        C.SetShield(true);
        FShieldShown[Control] = true;
    }
}

void TRunElevatedForm::ShowError(const std::exception& E) {
    ShowExceptionBox(E, FWindow->Handle());
}

void TRunElevatedForm::Show() {
    FWindow->Show();
    FControls[FState.FirstFocus()]->SetFocus();
    ui::PumpMessages();
}

void TRunElevatedForm::Run() {
    Show();
    FWindow->RunModal();
}

void InstallWindowsViews() {
    // "Tahoma" is the system's own on Windows. Wine lists no Tahoma of its
    // own in every installation: then the Tahoma-metric face of Wine's font
    // package is loaded from the host's folder (drive Z: under Wine), its
    // regular face only, as the Qt view does (the system emboldens it).
    const char* const Face = RunElevatedFormDesign().FontFamily;
    if (!ui::FontFaceAvailable(Face)) ui::AddPrivateFontFile("Z:/usr/share/wine/fonts/tahoma.ttf");
    ui::InstallNativeUserInterface();
    // The web copy engine's progress and login dialogs, and the pump.
    webcopy::InstallWin32Views();
}

} // namespace kivo
