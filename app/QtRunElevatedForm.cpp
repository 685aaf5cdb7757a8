#include "app/QtRunElevatedForm.h"

#include <QApplication>
#include <QCursor>
#include <QFont>

#include "app/QtUserInterface.h"

namespace kivo {

namespace {

QFont InstallerFont(int PixelHeight, bool Bold = false) {
    QFont F(InstallerFontFamily());
    F.setPixelSize(PixelHeight);
    F.setBold(Bold);
    return F;
}

} // namespace

TRunElevatedForm::TRunElevatedForm(QWidget* Parent) : QWidget(Parent), FState(this) {
    EnsureGuiApplication();
    const TFormDesign& Design = RunElevatedFormDesign();
    setObjectName(QString::fromUtf8(Design.Name));
    setWindowTitle(QString::fromUtf8(Design.Caption));
    setFixedSize(Design.ClientWidth, Design.ClientHeight);
    setAutoFillBackground(true);
    QPalette Pal = palette();
    Pal.setColor(QPalette::Window, QColor::fromRgb(Design.Color));
    setPalette(Pal);
    setFont(InstallerFont(Design.FontPixels));

    Label4 = new QLabel(this);
    Label1 = new QLabel(this);
    Label2 = new QLabel(this);
    Label3 = new QLabel(this);
    // Created in tab order: Button2, Button1, Button3, Button4, CheckBox1.
    Button2 = new QPushButton(this);
    Button1 = new QPushButton(this);
    Button3 = new QPushButton(this);
    ImageList1.append(WasteBinPixmap());
    Button4 = new QPushButton(this);
    Button4->setIcon(QIcon(ImageList1.at(0)));
    Button4->setIconSize(QSize(16, 16));
    CheckBox1 = new QCheckBox(this);
    for (const TControlLayout& L : Design.Controls) {
        QWidget* W = Widget(L.Control);
        W->setObjectName(QString::fromUtf8(L.Name));
        if (L.FontPixels != 0) W->setFont(InstallerFont(L.FontPixels, L.Bold));
        if (L.Kind == ckLabel)
            W->move(L.Left, L.Top);
        else
            W->setGeometry(L.Left, L.Top, L.Width, L.Height);
    }
    for (QPushButton* B : {Button1, Button2, Button3, Button4})
        B->setAutoDefault(false);
    // The state's starting values (all enabled and shown, the check box's
    // caption), then the clicks.
    for (int C = 0; C < FormControlCount; ++C)
        ControlChanged(static_cast<TFormControl>(C));

    connect(CheckBox1, &QCheckBox::clicked, this, [this] {
        FState.SetCheckBox1Checked(CheckBox1->isChecked());
        FState.Click(fcCheckBox1);
    });
    connect(Button1, &QPushButton::clicked, this, [this] { FState.Click(fcButton1); });
    connect(Button2, &QPushButton::clicked, this, [this] { FState.Click(fcButton2); });
    connect(Button3, &QPushButton::clicked, this, [this] { FState.Click(fcButton3); });
    connect(Button4, &QPushButton::clicked, this, [this] { FState.Click(fcButton4); });

    // An error while the window is created is shown; the window still opens.
    FState.Create();
}

TRunElevatedForm::~TRunElevatedForm() {
    if (FOverrideCursor) QApplication::restoreOverrideCursor();
}

QWidget* TRunElevatedForm::Widget(TFormControl Control) const {
    switch (Control) {
    case fcLabel1: return Label1;
    case fcLabel2: return Label2;
    case fcLabel3: return Label3;
    case fcLabel4: return Label4;
    case fcCheckBox1: return CheckBox1;
    case fcButton1: return Button1;
    case fcButton2: return Button2;
    case fcButton3: return Button3;
    case fcButton4: return Button4;
    }
    return nullptr;
}

void TRunElevatedForm::CheckBox1Click() {
    FState.SetCheckBox1Checked(CheckBox1->isChecked());
    FState.CheckBox1Click();
}

void TRunElevatedForm::ControlChanged(TFormControl Control) {
    const TControlState& S = FState.Control(Control);
    const QString Caption = QString::fromStdString(S.Caption);
    if (auto* L = qobject_cast<QLabel*>(Widget(Control))) {
        if (L->text() != Caption) {
            L->setText(Caption);
            L->adjustSize();
        }
        return;
    }
    auto* B = static_cast<QAbstractButton*>(Widget(Control));
    if (B->text() != Caption) B->setText(Caption);
    if (B->isEnabled() != S.Enabled) B->setEnabled(S.Enabled);
    if (B->isHidden() == S.Visible) B->setVisible(S.Visible);
    if (B->isCheckable() && B->isChecked() != S.Checked) B->setChecked(S.Checked);
}

void TRunElevatedForm::SetBusyCursor(bool Busy) {
    if (Busy) {
        setCursor(Qt::WaitCursor);
        if (!FOverrideCursor) QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
        if (FOverrideCursor) QApplication::restoreOverrideCursor();
    }
    FOverrideCursor = Busy;
}

void TRunElevatedForm::ShowError(const std::exception& E) {
    ShowException(E);
}

void TRunElevatedForm::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (FFocusPlaced) return;
    FFocusPlaced = true;
    // The first enabled control in tab order takes the focus.
    Widget(FState.FirstFocus())->setFocus(Qt::ActiveWindowFocusReason);
}

} // namespace kivo
