#include "OpenGL/OpenGLView.h"

#include <GL/glu.h>

#include <QOpenGLContext>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "Framework/StatusBar.h"
#include "Framework/WinApp.h"
#include "OpenGL/OpenGLDoc.h"
#include "Platform/Platform.h"

namespace {

void PlainMessage(const char* text) {
    Platform::ShowMessage(text, Platform::MessageKind::Plain);
}

using WindowPos2iProc = void (*)(GLint, GLint);

}  // namespace

COpenGLView::COpenGLView(QWidget* parent) : CScrollView(parent) {
    // The client area is a GL window of its own; the view never erases it.
    m_pSurface = new CGLSurfaceWindow(this);
    QWidget* container = QWidget::createWindowContainer(m_pSurface, this);
    container->setAttribute(Qt::WA_OpaquePaintEvent);
    container->setAttribute(Qt::WA_NoSystemBackground);
    container->setFocusPolicy(Qt::NoFocus);
    SetClientWidget(container);
    m_presentation = StereoPresentation::Anaglyph;
}

COpenGLView::~COpenGLView() {
    if (!m_bDestroyed) OnDestroy();
    if (m_pSurface) m_pSurface->DetachView();
}

COpenGLDoc* COpenGLView::GetDocument() const {
    return static_cast<COpenGLDoc*>(CScrollView::GetDocument());
}

// ---------------------------------------------------------------------------
// Creation and destruction

int COpenGLView::OnCreate() {
    if (CScrollView::OnCreate() == -1) return -1;
    Initial();  // a failure has been reported by its message
    m_bCreated = true;
    return 0;
}

bool COpenGLView::Initial() {
    // The device context: the client window's surface.
    if (!m_pSurface) {
        PlainMessage("Couldn't get a valid DC.");
        return false;
    }
    m_pDC = std::make_unique<CGLWindowDC>(m_pSurface);
    if (!SetupPixelFormat(nullptr)) {
        PlainMessage("SetupPixelFormat failed.\n");
        return false;
    }
    m_hRC = CreateRenderingContext();
    if (!m_hRC) {
        PlainMessage("wglCreateContext failed.");
        return false;
    }
    if (!MakeCurrent()) {
        PlainMessage("Initial: wglMakeCurrent() failed.");
        return false;
    }
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glShadeModel(GL_SMOOTH);
    ReleaseCurrent();
    return true;
}

bool COpenGLView::SetupPixelFormat(const PIXELFORMATDESCRIPTOR* pPFD) {
    PIXELFORMATDESCRIPTOR pfd;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER | PFD_STEREO;
    pfd.iPixelType = PFD_TYPE_COLORINDEX;
    pfd.cColorBits = 8;
    pfd.cDepthBits = 16;
    if (!pPFD) pPFD = &pfd;

    // Closest format: whatever the pixel type asked for, a true-colour (RGBA)
    // format, since all drawing uses RGB colours and index-to-RGB pixel maps.
    // Stereo only where the platform really grants it.
    if (!m_pDC || !(pPFD->dwFlags & PFD_SUPPORT_OPENGL) || !(pPFD->dwFlags & PFD_DRAW_TO_WINDOW)) {
        PlainMessage("ChoosePixelFormat failed.");
        return false;
    }
    const bool bStereo = (pPFD->dwFlags & PFD_STEREO) && CGLWindowDC::IsStereoGranted();
    QSurfaceFormat format =
        CGLWindowDC::MakeFormat(bStereo, pPFD->cDepthBits, (pPFD->dwFlags & PFD_DOUBLEBUFFER) != 0);
    m_presentation = bStereo ? StereoPresentation::Stereo : StereoPresentation::Anaglyph;
    m_pDC->SetPresentation(m_presentation, m_bSwapEyes);
    if (!m_pDC->SetPixelFormat(format)) {
        PlainMessage("SetPixelFormat failed.");
        return false;
    }
    if (!m_pDC->GetPixelFormat().stereo() && m_presentation == StereoPresentation::Stereo) {
        m_presentation = StereoPresentation::Anaglyph;
        m_pDC->SetPresentation(m_presentation, m_bSwapEyes);
    }
    return true;
}

