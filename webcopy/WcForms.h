// The state of a window built at run time, without any GUI library: a form
// and its controls with their texts, geometry (device pixels), visibility,
// enabled state and style. The web copy engine writes its progress dialog
// into this state; a view (the Qt dialog, a terminal rendering, nothing in
// tests) shows it. Every change bumps the form's change counter, so a view
// can repaint at its own pace by comparing counters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/Classes.h"

namespace kivo::webcopy {

class TForm;

enum TProgressBarStyle : uint8_t { pbstNormal, pbstMarquee };
enum TFormStyle : uint8_t { fsNormal, fsStayOnTop };
enum TFormBorderStyle : uint8_t { bsSizeable, bsDialog };
enum TPosition : uint8_t { poDesigned, poScreenCenter };
enum TCloseAction : uint8_t { caNone, caHide, caFree };
enum TEllipsisPosition : uint8_t { epNone, epPathEllipsis };
// The clip an animation plays: the system's file-copy clip or a clip
// resource of the program by id (257 download, 258 upload).
enum TCommonAVI : uint8_t { aviNone, aviCopyFile };

// A child of a form. Owned by the form (its TComponent owner).
class TControl : public TComponent {
public:
    TControl(TForm* AForm, const std::string& AName);

    TForm* Form() const { return FForm; }
    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
    void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);

protected:
    void Changed();

private:
    TForm* FForm;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
    const std::string& Caption() const { return FCaption; }
    void SetCaption(std::string_view Value);
    // Sized to its text by the view (the model keeps Width and Height 0).
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    TEllipsisPosition EllipsisPosition() const { return FEllipsis; }
    void SetEllipsisPosition(TEllipsisPosition Value);

private:
    std::string FCaption;
    bool FAutoSize = true;
    TEllipsisPosition FEllipsis = epNone;
};

class TButton : public TControl {
public:
    using TControl::TControl;
    const std::string& Caption() const { return FCaption; }
    void SetCaption(std::string_view Value);
    bool Default() const { return FDefault; }
    void SetDefault(bool Value) { FDefault = Value; }
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value) { FCancel = Value; }
    // What a click does; views call Click() when the user clicks an
    // enabled, visible button.
    std::function<void()> OnClick;
    void Click();

private:
    std::string FCaption;
    bool FDefault = false;
    bool FCancel = false;
};

class TProgressBar : public TControl {
public:
    using TControl::TControl;
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    void SetPosition(int Value); // kept within Min..Max
    TProgressBarStyle Style() const { return FStyle; }
    void SetStyle(TProgressBarStyle Value);

private:
    int FMin = 0, FMax = 100, FPosition = 0;
    TProgressBarStyle FStyle = pbstNormal;
};

class TAnimate : public TControl {
public:
    using TControl::TControl;
    TCommonAVI CommonAVI() const { return FCommonAVI; }
    int ResId() const { return FResId; }
    // Chooses the system clip (ResId 0) or a clip resource (CommonAVI none).
    void SetCommonAVI(TCommonAVI Value);
    void SetResId(int Value);
    bool Active() const { return FActive; }
    void SetActive(bool Value);

private:
    TCommonAVI FCommonAVI = aviNone;
    int FResId = 0;
    bool FActive = false;
};

// What renders a form. Created by the installed factory when the form is
// first shown; destroyed with the form.
class IFormView {
public:
    virtual ~IFormView() = default;
    virtual void Shown() = 0;      // the form became visible
    virtual void Hidden() = 0;     // the form was closed or hidden
    virtual void BringToTop() = 0; // made a topmost window
};
using TFormViewFactory = std::function<std::unique_ptr<IFormView>(TForm& Form)>;
// Installs the factory (empty: forms are never rendered).
void SetFormViewFactory(TFormViewFactory Factory);

class TForm : public TComponent {
public:
    // Non-client metrics at 96 pixels per inch: the caption bar and the
    // dialog frame on each side.
    static constexpr int SystemCaptionHeight = 23;
    static constexpr int SystemDialogFrame = 3;

    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    const std::string& Caption() const { return FCaption; }
    void SetCaption(std::string_view Value);

    // Outer size; the client area is what lies inside the frame and caption.
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetWidth(int Value);
    void SetHeight(int Value);
    int ClientWidth() const { return FWidth - 2 * FFrame; }
    int ClientHeight() const { return FHeight - FCaptionHeight - 2 * FFrame; }
    // The non-client sizes in force (scaled by the builder).
    void SetNonClientMetrics(int CaptionHeight, int Frame);
    int NonClientCaptionHeight() const { return FCaptionHeight; }
    int NonClientFrame() const { return FFrame; }

    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition Value) { FPosition = Value; }
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle Value) { FBorderStyle = Value; }
    // System menu and close box in the title bar.
    bool SystemMenu() const { return FSystemMenu; }
    void SetSystemMenu(bool Value);
    TFormStyle FormStyle() const { return FFormStyle; }
    void SetFormStyle(TFormStyle Value);
    bool DoubleBuffered() const { return FDoubleBuffered; }
    void SetDoubleBuffered(bool Value) { FDoubleBuffered = Value; }
    bool Topmost() const { return FTopmost; }

    // Scaling of forms used as owners: PixelsPerInch / 96 when Scaled.
    bool Scaled() const { return FScaled; }
    void SetScaled(bool Value) { FScaled = Value; }
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int Value) { FPixelsPerInch = Value; }

    bool Visible() const { return FVisible; }
    // Shows the form without modality.
    void Show();
    // Makes the form a topmost window at its current position and size.
    void MakeTopmost();
    // Asks OnCloseQuery; when allowed, hides the form and runs OnClose, whose
    // caFree answer releases it. Returns whether the form closed.
    bool Close();
    // Hides the form and marks it for destruction by its owner.
    void Release();
    bool Released() const { return FReleased; }

    std::function<void(bool& CanClose)> OnCloseQuery;
    std::function<void(TCloseAction& Action)> OnClose;

    // Children in creation order.
    int ControlCount() const { return ComponentCount(); }
    TControl* Controls(int Index) const;
    TControl* FindControl(std::string_view Name) const;

    // Bumped by every change of the form or a control.
    uint64_t ChangeCount() const { return FChangeCount; }
    void Changed() { ++FChangeCount; }

    IFormView* View() const { return FView.get(); }

private:
    void Hide();

    std::string FCaption;
    int FWidth = 0, FHeight = 0;
    int FCaptionHeight = SystemCaptionHeight, FFrame = SystemDialogFrame;
    TPosition FPosition = poDesigned;
    TFormBorderStyle FBorderStyle = bsSizeable;
    bool FSystemMenu = true;
    TFormStyle FFormStyle = fsNormal;
    bool FDoubleBuffered = false;
    bool FTopmost = false;
    bool FScaled = true;
    int FPixelsPerInch = 96;
    bool FVisible = false;
    bool FReleased = false;
    bool FClosing = false;
    uint64_t FChangeCount = 0;
    std::unique_ptr<IFormView> FView;
};

} // namespace kivo::webcopy
