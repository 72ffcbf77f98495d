#pragma once
// PreviewWindow and its render surface: the viewer's window, an OpenGL drawing area that fills
// its client area, and the buffer flip.

class QWindow;

namespace vantaro {

// The viewer's window title.
inline constexpr const char* kPreviewWindowTitle = "Vantaro (Hit Escape to exit)";

// PreviewWindow opened maximised and activated, its close requests reported as events;
// null when it cannot be made.
QWindow* OpenPreviewWindow();
// The client area's size in pixels at this moment.
int ClientWidth(const QWindow* window);
int ClientHeight(const QWindow* window);
// Destroys the window without a close request of its own.
void ClosePreviewWindow(QWindow* window);

// True when an OpenGL context with the surface's format can be made on this display.
bool StartRenderSurfaceFacility();
// True when a double-buffered surface synchronised to the display was opened over the window's
// whole client area and made current; an earlier surface is closed first.
bool OpenRenderSurface(QWindow* window);
// True while a surface is open (its context is then current).
bool RenderSurfaceOpen();
// Fits the GL viewport to the surface's present pixel size; called before each render.
void FitViewportToSurface();
// Shows the frame just rendered.
void FlipBuffers();
// Closes the surface and frees the mouse; does nothing when none is open.
void CloseRenderSurface();

} // namespace vantaro
