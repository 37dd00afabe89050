// The drawing surface of a GL view as the drawing code sees it: a device
// context on which a rendering context is made current, whose colour buffers
// (GL_BACK_LEFT, GL_BACK_RIGHT, GL_BACK, GL_FRONT_LEFT, GL_FRONT_RIGHT, GL_FRONT)
// are selected for drawing, and whose back buffers are swapped to the front.
//
// The buffers may be the platform's own quad-buffered stereo buffers or an
// emulation of them; drawing code never calls glDrawBuffer itself.
#pragma once

#include <GL/gl.h>

class QOpenGLContext;

class CGLDeviceContext {
public:
    virtual ~CGLDeviceContext() = default;
    // Makes rc current on this surface (wglMakeCurrent(dc, rc)). False on failure.
    virtual bool MakeCurrent(QOpenGLContext* rc) = 0;
    // Leaves no context current (wglMakeCurrent(NULL, NULL)).
    virtual void ReleaseCurrent() = 0;
    // Selects the colour buffer(s) for drawing; the context must be current.
    virtual void SelectBuffer(GLenum buffer) = 0;
    // Waits for all drawing (glFinish) and makes drawing done straight into a
    // front buffer visible.
    virtual void Finish() = 0;
    // Exchanges back and front buffers and shows the new front.
    virtual void SwapBuffers() = 0;
};
