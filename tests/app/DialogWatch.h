// Runs an inspection on the next modal dialog of a test as soon as it is open, then closes it.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <functional>

namespace testsupport
{

// Runs `inspect` on the next modal dialog as soon as it is open, then closes it unless the
// inspection already did. The dialog's picture goes to $ORVO_SHOT_DIR/<name>.png when that is
// set (screenshots for review).
inline void onNextDialog(const char* name, std::function<void(QWidget*)> inspect)
{
    auto* timer = new QTimer(QApplication::instance());
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, name, inspect] {
        QWidget* w = QApplication::activeModalWidget();
        if (w == nullptr || !w->isVisible())
            return;
        timer->stop();
        QApplication::processEvents();
        inspect(w);
        if (const char* shots = std::getenv("ORVO_SHOT_DIR"); shots && *name)
            w->grab().save(QString::fromUtf8(shots) + QLatin1Char('/') + QString::fromUtf8(name) +
                           QStringLiteral(".png"));
        if (w->isVisible()) {
            if (auto* d = qobject_cast<QDialog*>(w))
                d->reject();
            else
                w->close();
        }
        timer->deleteLater();
    });
    timer->start();
}

} // namespace testsupport
