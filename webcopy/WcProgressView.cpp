#include "webcopy/WcProgressView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
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

// ---------------------------------------------------------------------------
// The clips: drawn frame by frame.

constexpr int ClipWidth = 272;
constexpr int ClipHeight = 50;

void DrawFolder(QPainter& P, QRectF R) {
    P.setPen(QPen(QColor(150, 110, 20), 1));
    P.setBrush(QColor(240, 200, 80));
    QPainterPath Tab;
    Tab.addRoundedRect(QRectF(R.left(), R.top(), R.width() * 0.4, R.height() * 0.3), 2, 2);
    P.drawPath(Tab);
    P.setBrush(QColor(250, 214, 100));
    P.drawRoundedRect(QRectF(R.left(), R.top() + R.height() * 0.15, R.width(), R.height() * 0.85),
                      2, 2);
}

void DrawGlobe(QPainter& P, QPointF C, double Rad, int Frame) {
    P.setPen(QPen(QColor(20, 60, 140), 1.2));
    P.setBrush(QColor(90, 150, 230));
    P.drawEllipse(C, Rad, Rad);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(QColor(230, 240, 255), 1));
    P.drawLine(QPointF(C.x() - Rad, C.y()), QPointF(C.x() + Rad, C.y()));
    P.drawEllipse(C, Rad, Rad * 0.45);
    // Meridians turn with the frames.
    for (int M = 0; M < 2; ++M) {
        double Phase = (Frame + M * ClipFrameCount / 2.0) / ClipFrameCount * M_PI;
        double W = std::fabs(std::cos(Phase)) * Rad;
        P.drawEllipse(C, W, Rad);
    }
}

void DrawComputer(QPainter& P, QRectF R) {
    P.setPen(QPen(QColor(60, 60, 60), 1));
    P.setBrush(QColor(200, 200, 200));
    QRectF Screen(R.left(), R.top(), R.width(), R.height() * 0.72);
    P.drawRoundedRect(Screen, 2, 2);
    P.setBrush(QColor(40, 90, 160));
    P.drawRect(Screen.adjusted(3, 3, -3, -3));
    P.setBrush(QColor(170, 170, 170));
    P.drawRect(QRectF(R.center().x() - 4, Screen.bottom(), 8, R.height() * 0.14));
    P.drawRect(QRectF(R.left() + R.width() * 0.2, R.bottom() - R.height() * 0.14, R.width() * 0.6,
                      R.height() * 0.14));
}

void DrawPaper(QPainter& P, QPointF C, double Angle) {
    P.save();
    P.translate(C);
    P.rotate(Angle);
    P.setPen(QPen(QColor(90, 90, 90), 1));
    P.setBrush(Qt::white);
    P.drawRect(QRectF(-7, -9, 14, 18));
    P.setPen(QPen(QColor(120, 140, 200), 1));
    for (int L = 0; L < 4; ++L)
        P.drawLine(QPointF(-4, -5 + L * 4), QPointF(4, -5 + L * 4));
    P.restore();
}

// A sheet flying on an arc from From to To.
void DrawFlight(QPainter& P, QPointF From, QPointF To, int Frame) {
    double T = static_cast<double>(Frame) / (ClipFrameCount - 1);
    double X = From.x() + (To.x() - From.x()) * T;
    double Y = From.y() + (To.y() - From.y()) * T - std::sin(T * M_PI) * 14;
    DrawPaper(P, QPointF(X, Y), -20 + 40 * T);
}

} // namespace

QImage ClipFrame(int ResId, int Frame) {
    Frame = ((Frame % ClipFrameCount) + ClipFrameCount) % ClipFrameCount;
    QImage Image(ClipWidth, ClipHeight, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Qt::transparent);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);
    const QRectF Left(30, 14, 40, 32), Right(ClipWidth - 70, 14, 40, 32);
    if (ResId == ClipDownload) {
        DrawGlobe(P, QPointF(50, 28), 17, Frame);
        DrawComputer(P, Right);
        DrawFlight(P, QPointF(62, 24), QPointF(Right.center().x(), 22), Frame);
    } else if (ResId == ClipUpload) {
        DrawComputer(P, Left);
        DrawGlobe(P, QPointF(ClipWidth - 50, 28), 17, Frame);
        DrawFlight(P, QPointF(Left.center().x(), 22), QPointF(ClipWidth - 62, 24), Frame);
    } else {
        DrawFolder(P, Left);
        DrawFolder(P, Right);
        DrawFlight(P, QPointF(Left.center().x(), 30), QPointF(Right.center().x(), 30), Frame);
    }
    return Image;
}

QString ElidePath(const QString& Text, const QFontMetrics& Metrics, int Width) {
    if (Metrics.horizontalAdvance(Text) <= Width) return Text;
    const QString Dots = QStringLiteral("...");
    qsizetype Cut =
        std::max(Text.lastIndexOf(QLatin1Char('/')), Text.lastIndexOf(QLatin1Char('\\')));
    QString Tail = Cut >= 0 ? Text.mid(Cut) : QString();
    QString Head = Cut >= 0 ? Text.left(Cut) : Text;
    // Drop characters from the end of the head until head + "..." + tail fits;
    // when even the tail alone is too long, shorten the tail's start.
    while (!Head.isEmpty() && Metrics.horizontalAdvance(Head + Dots + Tail) > Width)
        Head.chop(1);
    if (!Head.isEmpty() || Metrics.horizontalAdvance(Dots + Tail) <= Width)
        return Head + Dots + Tail;
    while (Tail.size() > 1 && Metrics.horizontalAdvance(Dots + Tail) > Width)
        Tail.remove(0, 1);
    return Dots + Tail;
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
        FTimer.setInterval(66);
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
