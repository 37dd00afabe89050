#include "OpenGL/GLSurface.h"

#include <GL/glext.h>

#include <QCoreApplication>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <algorithm>
#include <cstring>
#include <utility>

#include "Framework/ScrollView.h"

// ---------------------------------------------------------------------------
// Surface window

CGLSurfaceWindow::CGLSurfaceWindow(CScrollView* pView) : m_pView(pView) {
    setSurfaceType(QSurface::OpenGLSurface);
    // Keyboard focus stays with the view widget in the main window: a native
    // child window that took focus on a click would be forgotten by menus,
    // toolbars and dialogs, which give focus back to the focus widget they
    // found (none), and every key would be lost until the next click.
    setFlag(Qt::WindowDoesNotAcceptFocus);
}

bool CGLSurfaceWindow::event(QEvent* event) {
    if (!m_pView) return QWindow::event(event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            // A press makes the view's top-level window the active one, as Qt
            // does for a press into any window that takes focus. This window
            // takes none, and without a window manager nothing else gives the
            // X input focus back to the top-level window once a dialog has
            // closed: keys would still reach the view under the pointer, but
            // the window's shortcuts and menu keys need an active window.
            // Asked before the press is handled, so that a dialog the press
            // opens stays in front.
            if (!m_pView->isActiveWindow()) m_pView->activateWindow();
            [[fallthrough]];
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            // The window lies exactly over the view's client area, so window
            // positions are client positions.
            QCoreApplication::sendEvent(m_pView->viewport(), event);
            if (event->type() == QEvent::MouseButtonPress && !m_pView->hasFocus())
                m_pView->setFocus(Qt::MouseFocusReason);
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            QCoreApplication::sendEvent(m_pView, event);
            return true;
        case QEvent::UpdateRequest:
            m_pView->RedrawNow();
            return true;
        default:
            return QWindow::event(event);
    }
}

void CGLSurfaceWindow::exposeEvent(QExposeEvent*) {
    if (m_pView && isExposed()) m_pView->RedrawNow();
}

// ---------------------------------------------------------------------------
// Emulated stereo buffers

namespace {

// Attachment slots of the emulation framebuffer.
enum Slot { kBackLeft = 0, kBackRight = 1, kFrontLeft = 2, kFrontRight = 3 };

// Entry points of GL 1.3 (multitexturing), fetched like the rest.
using ActiveTextureProc = void (*)(GLenum);
using MultiTexCoord2fProc = void (*)(GLenum, GLfloat, GLfloat);

template <class F>
F Resolve(QOpenGLContext* ctx, const char* name, const char* extName) {
    QFunctionPointer p = ctx->getProcAddress(name);
    if (!p && extName) p = ctx->getProcAddress(extName);
    return reinterpret_cast<F>(p);
}

}  // namespace

struct CGLWindowDC::Emulation {
    QOpenGLContext* ctx = nullptr;
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
    PFNGLFRAMEBUFFERTEXTURE2DPROC FramebufferTexture2D = nullptr;
    PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
    PFNGLDRAWBUFFERSPROC DrawBuffers = nullptr;
    ActiveTextureProc ActiveTexture = nullptr;
    MultiTexCoord2fProc MultiTexCoord2f = nullptr;

    GLuint fbo = 0;
    GLuint tex[4] = {0, 0, 0, 0};
    GLuint depth = 0;
    int width = 0;
    int height = 0;
    // Which texture plays which buffer; swapping exchanges back and front.
    int slot[4] = {0, 1, 2, 3};
    bool frontDirty = false;

