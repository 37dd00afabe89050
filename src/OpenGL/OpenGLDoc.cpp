#include "OpenGL/OpenGLDoc.h"

#include <algorithm>

void COpenGLDoc::ExtendSceneSize(int cx, int cy) {
    m_sizeScene.cx = std::max(cx, m_sizeScene.cx);
    m_sizeScene.cy = std::max(cy, m_sizeScene.cy);
}

void COpenGLDoc::Serialize(bool /*bStoring*/) {}
