// Base view of the GL drawing framework: a scrolling view whose client area is
// a GL window. It owns the rendering context and the device context, sets the
// pixel projection on every resize (GL window coordinates: one unit per pixel,
// y up from the bottom edge of the client area), runs the draw cycle, keeps the
// grey-level pixel maps through which 8-bit images are drawn and writes
// read-outs into pane 0 of the main frame's status bar.
//
// Every operation that issues GL calls makes the context current first and
// releases it before returning.
#pragma once

#include <GL/gl.h>

#include <QImage>
#include <QString>
#include <array>
#include <initializer_list>
#include <memory>
#include <vector>

#include "Framework/ScrollView.h"
#include "OpenGL/GLSurface.h"
#include "Utils/RubberBand.h"

class COpenGLDoc;
class CStatusBar;
class QOpenGLContext;
class QPrinter;

// Pixel format request (the platform's 40-byte descriptor, version 1).
constexpr unsigned int PFD_DOUBLEBUFFER = 0x00000001;
constexpr unsigned int PFD_STEREO = 0x00000002;
constexpr unsigned int PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr unsigned int PFD_SUPPORT_OPENGL = 0x00000020;
constexpr unsigned char PFD_TYPE_RGBA = 0;
constexpr unsigned char PFD_TYPE_COLORINDEX = 1;

struct PIXELFORMATDESCRIPTOR {
    uint16_t nSize = 40;
    uint16_t nVersion = 1;
    uint32_t dwFlags = 0;
    uint8_t iPixelType = 0;
    uint8_t cColorBits = 0;
    uint8_t cRedBits = 0, cRedShift = 0, cGreenBits = 0, cGreenShift = 0;
    uint8_t cBlueBits = 0, cBlueShift = 0, cAlphaBits = 0, cAlphaShift = 0;
    uint8_t cAccumBits = 0, cAccumRedBits = 0, cAccumGreenBits = 0, cAccumBlueBits = 0;
    uint8_t cAccumAlphaBits = 0;
    uint8_t cDepthBits = 0;
    uint8_t cStencilBits = 0;
    uint8_t cAuxBuffers = 0;
    uint8_t iLayerType = 0;
    uint8_t bReserved = 0;
    uint32_t dwLayerMask = 0, dwVisibleMask = 0, dwDamageMask = 0;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

class COpenGLView : public CScrollView {
    Q_OBJECT
public:
    explicit COpenGLView(QWidget* parent = nullptr);
    ~COpenGLView() override;  // runs OnDestroy

    COpenGLDoc* GetDocument() const;

    // Read-outs in pane 0 of m_pStatusBar: "(v1, v2, ...)" with "%d" or "%f".
    void ShowValues(int n, const int* values);
    void ShowValues(int n, const double* values);
    void ShowValues(std::initializer_list<int> values);
    void ShowValues(std::initializer_list<double> values);
    void ShowRect(int a, int b, int c, int d);

    // Virtual operations of the GL view, in the order the deriving views meet them.
    virtual void RenderShapes();  // demonstration scene: red sphere and a wire cube
    virtual void DrawScene();     // the three axes
    virtual void ClearBuffers();  // colour and depth of the selected buffers
    virtual void SetupViewingTransform() {}
    virtual bool SetupViewingFrustum();
    virtual bool SetupPixelFormat(const PIXELFORMATDESCRIPTOR* pPFD = nullptr);
    virtual bool Initial();
    virtual bool InitGreyMap();
    virtual bool InitAlphaMap();
    virtual void ApplyGreyMap();   // I_TO_B, I_TO_G, I_TO_R of the current context
    virtual void ApplyAlphaMap();  // I_TO_A
    virtual void ZoomIn();
    virtual void ZoomOut();
    virtual void ZoomReset();

    // Framework hooks.
    int OnCreate() override;  // Initial; 0 even when Initial failed
    void OnDestroy() override;
    bool OnEraseBkgnd() { return true; }
    void OnInitialUpdate() override;
    void OnDraw(QPainter* pDC) override;  // the base draw cycle
    void OnSize(int cx, int cy) override;
    void OnMouseMove(unsigned int nFlags, CPoint point) override;
    void Invalidate() override;
    void RedrawNow() override;
    void SetCursorVisible(bool bVisible) override;

