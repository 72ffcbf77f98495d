#include "preview_window.h"

#include "platform.h"
#include "preview_input.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPointer>
#include <QScreen>
#include <QSurfaceFormat>
#include <QThread>
#include <QWindow>

namespace vantaro {

namespace {
constexpr int kExposeWaitMs = 3000;
// A frame's time at 60 Hz: the pace of the flip while there is nothing to show.
constexpr unsigned long kHiddenFrameMs = 16;

// Qt wants a subclass to hand a window's events to the input layer.
class PreviewWindow : public QWindow {
public:
    PreviewWindow() { setSurfaceType(QSurface::OpenGLSurface); }

protected:
    bool event(QEvent* event) override {
        TakePreviewInput(this, event);
        return QWindow::event(event);
    }
};

struct RenderSurface {
    QOpenGLContext* context = nullptr;
    QPointer<QWindow> window;
};
RenderSurface surface;

// 8 bits per colour, double-buffered, flips synchronised to the display.
QSurfaceFormat SurfaceFormat() {
    QSurfaceFormat format;
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(1);
    return format;
}

// Drawing before the first expose is undefined; the wait is bounded so a lost expose cannot hang.
void WaitUntilExposed(QWindow* window) {
    QDeadlineTimer deadline(kExposeWaitMs);
    while (!window->isExposed() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
}
} // namespace

QWindow* OpenPreviewWindow() {
    if (!qGuiApp)
        return nullptr;
    ForgetPreviewInput();
    auto* window = new PreviewWindow;
    window->setFormat(SurfaceFormat());
    window->setTitle(QString::fromUtf8(kPreviewWindowTitle));
    window->setFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ReportCloseRequests(window);
    // Without a window manager nothing enlarges a maximised window, so it starts at the full size.
    window->setGeometry(window->screen()->availableGeometry());
    window->showMaximized();
    if (!window->handle()) {
        delete window;
        return nullptr;
    }
    window->requestActivate();
    WaitUntilExposed(window);
    return window;
}

int ClientWidth(const QWindow* window) {
    return int(window->width() * window->devicePixelRatio());
}

int ClientHeight(const QWindow* window) {
    return int(window->height() * window->devicePixelRatio());
}

void ClosePreviewWindow(QWindow* window) {
    // close() would raise a close request of its own, which the main loop would take as the end.
    delete window;
}

bool StartRenderSurfaceFacility() {
    if (!qGuiApp)
        return false;
    QOpenGLContext probe;
    probe.setFormat(SurfaceFormat());
    return probe.create();
}

bool OpenRenderSurface(QWindow* window) {
    CloseRenderSurface();
    if (!window)
        return false;
    auto* context = new QOpenGLContext;
    context->setFormat(window->requestedFormat());
    if (!context->create() || !context->makeCurrent(window)) {
        delete context;
        return false;
    }
    surface = { context, window };
    return true;
}

bool RenderSurfaceOpen() {
    return surface.context != nullptr;
}

void FitViewportToSurface() {
    if (!surface.context || !surface.window)
        return;
    surface.context->functions()->glViewport(0, 0, ClientWidth(surface.window), ClientHeight(surface.window));
}

void FlipBuffers() {
    if (surface.context && surface.window && surface.window->isExposed()) {
        surface.context->swapBuffers(surface.window);
        return;
    }
    // A minimised window has no buffers to flip; keep the frame loop at a display's pace anyway.
    QThread::msleep(kHiddenFrameMs);
}

void CloseRenderSurface() {
    if (surface.context) {
        surface.context->doneCurrent();
        delete surface.context;
    }
    surface = {};
    ReleaseMouse();
}

} // namespace vantaro
