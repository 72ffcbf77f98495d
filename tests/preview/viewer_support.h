#pragma once
// Helpers of the viewer's GUI tests: watching PreviewWindow, double-clicking a list row.

#include <QObject>

namespace vantaro::test {

// Counts how often PreviewWindow was shown, flashes included.
class PreviewWindowWatch : public QObject {
public:
    PreviewWindowWatch();
    ~PreviewWindowWatch() override;
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A user's double-click on PanoramaList's row: press, release, double-click, release.
void DoubleClickListRow(int row);

} // namespace vantaro::test