std::unique_ptr<QOpenGLContext> COpenGLView::CreateRenderingContext() {
    if (!m_pDC) return nullptr;
    auto context = std::make_unique<QOpenGLContext>();
    context->setFormat(m_pDC->GetPixelFormat());
    if (!context->create()) return nullptr;
    // The drawing needs the fixed pipeline (display lists, glDrawPixels).
    if (context->format().profile() == QSurfaceFormat::CoreProfile) return nullptr;
    return context;
}

void COpenGLView::OnDestroy() {
    if (m_bDestroyed) return;
    m_bDestroyed = true;
    m_rubberBand.SetContext(nullptr, nullptr);
    if (m_hRC) {
        if (MakeCurrent()) {
            m_pDC->ReleaseResources();
            ReleaseCurrent();
        }
        m_hRC.reset();  // deleting a QOpenGLContext cannot fail
    }
    m_pDC.reset();
    CScrollView::OnDestroy();
}

void COpenGLView::OnInitialUpdate() {
    CScrollView::OnInitialUpdate();
    SetScrollSizes(CSize(m_nWidth, m_nHeight));
    m_rubberBand.SetContext(m_hRC.get(), m_pDC.get());
}

// ---------------------------------------------------------------------------
// Context and buffers

bool COpenGLView::MakeCurrent() {
    return m_pDC && m_hRC && m_pDC->MakeCurrent(m_hRC.get());
}

void COpenGLView::ReleaseCurrent() {
    if (m_pDC) m_pDC->ReleaseCurrent();
}

void COpenGLView::SelectBuffer(GLenum buffer) {
    if (!m_pDC) return;
    // A selection recorded in a display list would name a texture of the
    // emulated buffers that a later swap gives another role.
    GLint list = 0;
    glGetIntegerv(GL_LIST_INDEX, &list);
    if (list != 0) Platform::DebugTrace("SelectBuffer called while compiling a display list\n");
    m_pDC->SelectBuffer(buffer);
}

void COpenGLView::SwapBuffers() {
    if (m_pDC) m_pDC->SwapBuffers();
}

void COpenGLView::Finish() {
    if (m_pDC)
        m_pDC->Finish();
    else
        glFinish();
}

bool COpenGLView::SetPresentation(StereoPresentation mode) {
    if (mode == StereoPresentation::Stereo && !(m_pDC && m_pDC->GetPixelFormat().stereo()))
        return false;
    m_presentation = mode;
    if (m_pDC) m_pDC->SetPresentation(mode, m_bSwapEyes);
    Invalidate();
    return true;
}

void COpenGLView::SetSwapEyes(bool bSwap) {
    m_bSwapEyes = bSwap;
    if (m_pDC) m_pDC->SetPresentation(m_presentation, m_bSwapEyes);
    Invalidate();
}

bool COpenGLView::IsRealStereo() const {
    return m_pDC && m_pDC->IsRealStereo();
}

std::vector<unsigned char> COpenGLView::ReadBufferPixels(GLenum buffer, int x, int y, int w,
                                                         int h) {
    std::vector<unsigned char> pixels;
    if (!MakeCurrent()) return pixels;
    pixels = m_pDC->ReadPixels(buffer, x, y, w, h);
    ReleaseCurrent();
    return pixels;
}

QImage COpenGLView::GrabPresentedImage() {
    if (!MakeCurrent()) return QImage();
    QImage image = m_pDC->GrabPresented();
    ReleaseCurrent();
    return image;
}

// ---------------------------------------------------------------------------
// Resize and projection

