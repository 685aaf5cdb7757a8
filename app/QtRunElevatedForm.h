// The Qt view of the installer window: a QWidget with the designed controls,
// drawn from the window's state (RunElevatedMain.h), whose clicks go to the
// state's handlers.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QList>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "app/RunElevatedMain.h"

namespace kivo {

class TRunElevatedForm : public QWidget, private IRunElevatedFormView {
public:
    explicit TRunElevatedForm(QWidget* Parent = nullptr);
    ~TRunElevatedForm() override;

    TRunElevatedFormState& State() { return FState; }

    // The state's handlers, for tests and the demo tour.
    void FormCreate() { FState.FormCreate(); }
    void CheckBox1Click();
    void Button1Click() { FState.Button1Click(); }
    void Button2Click() { FState.Button2Click(); }
    void Button3Click() { FState.Button3Click(); }
    void Button4Click() { FState.Button4Click(); }
    void Guarded(const std::function<void()>& Handler) { FState.Guarded(Handler); }

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QCheckBox* CheckBox1;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QList<QPixmap> ImageList1;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void ControlChanged(TFormControl Control) override;
    TWindowHandle WindowHandle() override { return this; }
    TWindowHandle ControlHandle(TFormControl Control) override { return Widget(Control); }
    void SetBusyCursor(bool Busy) override;
    void ShowError(const std::exception& E) override;
    QWidget* Widget(TFormControl Control) const;

    TRunElevatedFormState FState;
    bool FFocusPlaced = false;
    bool FOverrideCursor = false;
};

} // namespace kivo
