#include "webcopy/WcProgressView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <map>

#include "runtime/Application.h"
#include "runtime/SysUtils.h"
#include "webcopy/WcForms.h"
#include "webcopy/WcLogin.h"
#include "webcopy/Webcopy.h"

namespace kivo::webcopy {

namespace {

std::map<const TForm*, QDialog*>& Dialogs() {
    static std::map<const TForm*, QDialog*> Map;
    return Map;
}

QString Q(const std::string& Text) {
    return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}

} // namespace

QImage ToQImage(const ui::TPixelImage& Image) {
    QImage Out(Image.Width, Image.Height, QImage::Format_ARGB32);
    for (int Y = 0; Y < Image.Height; ++Y) {
        auto* Line = reinterpret_cast<QRgb*>(Out.scanLine(Y));
        for (int X = 0; X < Image.Width; ++X)
            Line[X] = Image.At(X, Y);
    }
    return Out;
}

QImage ClipFrame(int ResId, int Frame) {
    return ToQImage(DrawClipFrame(ResId, Frame));
}

QString ElidePath(const QString& Text, const QFontMetrics& Metrics, int Width) {
    return QString::fromStdString(
        ElidePathText(Text.toStdString(), Width, [&Metrics](const std::string& S) {
            return Metrics.horizontalAdvance(QString::fromStdString(S));
        }));
}

namespace {

// A label that shortens its text like a path when it does not fit.
class TPathLabel : public QLabel {
public:
    using QLabel::QLabel;
    void SetFullText(const QString& Text) {
        if (Text == FFull) return;
        FFull = Text;
        Refit();
    }
    const QString& FullText() const { return FFull; }

protected:
    void resizeEvent(QResizeEvent* Event) override {
        QLabel::resizeEvent(Event);
        Refit();
    }

private:
    // A little room to spare: glyphs may render a pixel or two wider than
    // the metrics promise, and a cut-off "..." would hide the shortening.
    void Refit() { setText(ElidePath(FFull, fontMetrics(), width() - 6)); }
    QString FFull;
};

class TClipWidget : public QWidget {
public:
    explicit TClipWidget(QWidget* Parent) : QWidget(Parent) {
        FTimer.setInterval(ClipFrameInterval);
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
            FFrame = (FFrame + 1) % ClipFrameCount;
            update();
        });
    }
    void SetClip(int ResId, bool Active) {
        if (ResId != FResId) {
            FResId = ResId;
            update();
        }
        if (Active && !FTimer.isActive()) FTimer.start();
        if (!Active && FTimer.isActive()) FTimer.stop();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter P(this);
        P.drawImage(0, 0, ClipFrame(FResId, FFrame));
    }

private:
    QTimer FTimer;
    int FResId = -1;
    int FFrame = 0;
};

class TProgressDialog;

// Renders one TForm as a QDialog.
class TQtFormView : public IFormView {
public:
    explicit TQtFormView(TForm& AForm);
    ~TQtFormView() override;
    void Shown() override;
    void Hidden() override;
    void BringToTop() override;
    void Sync();
    TForm& Form() { return FForm; }

private:
    void Build();

    TForm& FForm;
    QPointer<TProgressDialog> FDialog;
    std::map<const TControl*, QWidget*> FWidgets;
    uint64_t FSynced = UINT64_MAX;
    bool FPlaced = false;
};

class TProgressDialog : public QDialog {
public:
    explicit TProgressDialog(TQtFormView& AView) : QDialog(nullptr), FView(&AView) {
        FTimer.setInterval(40); // at most 25 repaints a second
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] {
            if (FView != nullptr) FView->Sync();
        });
        FTimer.start();
    }
    // The view (and the form) are gone; the window only waits for deletion.
    void Detach() {
        FView = nullptr;
        FTimer.stop();
    }
    bool Attached() const { return FView != nullptr; }

protected:
    void closeEvent(QCloseEvent* Event) override {
        // The form decides (its close query refuses while a run goes on).
        if (FView != nullptr && FView->Form().Visible() && !FView->Form().Close())
            Event->ignore();
        else
            Event->accept();
    }
    void reject() override {
        if (FView == nullptr) return;
        // Escape works the Cancel button, as on the original dialog.
        TForm& Form = FView->Form();
        for (int I = 0; I < Form.ControlCount(); ++I) {
            auto* B = dynamic_cast<TButton*>(Form.Controls(I));
            if (B != nullptr && B->Cancel() && B->Visible() && B->Enabled()) {
                B->Click();
                return;
            }
        }
    }

private:
    TQtFormView* FView;
    QTimer FTimer;
};

TQtFormView::TQtFormView(TForm& AForm) : FForm(AForm) {}

TQtFormView::~TQtFormView() {
    Dialogs().erase(&FForm);
    if (TProgressDialog* D = FDialog.data()) {
        D->Detach();
        D->hide();
        D->deleteLater();
    }
}