    // Printing what the view shows (the presented image).
    virtual bool OnPreparePrinting(QPrinter& printer);  // the standard print dialog
    virtual void OnBeginPrinting(QPrinter&) {}
    virtual void OnEndPrinting(QPrinter&) {}
    void OnFilePrint();         // print dialog, then print
    void OnFilePrintDirect();   // print without a dialog
    void OnFilePrintPreview();  // preview dialog
    void PrintTo(QPrinter& printer);

    // --- GL helpers for deriving views (see the draw cycle of the editing view) ---
    // Make m_hRC current on m_pDC / release it. MakeCurrent is false without a context.
    bool MakeCurrent();
    void ReleaseCurrent();
    // Selects GL_BACK_LEFT, GL_BACK_RIGHT, GL_BACK (both back), GL_FRONT_LEFT, ...
    // Never place the selection inside a display list.
    void SelectBuffer(GLenum buffer);
    void SwapBuffers();  // exchanges back and front and presents
    void Finish();       // glFinish, and shows drawing done into a front buffer

    // Draws an 8-bit colour-index image (width x height bytes, bottom row first,
    // rows packed without padding) with its lower-left pixel at GL window
    // position (rasterX, rasterY), through the grey map (m_greyMap applied to
    // red, green and blue). The part outside the viewport (0, 0, m_nWidth,
    // m_nHeight) is cropped on the CPU first. May be called while compiling a
    // display list (GL_COMPILE or GL_COMPILE_AND_EXECUTE); the context must be
    // current. Loads the grey map itself (ApplyGreyMap), so a list compiled
    // after a map change carries the new map.
    void DrawIndexedPixels(int rasterX, int rasterY, int width, int height,
                           const unsigned char* pixels);

    // Presentation of the two eyes; Stereo only where the platform grants it.
    // Default: Stereo where granted, otherwise Anaglyph. Returns false (and keeps
    // the current mode) for Stereo without a stereo format.
    bool SetPresentation(StereoPresentation mode);
    StereoPresentation GetPresentation() const { return m_presentation; }
    void SetSwapEyes(bool bSwap);
    bool GetSwapEyes() const { return m_bSwapEyes; }
    bool IsRealStereo() const;  // real quad buffers are in use

    // For tests and printing: RGB bytes of a buffer rectangle (GL window
    // coordinates, bottom row first); makes the context current itself.
    std::vector<unsigned char> ReadBufferPixels(GLenum buffer, int x, int y, int w, int h);
    QImage GrabPresentedImage();  // the image shown in the window

    CGLWindowDC* GetDC() const { return m_pDC.get(); }
    QOpenGLContext* GetRC() const { return m_hRC.get(); }
    CGLSurfaceWindow* GetSurfaceWindow() const { return m_pSurface; }

    // Members, in the order of the framework.
    CRubberBand m_rubberBand;
    double m_dScale = 1.0;
    double m_dZoomFactor = 2.0;
    CStatusBar* m_pStatusBar = nullptr;  // not owned
    std::unique_ptr<QOpenGLContext> m_hRC;
    std::unique_ptr<CGLWindowDC> m_pDC;
    double m_dFar = 100.0;
    double m_dNear = -1.0;
    int m_nHeight = 1;
    int m_nWidth = 100;
    double m_dAspect = 0.0;
    std::array<float, 256> m_greyMap{};
    std::array<float, 256> m_alphaMap{};

protected:
    // Rendering-context creation (wglCreateContext); null on failure. Tests
    // override it to exercise the failure path.
    virtual std::unique_ptr<QOpenGLContext> CreateRenderingContext();
    void ApplyScale(double factor);

private:
    void ShowText(const QString& text);

    CGLSurfaceWindow* m_pSurface = nullptr;  // owned by its container (the viewport)
    StereoPresentation m_presentation = StereoPresentation::Anaglyph;
    bool m_bSwapEyes = false;
    bool m_bDestroyed = false;
    bool m_bCreated = false;  // OnCreate has run
    bool m_bInDraw = false;
    std::vector<unsigned char> m_cropBuffer;
};
