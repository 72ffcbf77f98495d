#pragma once
// Counts how often PreviewWindow was shown, flashes included.

#include <QObject>

namespace vantaro::test {

class PreviewWindowWatch : public QObject {
public:
    PreviewWindowWatch();
    ~PreviewWindowWatch() override;
    int shown = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace vantaro::test
