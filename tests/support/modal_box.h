#pragma once
// Answers the modal windows a command opens while the test waits inside that command.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QWidget;

namespace vantaro::test {

// What one modal window showed.
struct ModalSeen {
    bool seen = false;
    QString title;
    QString text; // a message box's text, or the labels of another dialog
    QStringList buttons; // the texts of its push buttons, left to right
    bool questionIcon = false;
    bool noIcon = false;
    QString defaultButton;
};

// How to answer: press the button with this text, or run `act` on the window instead.
struct ModalAnswer {
    QString button;
    std::function<void(QWidget*)> act;
};

// Queues an answer for the next modal window that appears; answers are used in order.
// Presses the button with this text:
std::shared_ptr<ModalSeen> AnswerNextModal(const QString& button);
// Or acts on the window in another way (types, presses Escape, closes it):
std::shared_ptr<ModalSeen> AnswerNextModalWith(std::function<void(QWidget*)> act);
// Forgets answers that no window used; true when there were none.
bool AllModalsAnswered();

// Runs the event loop until `done` holds or the time runs out; true when it held.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

} // namespace vantaro::test
