#include "webcopy/WcForms.h"

namespace kivo::webcopy {

namespace {
TFormViewFactory& FactorySlot() {
    static TFormViewFactory Factory;
    return Factory;
}
} // namespace

void SetFormViewFactory(TFormViewFactory Factory) {
    FactorySlot() = std::move(Factory);
}

// ---------------------------------------------------------------------------

TControl::TControl(TForm* AForm, const std::string& AName) : TComponent(AForm), FForm(AForm) {
    SetName(AName);
}

void TControl::Changed() {
    if (FForm != nullptr) FForm->Changed();
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    Changed();
}

void TControl::SetVisible(bool Value) {
    if (FVisible == Value) return;
    FVisible = Value;
    Changed();
}

void TControl::SetEnabled(bool Value) {
    if (FEnabled == Value) return;
    FEnabled = Value;
    Changed();
}

void TLabel::SetCaption(std::string_view Value) {
    if (FCaption == Value) return;
    FCaption.assign(Value);
    Changed();
}

void TLabel::SetAutoSize(bool Value) {
    if (FAutoSize == Value) return;
    FAutoSize = Value;
    Changed();
}

void TLabel::SetEllipsisPosition(TEllipsisPosition Value) {
    if (FEllipsis == Value) return;
    FEllipsis = Value;
    Changed();
}

void TButton::SetCaption(std::string_view Value) {
    if (FCaption == Value) return;
    FCaption.assign(Value);
    Changed();
}

void TButton::Click() {
    // Copy first: the handler may replace itself or close the form.
    std::function<void()> Handler = OnClick;
    if (Handler) Handler();
}

void TProgressBar::SetPosition(int Value) {
    if (Value < FMin) Value = FMin;
    if (Value > FMax) Value = FMax;
    if (Value == FPosition) return;
    FPosition = Value;
    Changed();
}

void TProgressBar::SetStyle(TProgressBarStyle Value) {
    if (FStyle == Value) return;
    FStyle = Value;
    Changed();
}

void TAnimate::SetCommonAVI(TCommonAVI Value) {
    FCommonAVI = Value;
    if (Value != aviNone) FResId = 0;
    Changed();
}

void TAnimate::SetResId(int Value) {
    FResId = Value;
    if (Value != 0) FCommonAVI = aviNone;
    Changed();
}

void TAnimate::SetActive(bool Value) {
    if (FActive == Value) return;
    FActive = Value;
    Changed();
}

// ---------------------------------------------------------------------------

TForm::TForm(TComponent* AOwner) : TComponent(AOwner) {}

TForm::~TForm() {
    // The view goes first: it may still look at the controls.
    FView.reset();
}

void TForm::SetCaption(std::string_view Value) {
    if (FCaption == Value) return;
    FCaption.assign(Value);
    Changed();
}

void TForm::SetWidth(int Value) {
    if (FWidth == Value) return;
    FWidth = Value;
    Changed();
}

void TForm::SetHeight(int Value) {
    if (FHeight == Value) return;
    FHeight = Value;
    Changed();
}

void TForm::SetNonClientMetrics(int CaptionHeight, int Frame) {
    FCaptionHeight = CaptionHeight;
    FFrame = Frame;
    Changed();
}

void TForm::SetSystemMenu(bool Value) {
    FSystemMenu = Value;
    Changed();
}

void TForm::SetFormStyle(TFormStyle Value) {
    FFormStyle = Value;
    Changed();
}

void TForm::Show() {
    if (FReleased) return;
    FVisible = true;
    Changed();
    if (!FView && FactorySlot()) FView = FactorySlot()(*this);
    if (FView) FView->Shown();
}

void TForm::MakeTopmost() {
    FTopmost = true;
    Changed();
    if (FView) FView->BringToTop();
}

void TForm::Hide() {
    if (!FVisible) return;
    FVisible = false;
    Changed();
    if (FView) FView->Hidden();
}

bool TForm::Close() {
    if (FReleased || FClosing) return false;
    bool CanClose = true;
    if (OnCloseQuery) OnCloseQuery(CanClose);
    if (!CanClose) return false;
    FClosing = true;
    TCloseAction Action = caHide;
    if (OnClose) OnClose(Action);
    FClosing = false;
    if (Action == caNone) return false;
    if (Action == caFree)
        Release();
    else
        Hide();
    return true;
}

void TForm::Release() {
    Hide();
    FReleased = true;
    Changed();
}

TControl* TForm::Controls(int Index) const {
    return static_cast<TControl*>(Components(Index));
}

TControl* TForm::FindControl(std::string_view Name) const {
    for (int I = 0; I < ComponentCount(); ++I)
        if (Components(I)->Name() == Name) return static_cast<TControl*>(Components(I));
    return nullptr;
}

} // namespace kivo::webcopy
