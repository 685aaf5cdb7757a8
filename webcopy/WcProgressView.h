// The Qt view of the web copy engine's dialogs: a real window for the
// progress dialog state (WcForms.h), drawn from that state at a bounded
// rate, and the wiring that lets the engine reach Qt (views, login dialog,
// message pump, main-thread wake-up).
#pragma once

#include <QImage>
#include <QString>

#include "webcopy/WcArt.h"

class QDialog;
class QFontMetrics;

namespace kivo::webcopy {

class TForm;

// Installs the progress dialog view, the login dialog (WcLogin), a message
// pump that processes Qt events (at most every 10 ms, so per-block pumping
// stays cheap) and the wake-up for calls handed to the main thread. Needs a
// QApplication.
void InstallQtViews();

// The window that currently shows Form, or null.
QDialog* QtDialogOf(const TForm& Form);

// One frame of an animation clip (DrawClipFrame of WcArt.h) as a QImage.
QImage ClipFrame(int ResId, int Frame);
// A picture of the native window layer as a QImage (ARGB32).
QImage ToQImage(const ui::TPixelImage& Image);

// Text fitted into Width pixels the way a path is shortened (ElidePathText
// of WcArt.h with the metrics of a Qt font).
QString ElidePath(const QString& Text, const QFontMetrics& Metrics, int Width);

} // namespace kivo::webcopy