void COpenGLView::OnSize(int cx, int cy) {
    CScrollView::OnSize(cx, cy);
    if (cx < 1 || cy < 1) return;  // minimised or empty: nothing changes
    m_nWidth = cx;
    m_nHeight = cy;
    m_dAspect = static_cast<double>(cx) / static_cast<double>(cy);
    if (!m_bCreated) return;  // sizes before window creation are applied by OnCreate's first resize
    if (!MakeCurrent()) {
        PlainMessage("OnSize: wglMakeCurrent() failed.");
        return;
    }
    m_pDC->Resize(cx, cy);
    while (glGetError() != GL_NO_ERROR) {
    }
    glViewport(0, 0, cx, cy);
    if (glGetError() != GL_NO_ERROR) PlainMessage("Error while trying to set viewport.");
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    SetupViewingFrustum();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    SetupViewingTransform();
    ReleaseCurrent();
    m_rubberBand.SetClientSize(CSize(cx, cy));
    Invalidate();
}

bool COpenGLView::SetupViewingFrustum() {
    // One unit per pixel, y up from the bottom edge of the client area.
    glOrtho(0.0, static_cast<double>(m_nWidth), 0.0, static_cast<double>(m_nHeight), m_dNear,
            m_dFar);
    if (glGetError() != GL_NO_ERROR) {
        PlainMessage("Error while trying to set viewing frustum.");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Drawing

void COpenGLView::Invalidate() {
    if (m_pSurface && m_pSurface->isExposed()) m_pSurface->requestUpdate();
}

void COpenGLView::RedrawNow() {
    if (m_bInDraw || m_bDestroyed || !m_bCreated) return;
    m_bInDraw = true;
    OnDraw(nullptr);
    m_bInDraw = false;
}

void COpenGLView::OnDraw(QPainter*) {
    if (!MakeCurrent()) {
        PlainMessage("OnDraw: wglMakeCurrent() failed.");
        return;
    }
    ClearBuffers();
    glPushMatrix();
    DrawScene();
    glPopMatrix();
    glFinish();
    SwapBuffers();
    ReleaseCurrent();
}

void COpenGLView::ClearBuffers() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void COpenGLView::DrawScene() {
    glScalef(10.0f, 10.0f, 1.0f);
    glBegin(GL_LINES);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(1.0f, 0.0f, 0.0f);
    glVertex3f(1.0f, 0.0f, 0.0f);
    glVertex3f(0.9f, 0.1f, 0.0f);
    glVertex3f(1.0f, 0.0f, 0.0f);
    glVertex3f(0.9f, -0.1f, 0.0f);
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 1.0f, 0.0f);
    glVertex3f(0.0f, 1.0f, 0.0f);
    glVertex3f(0.1f, 0.9f, 0.0f);
    glVertex3f(0.0f, 1.0f, 0.0f);
    glVertex3f(-0.1f, 0.9f, 0.0f);
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 0.0f, 0.0f);
    glVertex3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, 0.1f, 0.9f);
    glVertex3f(0.0f, 0.0f, 1.0f);
    glVertex3f(0.0f, -0.1f, 0.9f);
    glEnd();
}

