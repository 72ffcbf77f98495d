#include "viewer_watch.h"

#include "preview_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

namespace vantaro::test {

PreviewWindowWatch::PreviewWindowWatch() {
    qApp->installEventFilter(this);
}

PreviewWindowWatch::~PreviewWindowWatch() {
    qApp->removeEventFilter(this);
}

bool PreviewWindowWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        auto* window = qobject_cast<QWindow*>(watched);
        if (window && window->title() == QString::fromUtf8(kPreviewWindowTitle))
            ++shown;
    }
    return false;
}

} // namespace vantaro::test
