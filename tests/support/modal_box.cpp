#include "modal_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <deque>

namespace vantaro::test {

namespace {
struct Pending {
    ModalAnswer answer;
    std::shared_ptr<ModalSeen> seen;
};
std::deque<Pending> pending;
QPointer<QWidget> lastAnswered;
QTimer* watcher = nullptr;

QList<QPushButton*> ButtonsLeftToRight(QWidget* window) {
    QList<QPushButton*> buttons;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->isVisible())
            buttons.append(button);
    }
    std::sort(buttons.begin(), buttons.end(), [window](QPushButton* a, QPushButton* b) {
        return a->mapTo(window, QPoint()).x() < b->mapTo(window, QPoint()).x();
    });
    return buttons;
}

void Record(QWidget* window, ModalSeen& seen) {
    seen.seen = true;
    seen.title = window->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        seen.text = box->text();
        seen.questionIcon = box->icon() == QMessageBox::Question;
        seen.noIcon = box->icon() == QMessageBox::NoIcon;
    } else {
        QStringList labels;
        for (QLabel* label : window->findChildren<QLabel*>())
            labels.append(label->text());
        seen.text = labels.join(QLatin1Char('\n'));
    }
    for (QPushButton* button : ButtonsLeftToRight(window)) {
        seen.buttons.append(button->text().remove(QLatin1Char('&')));
        if (button->isDefault())
            seen.defaultButton = seen.buttons.back();
    }
}

void AnswerIfShown() {
    QWidget* window = QApplication::activeModalWidget();
    if (pending.empty() || !window || window == lastAnswered || !window->isVisible())
        return;
    Pending next = pending.front();
    pending.pop_front();
    lastAnswered = window;
    Record(window, *next.seen);
    if (next.answer.act) {
        next.answer.act(window);
        return;
    }
    for (QPushButton* button : ButtonsLeftToRight(window)) {
        if (button->text().remove(QLatin1Char('&')) == next.answer.button) {
            button->click();
            return;
        }
    }
    // No such button: close the window so the command goes on; the test sees the buttons.
    window->close();
}
} // namespace

namespace {
std::shared_ptr<ModalSeen> Queue(ModalAnswer answer) {
    if (!watcher) {
        watcher = new QTimer(qApp);
        QObject::connect(watcher, &QTimer::timeout, AnswerIfShown);
        watcher->start(20);
    }
    auto seen = std::make_shared<ModalSeen>();
    pending.push_back({ std::move(answer), seen });
    return seen;
}
} // namespace

std::shared_ptr<ModalSeen> AnswerNextModal(const QString& button) {
    return Queue({ button, {} });
}

std::shared_ptr<ModalSeen> AnswerNextModalWith(std::function<void(QWidget*)> act) {
    return Queue({ {}, std::move(act) });
}

bool AllModalsAnswered() {
    const bool none = pending.empty();
    pending.clear();
    return none;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace vantaro::test