void COpenGLView::RenderShapes() {
    glTranslatef(0.0f, 0.5f, 0.0f);
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    if (GLUquadric* quadric = gluNewQuadric()) {
        gluQuadricDrawStyle(quadric, GLU_FILL);
        gluSphere(quadric, 50.0, 16, 16);
        gluDeleteQuadric(quadric);
    }
    // Wire cube of edge 2 centred on the origin.
    glColor3f(0.5f, 0.5f, 1.0f);
    glLineWidth(4.0f);
    static const float v[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                                  {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
    static const int edges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                     {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    glBegin(GL_LINES);
    for (const auto& e : edges) {
        glVertex3fv(v[e[0]]);
        glVertex3fv(v[e[1]]);
    }
    glEnd();
}

bool COpenGLView::InitGreyMap() {
    for (int i = 0; i < 256; ++i)
        m_greyMap[static_cast<size_t>(i)] = static_cast<float>(i) / 255.0f;
    return true;
}

bool COpenGLView::InitAlphaMap() {
    m_alphaMap.fill(1.0f);
    return true;
}

void COpenGLView::ApplyGreyMap() {
    glPixelMapfv(GL_PIXEL_MAP_I_TO_B, 256, m_greyMap.data());
    glPixelMapfv(GL_PIXEL_MAP_I_TO_G, 256, m_greyMap.data());
    glPixelMapfv(GL_PIXEL_MAP_I_TO_R, 256, m_greyMap.data());
}

void COpenGLView::ApplyAlphaMap() {
    glPixelMapfv(GL_PIXEL_MAP_I_TO_A, 256, m_alphaMap.data());
}

void COpenGLView::DrawIndexedPixels(int rasterX, int rasterY, int width, int height,
                                    const unsigned char* pixels) {
    if (!pixels || width <= 0 || height <= 0) return;
    // Only the part inside the viewport is drawn, and it is cut out here: the
    // rasteriser's own clipping of colour-index images at the viewport edges
    // and its row-skip and row-length unpacking are not to be trusted.
    const long long x0 = std::max<long long>(0, rasterX);
    const long long y0 = std::max<long long>(0, rasterY);
    const long long x1 = std::min<long long>(m_nWidth, static_cast<long long>(rasterX) + width);
    const long long y1 = std::min<long long>(m_nHeight, static_cast<long long>(rasterY) + height);
    if (x1 <= x0 || y1 <= y0) return;
    const int cw = static_cast<int>(x1 - x0);
    const int ch = static_cast<int>(y1 - y0);
    const unsigned char* src = pixels;
    if (cw != width || ch != height) {
        m_cropBuffer.resize(static_cast<size_t>(cw) * static_cast<size_t>(ch));
        for (int r = 0; r < ch; ++r) {
            const size_t srcRow = static_cast<size_t>(y0 - rasterY + r);
            std::memcpy(
                m_cropBuffer.data() + static_cast<size_t>(r) * cw,
                pixels + srcRow * static_cast<size_t>(width) + static_cast<size_t>(x0 - rasterX),
                static_cast<size_t>(cw));
        }
        src = m_cropBuffer.data();
    }

    QOpenGLContext* ctx = QOpenGLContext::currentContext();
    if (!ctx) return;
    auto windowPos = reinterpret_cast<WindowPos2iProc>(ctx->getProcAddress("glWindowPos2i"));

    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    // No effect on bytes, but keeps the rasteriser from reusing an image it
    // cached for the same address with older pixel maps.
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_TRUE);
    // Index lookup through the I_TO_* maps happens in RGBA mode anyway; the
    // colour maps (R_TO_R ...) must stay off.
    glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
    glPixelTransferi(GL_INDEX_SHIFT, 0);
    glPixelTransferi(GL_INDEX_OFFSET, 0);
    ApplyGreyMap();
    if (windowPos) {
        windowPos(static_cast<GLint>(x0), static_cast<GLint>(y0));
    } else {
        glRasterPos2i(static_cast<GLint>(x0), static_cast<GLint>(y0));
    }
    glDrawPixels(cw, ch, GL_COLOR_INDEX, GL_UNSIGNED_BYTE, src);
    glPopClientAttrib();
}

// ---------------------------------------------------------------------------
// Zoom

void COpenGLView::ApplyScale(double factor) {
    const CPoint pos = GetScrollPosition();
    const CRect client = GetClientRect();
    const double halfW = client.Width() / 2.0;
    const double halfH = client.Height() / 2.0;
    m_dScale *= factor;
    CSize scene = GetDocument() ? GetDocument()->GetSceneSize() : CSize();
    CSize total(static_cast<int>(scene.cx * m_dScale), static_cast<int>(scene.cy * m_dScale));
    SetScrollSizes(total);
    // The point at the centre of the view stays there.
    int x = total.cx < client.Width() ? 0 : static_cast<int>((pos.x + halfW) * factor - halfW);
    int y = total.cy < client.Height() ? 0 : static_cast<int>((pos.y + halfH) * factor - halfH);
    ScrollToPosition(CPoint(x, y));
    RedrawNow();
}

void COpenGLView::ZoomIn() {
    ApplyScale(m_dZoomFactor);
}

void COpenGLView::ZoomOut() {
    ApplyScale(1.0 / m_dZoomFactor);
}

void COpenGLView::ZoomReset() {
    m_dScale = 1.0;
    SetScrollSizes(GetDocument() ? GetDocument()->GetSceneSize() : CSize());
    RedrawNow();
}

// ---------------------------------------------------------------------------
// Read-outs

void COpenGLView::ShowText(const QString& text) {
    if (m_pStatusBar) m_pStatusBar->SetPaneText(0, text);
}

namespace {
template <class T>
QString FormatValues(int n, const T* values, const char* format) {
    std::string text = "(";
    char item[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(item, sizeof item, format, values[i]);
        text += item;
        text += ", ";
    }
    if (n > 0) text.resize(text.size() - 2);
    text += ")";
    return QString::fromStdString(text);
}
}  // namespace

void COpenGLView::ShowValues(int n, const int* values) {
    ShowText(FormatValues(n, values, "%d"));
}

void COpenGLView::ShowValues(int n, const double* values) {
    ShowText(FormatValues(n, values, "%f"));
}

void COpenGLView::ShowValues(std::initializer_list<int> values) {
    ShowValues(static_cast<int>(values.size()), values.begin());
}

void COpenGLView::ShowValues(std::initializer_list<double> values) {
    ShowValues(static_cast<int>(values.size()), values.begin());
}

void COpenGLView::ShowRect(int a, int b, int c, int d) {
    char text[120];
    std::snprintf(text, sizeof text, "(%d, %d, %d, %d)", a, b, c, d);
    ShowText(QString::fromLatin1(text));
}

void COpenGLView::OnMouseMove(unsigned int nFlags, CPoint point) {
    if (m_pStatusBar) {
        CPoint logical = DPtoLP(point);
        char text[120];
        std::snprintf(text, sizeof text, "(%d, %d)", logical.x, logical.y);
        ShowText(QString::fromLatin1(text));
    }
    CScrollView::OnMouseMove(nFlags, point);
}

void COpenGLView::SetCursorVisible(bool bVisible) {
    if (!m_pSurface) return;
    if (bVisible)
        m_pSurface->unsetCursor();
    else
        m_pSurface->setCursor(Qt::BlankCursor);
}

// ---------------------------------------------------------------------------
// Printing: what the window shows

bool COpenGLView::OnPreparePrinting(QPrinter& printer) {
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
}

void COpenGLView::PrintTo(QPrinter& printer) {
    QImage image = GrabPresentedImage();
    if (image.isNull()) return;
    QPainter painter(&printer);
    QRect page = painter.viewport();
    QSize size = image.size().scaled(page.size(), Qt::KeepAspectRatio);
    painter.drawImage(QRect(page.topLeft(), size), image);
}

namespace {
QPrinter& PrinterOf(std::unique_ptr<QPrinter>& local) {
    if (CWinApp* app = CWinApp::GetApp()) return app->GetPrinter();
    if (!local) local = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *local;
}
}  // namespace

void COpenGLView::OnFilePrint() {
    std::unique_ptr<QPrinter> local;
    QPrinter& printer = PrinterOf(local);
    if (!OnPreparePrinting(printer)) return;
    OnBeginPrinting(printer);
    PrintTo(printer);
    OnEndPrinting(printer);
}

void COpenGLView::OnFilePrintDirect() {
    std::unique_ptr<QPrinter> local;
    QPrinter& printer = PrinterOf(local);
    OnBeginPrinting(printer);
    PrintTo(printer);
    OnEndPrinting(printer);
}

void COpenGLView::OnFilePrintPreview() {
    std::unique_ptr<QPrinter> local;
    QPrinter& printer = PrinterOf(local);
    QPrintPreviewDialog dialog(&printer, this);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* p) { PrintTo(*p); });
    dialog.exec();
}
