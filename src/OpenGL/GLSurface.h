// The window surface of a GL view and its stereo buffers.
//
// CGLSurfaceWindow is the QWindow the view's context draws on; it is wrapped by
// QWidget::createWindowContainer and installed as the view's client area. It
// forwards mouse, wheel and key events to the view and asks it to paint.
//
// CGLWindowDC is the view's device context on that window. When the platform
// grants a quad-buffered (stereo) format and the view presents in Stereo, the
// real GL_BACK_LEFT / GL_BACK_RIGHT / GL_FRONT_LEFT buffers are used. Otherwise
// (Mesa, most desktops) they are emulated by one framebuffer object with four
// colour textures (back left, back right, front left, front right) and a depth
// buffer: SwapBuffers exchanges back and front, and presenting composites the
// front pair into the window (anaglyph, side by side or one eye).
#pragma once

#include <GL/gl.h>

#include <QImage>
#include <QSurfaceFormat>
#include <QWindow>
#include <memory>
#include <vector>

#include "Utils/GLDeviceContext.h"

class CScrollView;
class QOpenGLContext;

// How the two eyes reach the screen.
enum class StereoPresentation {
    Stereo,      // the platform's quad buffers (only where granted)
    Anaglyph,    // left eye in red, right eye in green and blue
    SideBySide,  // left eye in the left half, right eye in the right half
    LeftOnly,
    RightOnly
};

class CGLSurfaceWindow : public QWindow {
    Q_OBJECT
public:
    explicit CGLSurfaceWindow(CScrollView* pView);
    void DetachView() { m_pView = nullptr; }

protected:
    bool event(QEvent* event) override;
    void exposeEvent(QExposeEvent* event) override;

private:
    CScrollView* m_pView;  // not owned; the view owns this window's container
};

class CGLWindowDC : public CGLDeviceContext {
public:
    explicit CGLWindowDC(QWindow* pWindow);
    ~CGLWindowDC() override;

    QWindow* GetWindow() const { return m_pWindow; }

    // Pixel format: sets the format on the window and (re)creates its native
    // window. False when no native window can be had.
    bool SetPixelFormat(const QSurfaceFormat& format);
    const QSurfaceFormat& GetPixelFormat() const { return m_format; }

    bool MakeCurrent(QOpenGLContext* rc) override;
    void ReleaseCurrent() override;
    void SelectBuffer(GLenum buffer) override;
    void Finish() override;
    void SwapBuffers() override;

    // Size of the eye buffers in pixels (the client size); the context must be current.
    void Resize(int width, int height);
    // Frees the emulation buffers; the context must be current (before it is deleted).
    void ReleaseResources();

    // The real stereo buffers are in use (not the emulation).
    bool IsRealStereo() const { return m_bRealStereo; }
    void SetPresentation(StereoPresentation mode, bool bSwapEyes);
    StereoPresentation GetPresentation() const { return m_presentation; }
    bool GetSwapEyes() const { return m_bSwapEyes; }

    // Reads an RGB rectangle (GL window coordinates, bottom row first) of
    // GL_BACK_LEFT, GL_BACK_RIGHT, GL_FRONT_LEFT or GL_FRONT_RIGHT; the context
    // must be current. Empty on failure.
    std::vector<unsigned char> ReadPixels(GLenum buffer, int x, int y, int w, int h);
    // Composites the front pair as presented and reads it back (top row first).
    QImage GrabPresented();

    // Whether the platform grants a double-buffered stereo format with a depth
    // buffer; probed once with a throwaway window.
    static bool IsStereoGranted();
    // The format asked for: default RGBA, depth, double buffer, version 2.1
    // (compatibility), stereo only where granted and wanted.
    static QSurfaceFormat MakeFormat(bool bStereo, int depthBits, bool bDoubleBuffer);

private:
    struct Emulation;
    bool EnsureEmulation();
    void DestroyEmulation();
    void Present();
    void Composite(int width, int height);
    void AnaglyphQuad(GLuint left, GLuint right);
    GLenum AttachmentOf(GLenum buffer) const;

    QWindow* m_pWindow;  // not owned
    QOpenGLContext* m_pCurrent = nullptr;
    QSurfaceFormat m_format;
    bool m_bRealStereo = false;
    StereoPresentation m_presentation = StereoPresentation::Anaglyph;
    bool m_bSwapEyes = false;
    GLenum m_selected = GL_BACK;
    int m_nWidth = 1;
    int m_nHeight = 1;
    std::unique_ptr<Emulation> m_pEmu;
};
