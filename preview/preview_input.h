#pragma once
// The viewer's mouse and keyboard, filled from PreviewWindow's events and read at examinations.

class QEvent;
class QWindow;

namespace vantaro {

// Both true once their state is ready; they fail only without a GUI application.
bool StartMouse();
bool StartKeyboard();
// Forgets all state, frees the pointer.
void StopMouse();
void StopKeyboard();
// Forgets the keys and movement left from an earlier window: a key released after its window
// closed would otherwise stay down.
void ForgetPreviewInput();

// Takes PreviewWindow's mouse, wheel, key and focus events; the window calls this for each event.
void TakePreviewInput(QWindow* window, const QEvent* event);

// Takes the movement and wheel notches since the last examination. While `window` is active the
// pointer is hidden and held in it; otherwise it is freed and nothing is reported.
void ExamineMouse(QWindow* window);
// Horizontal movement of the last examination, positive to the right.
int MouseDeltaX();
// Whole wheel notches of the last examination, positive away from the user.
int MouseWheel();
// Shows and frees the pointer at once.
void ReleaseMouse();

// Takes the state of every key; true only while `window` is the active window.
bool ExamineKeyboard(QWindow* window);
// True when the key with this set-1 scan code was down at the last successful examination, or was
// pressed (and maybe released again) since the one before.
bool KeyPushed(int scanCode);

} // namespace vantaro