    bool Load(QOpenGLContext* c) {
        ctx = c;
        GenFramebuffers =
            Resolve<PFNGLGENFRAMEBUFFERSPROC>(c, "glGenFramebuffers", "glGenFramebuffersEXT");
        DeleteFramebuffers = Resolve<PFNGLDELETEFRAMEBUFFERSPROC>(c, "glDeleteFramebuffers",
                                                                  "glDeleteFramebuffersEXT");
        BindFramebuffer =
            Resolve<PFNGLBINDFRAMEBUFFERPROC>(c, "glBindFramebuffer", "glBindFramebufferEXT");
        FramebufferTexture2D = Resolve<PFNGLFRAMEBUFFERTEXTURE2DPROC>(c, "glFramebufferTexture2D",
                                                                      "glFramebufferTexture2DEXT");
        GenRenderbuffers =
            Resolve<PFNGLGENRENDERBUFFERSPROC>(c, "glGenRenderbuffers", "glGenRenderbuffersEXT");
        DeleteRenderbuffers = Resolve<PFNGLDELETERENDERBUFFERSPROC>(c, "glDeleteRenderbuffers",
                                                                    "glDeleteRenderbuffersEXT");
        BindRenderbuffer =
            Resolve<PFNGLBINDRENDERBUFFERPROC>(c, "glBindRenderbuffer", "glBindRenderbufferEXT");
        RenderbufferStorage = Resolve<PFNGLRENDERBUFFERSTORAGEPROC>(c, "glRenderbufferStorage",
                                                                    "glRenderbufferStorageEXT");
        FramebufferRenderbuffer = Resolve<PFNGLFRAMEBUFFERRENDERBUFFERPROC>(
            c, "glFramebufferRenderbuffer", "glFramebufferRenderbufferEXT");
        CheckFramebufferStatus = Resolve<PFNGLCHECKFRAMEBUFFERSTATUSPROC>(
            c, "glCheckFramebufferStatus", "glCheckFramebufferStatusEXT");
        DrawBuffers = Resolve<PFNGLDRAWBUFFERSPROC>(c, "glDrawBuffers", "glDrawBuffersARB");
        ActiveTexture = Resolve<ActiveTextureProc>(c, "glActiveTexture", "glActiveTextureARB");
        MultiTexCoord2f =
            Resolve<MultiTexCoord2fProc>(c, "glMultiTexCoord2f", "glMultiTexCoord2fARB");
        return GenFramebuffers && DeleteFramebuffers && BindFramebuffer && FramebufferTexture2D &&
               GenRenderbuffers && DeleteRenderbuffers && BindRenderbuffer && RenderbufferStorage &&
               FramebufferRenderbuffer && CheckFramebufferStatus && DrawBuffers;
    }

    // (Re)allocates the four colour textures and the depth buffer; context current.
    bool Allocate(int w, int h) {
        if (!fbo) {
            GenFramebuffers(1, &fbo);
            glGenTextures(4, tex);
            GenRenderbuffers(1, &depth);
        }
        width = w;
        height = h;
        GLint oldTex = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &oldTex);
        BindFramebuffer(GL_FRAMEBUFFER, fbo);
        for (int i = 0; i < 4; ++i) {
            glBindTexture(GL_TEXTURE_2D, tex[i]);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
            FramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + static_cast<GLenum>(i),
                                 GL_TEXTURE_2D, tex[i], 0);
        }
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(oldTex));
        BindRenderbuffer(GL_RENDERBUFFER, depth);
        RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
        BindRenderbuffer(GL_RENDERBUFFER, 0);
        FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
        if (CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
        // New buffers start black, as a new window does.
        GLenum all[4] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2,
                         GL_COLOR_ATTACHMENT3};
        DrawBuffers(4, all);
        glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT);
        glDisable(GL_SCISSOR_TEST);
        glDisable(GL_COLOR_LOGIC_OP);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glPopAttrib();
        return true;
    }

    void Free() {
        if (fbo) {
            DeleteFramebuffers(1, &fbo);
            glDeleteTextures(4, tex);
            DeleteRenderbuffers(1, &depth);
        }
        fbo = 0;
        depth = 0;
        for (GLuint& t : tex) t = 0;
    }

    GLenum Attachment(int which) const {
        return GL_COLOR_ATTACHMENT0 + static_cast<GLenum>(slot[which]);
    }
};

// ---------------------------------------------------------------------------
// Device context

CGLWindowDC::CGLWindowDC(QWindow* pWindow) : m_pWindow(pWindow) {}

CGLWindowDC::~CGLWindowDC() = default;

QSurfaceFormat CGLWindowDC::MakeFormat(bool bStereo, int depthBits, bool bDoubleBuffer) {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    // 2.1 keeps the fixed pipeline, display lists, glDrawPixels and pixel maps;
    // a 3.x request yields a core context on Mesa.
    format.setVersion(2, 1);
    format.setProfile(QSurfaceFormat::NoProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(depthBits > 0 ? depthBits : 16);
    format.setSwapBehavior(bDoubleBuffer ? QSurfaceFormat::DoubleBuffer
                                         : QSurfaceFormat::SingleBuffer);
    format.setSwapInterval(0);
    format.setStereo(bStereo);
    return format;
}

bool CGLWindowDC::IsStereoGranted() {
    static int s_granted = -1;
    if (s_granted >= 0) return s_granted == 1;
    s_granted = 0;
    if (!QGuiApplication::instance()) return false;
    // Mesa answers a stereo request with a single-buffered visual without depth
    // rather than failing, so the grant is checked on a throwaway window.
    QSurfaceFormat format = MakeFormat(true, 16, true);
    QWindow window;
    window.setSurfaceType(QSurface::OpenGLSurface);
    window.setFormat(format);
    window.resize(16, 16);
    window.create();
    if (!window.handle()) return false;
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create() || !context.makeCurrent(&window)) return false;
    GLboolean stereo = GL_FALSE;
    GLboolean doubleBuffer = GL_FALSE;
    GLint depth = 0;
    glGetBooleanv(GL_STEREO, &stereo);
    glGetBooleanv(GL_DOUBLEBUFFER, &doubleBuffer);
    glGetIntegerv(GL_DEPTH_BITS, &depth);
    bool granted = stereo && doubleBuffer && depth > 0 && context.format().stereo();
    context.doneCurrent();
    s_granted = granted ? 1 : 0;
    return granted;
}

