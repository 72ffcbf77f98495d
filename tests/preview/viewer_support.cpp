#include "viewer_support.h"

#include "main_window.h"
#include "preview_window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QListWidget>
#include <QTest>
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

void DoubleClickListRow(int row) {
    // QTest's double-click alone lacks the press that the list view wants on the same row first.
    QListWidget* list = Ui().PanoramaList;
    QWidget* viewport = list->viewport();
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
}

} // namespace vantaro::test