void TQtFormView::Build() {
    FDialog = new TProgressDialog(*this);
    Dialogs()[&FForm] = FDialog;
    QFont Font = FDialog->font();
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma")))
        Font.setFamily(QStringLiteral("Tahoma"));
    Font.setPointSizeF(8);
    FDialog->setFont(Font);
    for (int I = 0; I < FForm.ControlCount(); ++I) {
        TControl* C = FForm.Controls(I);
        QWidget* W = nullptr;
        if (auto* L = dynamic_cast<TLabel*>(C)) {
            W = L->EllipsisPosition() == epPathEllipsis ? new TPathLabel(FDialog)
                                                        : new QLabel(FDialog);
        } else if (auto* B = dynamic_cast<TButton*>(C)) {
            auto* Btn = new QPushButton(FDialog);
            Btn->setAutoDefault(false);
            TButton* Model = B;
            TProgressDialog* Dialog = FDialog;
            QObject::connect(Btn, &QPushButton::clicked, Dialog, [Model, Dialog] {
                if (Dialog->Attached()) Model->Click();
            });
            W = Btn;
        } else if (dynamic_cast<TProgressBar*>(C) != nullptr) {
            auto* Bar = new QProgressBar(FDialog);
            Bar->setTextVisible(false);
            W = Bar;
        } else if (dynamic_cast<TAnimate*>(C) != nullptr) {
            W = new TClipWidget(FDialog);
        }
        if (W != nullptr) {
            W->setObjectName(Q(C->Name()));
            FWidgets[C] = W;
        }
    }
}

void TQtFormView::Sync() {
    if (!FDialog || FForm.ChangeCount() == FSynced) return;
    FSynced = FForm.ChangeCount();
    TProgressDialog* D = FDialog;
    Qt::WindowFlags Flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (FForm.SystemMenu()) Flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (FForm.FormStyle() == fsStayOnTop || FForm.Topmost()) Flags |= Qt::WindowStaysOnTopHint;
    if (D->windowFlags() != Flags) {
        bool WasVisible = D->isVisible();
        D->setWindowFlags(Flags);
        if (WasVisible) D->show();
    }
    D->setWindowTitle(Q(FForm.Caption()));
    D->setFixedSize(FForm.ClientWidth(), FForm.ClientHeight());
    for (auto& [C, W] : FWidgets) {
        if (auto* L = dynamic_cast<const TLabel*>(C)) {
            if (auto* P = dynamic_cast<TPathLabel*>(W)) {
                P->setGeometry(L->Left(), L->Top(), L->Width(), L->Height());
                P->SetFullText(Q(L->Caption()));
            } else {
                auto* Lbl = static_cast<QLabel*>(W);
                Lbl->setText(Q(L->Caption()));
                Lbl->move(L->Left(), L->Top());
                if (L->AutoSize())
                    Lbl->adjustSize();
                else
                    Lbl->resize(L->Width(), L->Height());
            }
        } else if (auto* B = dynamic_cast<const TButton*>(C)) {
            auto* Btn = static_cast<QPushButton*>(W);
            Btn->setText(Q(B->Caption()));
            Btn->setGeometry(B->Left(), B->Top(), B->Width(), B->Height());
        } else if (auto* Bar = dynamic_cast<const TProgressBar*>(C)) {
            auto* QBar = static_cast<QProgressBar*>(W);
            QBar->setGeometry(Bar->Left(), Bar->Top(), Bar->Width(), Bar->Height());
            if (Bar->Style() == pbstMarquee)
                QBar->setRange(0, 0);
            else {
                QBar->setRange(Bar->Min(), Bar->Max());
                QBar->setValue(Bar->Position());
            }
        } else if (auto* A = dynamic_cast<const TAnimate*>(C)) {
            auto* Clip = static_cast<TClipWidget*>(W);
            Clip->setGeometry(A->Left(), A->Top(), ClipWidth, ClipHeight);
            Clip->SetClip(A->CommonAVI() == aviCopyFile ? 0 : A->ResId(), A->Active());
        }
        W->setVisible(C->Visible());
        W->setEnabled(C->Enabled());
    }
}

void TQtFormView::Shown() {
    if (!FDialog) Build();
    FSynced = UINT64_MAX;
    Sync();
    if (!FPlaced && FForm.Position() == poScreenCenter) {
        FPlaced = true;
        if (QScreen* S = QGuiApplication::primaryScreen()) {
            QRect Area = S->availableGeometry();
            FDialog->move(Area.center() -
                          QPoint(FForm.ClientWidth() / 2, FForm.ClientHeight() / 2));
        }
    }
    FDialog->show();
}

void TQtFormView::Hidden() {
    if (FDialog) FDialog->hide();
}

void TQtFormView::BringToTop() {
    if (!FDialog) return;
    FSynced = UINT64_MAX;
    Sync();
    FDialog->show();
    FDialog->raise();
}

} // namespace

QDialog* QtDialogOf(const TForm& Form) {
    auto It = Dialogs().find(&Form);
    return It == Dialogs().end() ? nullptr : It->second;
}

void InstallQtViews() {
    SetFormViewFactory([](TForm& Form) -> std::unique_ptr<IFormView> {
        return std::make_unique<TQtFormView>(Form);
    });
    SetLoginHook([](const std::string& Caption, std::string& User, std::string& Password) {
        return Login(Caption, User, Password);
    });
    SetMessagePump([] {
        // The transfer loops pump after every block; Qt's event processing is
        // far dearer than a block, so it runs at most every 10 ms.
        static uint64_t Last = 0;
        uint64_t Now = GetTickCount64();
        if (Now - Last < 10) return;
        Last = Now;
        QCoreApplication::processEvents();
    });
    SetSynchronizeWakeup([] {
        if (QCoreApplication* App = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                App, [] { CheckSynchronize(); }, Qt::QueuedConnection);
    });
}

} // namespace kivo::webcopy