bool CGLWindowDC::SetPixelFormat(const QSurfaceFormat& format) {
    if (!m_pWindow) return false;
    if (m_pWindow->handle() && m_pWindow->format() != format) m_pWindow->destroy();
    m_pWindow->setFormat(format);
    m_pWindow->create();
    if (!m_pWindow->handle()) return false;
    m_format = m_pWindow->format();
    m_bRealStereo = m_format.stereo() && m_presentation == StereoPresentation::Stereo;
    return true;
}

void CGLWindowDC::SetPresentation(StereoPresentation mode, bool bSwapEyes) {
    m_presentation = mode;
    m_bSwapEyes = bSwapEyes;
    m_bRealStereo = m_format.stereo() && mode == StereoPresentation::Stereo;
}

bool CGLWindowDC::MakeCurrent(QOpenGLContext* rc) {
    if (!rc || !m_pWindow || !m_pWindow->handle()) return false;
    if (!rc->makeCurrent(m_pWindow)) return false;
    m_pCurrent = rc;
    if (m_bRealStereo) {
        if (m_pEmu) DestroyEmulation();
        return true;
    }
    if (!EnsureEmulation()) {
        rc->doneCurrent();
        m_pCurrent = nullptr;
        return false;
    }
    m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pEmu->fbo);
    return true;
}

void CGLWindowDC::ReleaseCurrent() {
    if (m_pCurrent) {
        if (m_pEmu && m_pEmu->fbo)
            m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pCurrent->defaultFramebufferObject());
        m_pCurrent->doneCurrent();
    }
    m_pCurrent = nullptr;
}

bool CGLWindowDC::EnsureEmulation() {
    if (m_pEmu && m_pEmu->ctx != m_pCurrent) m_pEmu.reset();  // another context: start again
    if (!m_pEmu) {
        auto emu = std::make_unique<Emulation>();
        if (!emu->Load(m_pCurrent)) return false;
        m_pEmu = std::move(emu);
    }
    if (!m_pEmu->fbo || m_pEmu->width != m_nWidth || m_pEmu->height != m_nHeight) {
        if (!m_pEmu->Allocate(m_nWidth, m_nHeight)) return false;
        SelectBuffer(GL_BACK);
    }
    return true;
}

void CGLWindowDC::DestroyEmulation() {
    if (m_pEmu && m_pCurrent == m_pEmu->ctx) {
        m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pCurrent->defaultFramebufferObject());
        m_pEmu->Free();
    }
    m_pEmu.reset();
}

void CGLWindowDC::ReleaseResources() {
    if (m_pEmu && m_pCurrent) DestroyEmulation();
}

void CGLWindowDC::Resize(int width, int height) {
    m_nWidth = width > 0 ? width : 1;
    m_nHeight = height > 0 ? height : 1;
    if (m_pCurrent && !m_bRealStereo) {
        EnsureEmulation();
        if (m_pEmu) m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pEmu->fbo);
    }
}

GLenum CGLWindowDC::AttachmentOf(GLenum buffer) const {
    switch (buffer) {
        case GL_BACK_LEFT:
            return m_pEmu->Attachment(kBackLeft);
        case GL_BACK_RIGHT:
            return m_pEmu->Attachment(kBackRight);
        case GL_FRONT_LEFT:
            return m_pEmu->Attachment(kFrontLeft);
        case GL_FRONT_RIGHT:
            return m_pEmu->Attachment(kFrontRight);
        default:
            return GL_NONE;
    }
}

