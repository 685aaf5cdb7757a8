#include "webcopy/WcProgressWin.h"

#include <map>
#include <memory>

#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "webcopy/WcArt.h"
#include "webcopy/WcForms.h"
#include "webcopy/WcLoginWin.h"
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {

// The shell's file-copy clip among its resources.
constexpr int SystemCopyClip = 161;
// The view repaints from the state at most this often (milliseconds).
constexpr unsigned SyncInterval = 40;
// Room kept free at the end of a shortened path.
constexpr int ElideSpare = 2;

class TWinFormView;

std::map<const TForm*, TWinFormView*>& Views() {
    static std::map<const TForm*, TWinFormView*> Map;
    return Map;
}

ui::TFont DialogFont() {
    return {"Tahoma", 11, false}; // 8 points
}

// Renders one TForm as a native window.
class TWinFormView : public IFormView {
public:
    explicit TWinFormView(TForm& AForm) : FForm(AForm) { Views()[&FForm] = this; }
    ~TWinFormView() override { Views().erase(&FForm); }

    void Shown() override {
        if (!FWindow) Build();
        FSynced = UINT64_MAX;
        Sync();
        FWindow->Show();
    }
    void Hidden() override {
        if (FWindow) FWindow->Hide();
    }
    void BringToTop() override {
        if (!FWindow) return;
        FSynced = UINT64_MAX;
        Sync();
        FWindow->Show();
        FWindow->Activate();
    }

    ui::TNativeWindow* Window() const { return FWindow.get(); }
    ui::TNativeControl* ControlNamed(const std::string& Name) const {
        if (Name == "AnimateClip") return FClip;
        for (auto& [C, W] : FControls)
            if (C->Name() == Name) return W;
        return nullptr;
    }

private:
    void Build();
    void Sync();
    void SyncClip(const TAnimate& A);
    void NextFrame();

    TForm& FForm;
    std::unique_ptr<ui::TNativeWindow> FWindow;
    std::map<const TControl*, ui::TNativeControl*> FControls;
    uint64_t FSynced = UINT64_MAX;
    // The animation: drawn frames in an image, or the system's clip.
    ui::TNativeControl* FFrames = nullptr;
    ui::TNativeControl* FClip = nullptr;
    bool FClipTried = false;
    bool FClipLoaded = false;
    bool FClipPlaying = false;
    int FFrameTimer = 0;
    int FResId = -1;
    int FFrame = 0;
};

void TWinFormView::Build() {
    ui::TWindowOptions O;
    O.Caption = FForm.Caption();
    O.ClientWidth = FForm.ClientWidth();
    O.ClientHeight = FForm.ClientHeight();
    O.SystemMenu = FForm.SystemMenu();
    O.TopMost = FForm.FormStyle() == fsStayOnTop || FForm.Topmost();
    O.Centered = FForm.Position() == poScreenCenter;
    O.Font = DialogFont();
    FWindow = std::make_unique<ui::TNativeWindow>(O);
    // The close box: the form decides (its close query refuses while a run
    // goes on); closing hides the window through Hidden.
    FWindow->OnCloseQuery = [this] {
        if (FForm.Visible()) FForm.Close();
        return false;
    };
    for (int I = 0; I < FForm.ControlCount(); ++I) {
        TControl* C = FForm.Controls(I);
        const ui::TRect B{C->Left(), C->Top(), C->Width(), C->Height()};
        ui::TNativeControl* W = nullptr;
        if (auto* L = dynamic_cast<TLabel*>(C)) {
            ui::TLabelStyle S;
            S.Font = DialogFont();
            // A path label is shortened here by the shared rule, so that it
            // reads as on the other systems.
            S.AutoSize = L->AutoSize() && L->EllipsisPosition() == epNone;
            W = &FWindow->AddLabel(B, "", S);
        } else if (auto* Btn = dynamic_cast<TButton*>(C)) {
            W = &FWindow->AddButton(B, Btn->Caption(),
                                    {.Default = Btn->Default(), .Cancel = Btn->Cancel()});
            TForm* Form = &FForm;
            W->OnClick = [Btn, Form] {
                if (!Form->Released()) Btn->Click();
            };
        } else if (dynamic_cast<TProgressBar*>(C) != nullptr) {
            W = &FWindow->AddProgressBar(B);
        } else if (dynamic_cast<TAnimate*>(C) != nullptr) {
            W = FFrames = &FWindow->AddImage({B.Left, B.Top, ClipWidth, ClipHeight});
        }
        if (W != nullptr) FControls[C] = W;
    }
    FWindow->SetTimer(SyncInterval, [this] { Sync(); });
    // A path is shortened anew in the fonts of another screen density.
    FWindow->OnDpiChanged = [this] {
        FSynced = UINT64_MAX;
        Sync();
    };
}

void TWinFormView::NextFrame() {
    FFrame = (FFrame + 1) % ClipFrameCount;
    if (FFrames != nullptr) FFrames->SetImage(DrawClipFrame(FResId, FFrame));
}

void TWinFormView::SyncClip(const TAnimate& A) {
    const bool System = A.CommonAVI() == aviCopyFile;
    // The system's clip where the system has it (looked for once), else
    // the drawn frames.
    if (System && !FClipTried) {
        FClipTried = true;
        FClip = &FWindow->AddAnimation({A.Left(), A.Top(), ClipWidth, ClipHeight});
        FClipLoaded = FClip->OpenSystemClip(SystemCopyClip);
        FClip->SetVisible(false);
    }
    const bool UseClip = System && FClipLoaded;
    if (FClip != nullptr) {
        FClip->SetVisible(UseClip && A.Visible());
        const bool Play = UseClip && A.Active();
        if (Play != FClipPlaying) { // playing again would restart the clip
            FClipPlaying = Play;
            FClip->SetPlaying(Play);
        }
    }
    FFrames->SetVisible(!UseClip && A.Visible());
    const int ResId = System ? 0 : A.ResId();
    if (ResId != FResId) {
        FResId = ResId;
        FFrames->SetImage(DrawClipFrame(FResId, FFrame));
    }
    const bool Run = !UseClip && A.Active();
    if (Run && FFrameTimer == 0)
        FFrameTimer = FWindow->SetTimer(ClipFrameInterval, [this] { NextFrame(); });
    if (!Run && FFrameTimer != 0) {
        FWindow->KillTimer(FFrameTimer);
        FFrameTimer = 0;
    }
}

void TWinFormView::Sync() {
    if (!FWindow || FForm.ChangeCount() == FSynced) return;
    FSynced = FForm.ChangeCount();
    ui::TNativeWindow& W = *FWindow;
    W.SetCaption(FForm.Caption());
    W.SetSystemMenu(FForm.SystemMenu());
    const bool Top = FForm.FormStyle() == fsStayOnTop || FForm.Topmost();
    if (W.TopMost() != Top) W.SetTopMost(Top);
    W.SetClientSize(FForm.ClientWidth(), FForm.ClientHeight());
    for (auto& [C, N] : FControls) {
        if (auto* A = dynamic_cast<const TAnimate*>(C)) {
            SyncClip(*A);
            continue;
        }
        if (auto* L = dynamic_cast<const TLabel*>(C)) {
            if (L->EllipsisPosition() == epPathEllipsis || !L->AutoSize()) {
                N->SetBounds({L->Left(), L->Top(), L->Width(), L->Height()});
                const int Room = L->Width() - ElideSpare;
                N->SetText(
                    L->EllipsisPosition() == epPathEllipsis
                        ? ElidePathText(L->Caption(), Room,
                                        [N](const std::string& S) { return N->TextWidth(S); })
                        : L->Caption());
            } else {
                ui::TRect B = N->Bounds();
                if (B.Left != L->Left() || B.Top != L->Top())
                    N->SetBounds({L->Left(), L->Top(), B.Width, B.Height});
                N->SetText(L->Caption());
            }
        } else if (auto* B = dynamic_cast<const TButton*>(C)) {
            N->SetText(B->Caption());
            N->SetBounds({B->Left(), B->Top(), B->Width(), B->Height()});
        } else if (auto* Bar = dynamic_cast<const TProgressBar*>(C)) {
            N->SetBounds({Bar->Left(), Bar->Top(), Bar->Width(), Bar->Height()});
            N->SetMarquee(Bar->Style() == pbstMarquee);
            if (Bar->Style() != pbstMarquee) {
                N->SetRange(Bar->Min(), Bar->Max());
                N->SetPosition(Bar->Position());
            }
        }
        N->SetVisible(C->Visible());
        N->SetEnabled(C->Enabled());
    }
}

} // namespace

ui::TNativeWindow* Win32WindowOf(const TForm& Form) {
    auto It = Views().find(&Form);
    return It == Views().end() ? nullptr : It->second->Window();
}

ui::TNativeControl* Win32ControlOf(const TForm& Form, const std::string& Name) {
    auto It = Views().find(&Form);
    return It == Views().end() ? nullptr : It->second->ControlNamed(Name);
}

void InstallWin32Views() {
    ui::PumpMessages(); // the layer belongs to this thread from now on
    SetFormViewFactory([](TForm& Form) -> std::unique_ptr<IFormView> {
        return std::make_unique<TWinFormView>(Form);
    });
    SetLoginHook([](const std::string& Caption, std::string& User, std::string& Password) {
        return Login(Caption, User, Password);
    });
    SetMessagePump([] {
        // The transfer loops pump after every block; looking at the queue
        // costs more than a block, so it happens at most every 10 ms.
        static uint64_t Last = 0;
        const uint64_t Now = GetTickCount64();
        if (Now - Last < 10) return;
        Last = Now;
        ui::PumpMessages();
    });
    SetSynchronizeWakeup([] { ui::PostToMessageLoop([] { CheckSynchronize(); }); });
}

} // namespace kivo::webcopy