void CGLWindowDC::SelectBuffer(GLenum buffer) {
    m_selected = buffer;
    if (!m_pCurrent) return;
    if (m_bRealStereo || !m_pEmu) {
        glDrawBuffer(buffer);
        return;
    }
    GLenum list[2] = {GL_NONE, GL_NONE};
    int n = 1;
    switch (buffer) {
        case GL_BACK:
            list[0] = AttachmentOf(GL_BACK_LEFT);
            list[1] = AttachmentOf(GL_BACK_RIGHT);
            n = 2;
            break;
        case GL_FRONT:
            list[0] = AttachmentOf(GL_FRONT_LEFT);
            list[1] = AttachmentOf(GL_FRONT_RIGHT);
            n = 2;
            break;
        case GL_LEFT:
            list[0] = AttachmentOf(GL_BACK_LEFT);
            list[1] = AttachmentOf(GL_FRONT_LEFT);
            n = 2;
            break;
        case GL_RIGHT:
            list[0] = AttachmentOf(GL_BACK_RIGHT);
            list[1] = AttachmentOf(GL_FRONT_RIGHT);
            n = 2;
            break;
        case GL_FRONT_AND_BACK: {
            GLenum all[4] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2,
                             GL_COLOR_ATTACHMENT3};
            m_pEmu->DrawBuffers(4, all);
        }
            m_pEmu->frontDirty = true;
            return;
        default:
            list[0] = AttachmentOf(buffer);
            break;
    }
    if (buffer == GL_FRONT || buffer == GL_FRONT_LEFT || buffer == GL_FRONT_RIGHT ||
        buffer == GL_LEFT || buffer == GL_RIGHT)
        m_pEmu->frontDirty = true;
    m_pEmu->DrawBuffers(n, list);
}

void CGLWindowDC::Finish() {
    if (!m_pCurrent) return;
    glFinish();
    if (!m_bRealStereo && m_pEmu && m_pEmu->frontDirty) Present();
}

void CGLWindowDC::SwapBuffers() {
    if (!m_pCurrent) return;
    if (m_bRealStereo || !m_pEmu) {
        if (m_pWindow->isExposed()) m_pCurrent->swapBuffers(m_pWindow);
        return;
    }
    std::swap(m_pEmu->slot[kBackLeft], m_pEmu->slot[kFrontLeft]);
    std::swap(m_pEmu->slot[kBackRight], m_pEmu->slot[kFrontRight]);
    SelectBuffer(m_selected);  // the selection names a role, not a texture
    Present();
}

void CGLWindowDC::Present() {
    m_pEmu->frontDirty = false;
    if (!m_pWindow->isExposed()) return;
    const qreal ratio = m_pWindow->devicePixelRatio();
    const int w = static_cast<int>(m_pWindow->width() * ratio);
    const int h = static_cast<int>(m_pWindow->height() * ratio);
    m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pCurrent->defaultFramebufferObject());
    glDrawBuffer(m_format.swapBehavior() == QSurfaceFormat::SingleBuffer ? GL_FRONT : GL_BACK);
    Composite(w, h);
    m_pCurrent->swapBuffers(m_pWindow);
    m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pEmu->fbo);
}

void CGLWindowDC::Composite(int width, int height) {
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 1.0, 0.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glDisable(GL_COLOR_LOGIC_OP);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glDisable(GL_LIGHTING);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_FOG);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glViewport(0, 0, width, height);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    // Every mode covers the whole window, so the window needs no clearing.
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);

    const GLuint left = m_pEmu->tex[m_pEmu->slot[m_bSwapEyes ? kFrontRight : kFrontLeft]];
    const GLuint right = m_pEmu->tex[m_pEmu->slot[m_bSwapEyes ? kFrontLeft : kFrontRight]];
    auto quad = [](GLuint tex, float x0, float x1) {
        glBindTexture(GL_TEXTURE_2D, tex);
        glBegin(GL_QUADS);
        glTexCoord2f(0.0f, 0.0f);
        glVertex2f(x0, 0.0f);
        glTexCoord2f(1.0f, 0.0f);
        glVertex2f(x1, 0.0f);
        glTexCoord2f(1.0f, 1.0f);
        glVertex2f(x1, 1.0f);
        glTexCoord2f(0.0f, 1.0f);
        glVertex2f(x0, 1.0f);
        glEnd();
    };
    switch (m_presentation) {
        case StereoPresentation::Stereo:  // not granted: shown as anaglyph
        case StereoPresentation::Anaglyph:
            if (m_pEmu->ActiveTexture && m_pEmu->MultiTexCoord2f) {
                // One pass: unit 0 gives the left eye, unit 1 mixes in the right
                // eye where the constant mask (0, 1, 1) says so.
                AnaglyphQuad(left, right);
            } else {
                glColorMask(GL_TRUE, GL_FALSE, GL_FALSE, GL_TRUE);
                quad(left, 0.0f, 1.0f);
                glColorMask(GL_FALSE, GL_TRUE, GL_TRUE, GL_TRUE);
                quad(right, 0.0f, 1.0f);
            }
            break;
        case StereoPresentation::SideBySide:
            quad(left, 0.0f, 0.5f);
            quad(right, 0.5f, 1.0f);
            break;
        case StereoPresentation::LeftOnly:
            quad(left, 0.0f, 1.0f);
            break;
        case StereoPresentation::RightOnly:
            quad(right, 0.0f, 1.0f);
            break;
    }
    glBindTexture(GL_TEXTURE_2D, 0);

    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glPopAttrib();  // restores the matrix mode, viewport, masks and enables
}

void CGLWindowDC::AnaglyphQuad(GLuint left, GLuint right) {
    Emulation& e = *m_pEmu;
    e.ActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, left);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    e.ActiveTexture(GL_TEXTURE1);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, right);
    const GLfloat mask[4] = {0.0f, 1.0f, 1.0f, 1.0f};
    glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, mask);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    // right * mask + left * (1 - mask)
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_INTERPOLATE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_TEXTURE);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_RGB, GL_SRC_COLOR);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB, GL_PREVIOUS);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND1_RGB, GL_SRC_COLOR);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE2_RGB, GL_CONSTANT);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND2_RGB, GL_SRC_COLOR);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_ALPHA, GL_PREVIOUS);
    glTexEnvi(GL_TEXTURE_ENV, GL_OPERAND0_ALPHA, GL_SRC_ALPHA);
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    glBegin(GL_QUADS);
    for (const auto& c : corners) {
        e.MultiTexCoord2f(GL_TEXTURE0, c[0], c[1]);
        e.MultiTexCoord2f(GL_TEXTURE1, c[0], c[1]);
        glVertex2f(c[0], c[1]);
    }
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    e.ActiveTexture(GL_TEXTURE0);
}

std::vector<unsigned char> CGLWindowDC::ReadPixels(GLenum buffer, int x, int y, int w, int h) {
    std::vector<unsigned char> pixels;
    if (!m_pCurrent || w <= 0 || h <= 0) return pixels;
    GLenum source = buffer;
    if (!m_bRealStereo && m_pEmu) {
        source = AttachmentOf(buffer);
        if (source == GL_NONE) return pixels;
    }
    pixels.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 3u);
    while (glGetError() != GL_NO_ERROR) {
    }  // only errors of this read count
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    GLint oldRead = GL_BACK;
    glGetIntegerv(GL_READ_BUFFER, &oldRead);
    glReadBuffer(source);
    glReadPixels(x, y, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glReadBuffer(static_cast<GLenum>(oldRead));
    glPopClientAttrib();
    if (glGetError() != GL_NO_ERROR) pixels.clear();
    return pixels;
}

QImage CGLWindowDC::GrabPresented() {
    if (!m_pCurrent) return QImage();
    const qreal ratio = m_pWindow->devicePixelRatio();
    const int w = std::max(1, static_cast<int>(m_pWindow->width() * ratio));
    const int h = std::max(1, static_cast<int>(m_pWindow->height() * ratio));
    QImage image(w, h, QImage::Format_RGB888);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    GLint oldRead = GL_BACK;
    glGetIntegerv(GL_READ_BUFFER, &oldRead);
    std::vector<unsigned char> rows(static_cast<size_t>(w) * static_cast<size_t>(h) * 3u);
    if (m_bRealStereo || !m_pEmu) {
        glReadBuffer(GL_FRONT_LEFT);
        glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    } else {
        // Composite again into the window's back buffer and read that.
        m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pCurrent->defaultFramebufferObject());
        GLenum back = m_format.swapBehavior() == QSurfaceFormat::SingleBuffer ? GL_FRONT : GL_BACK;
        glDrawBuffer(back);
        Composite(w, h);
        glReadBuffer(back);
        glReadPixels(0, 0, w, h, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
        m_pEmu->BindFramebuffer(GL_FRAMEBUFFER, m_pEmu->fbo);
    }
    glReadBuffer(static_cast<GLenum>(oldRead));
    glPopClientAttrib();
    for (int r = 0; r < h; ++r) {
        std::memcpy(image.scanLine(h - 1 - r), rows.data() + static_cast<size_t>(r) * w * 3u,
                    static_cast<size_t>(w) * 3u);
    }
    return image;
}
