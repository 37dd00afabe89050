// Base document of the GL views: keeps the size of the scene the views scroll
// over, in pixels at scale 1.
#pragma once

#include "Framework/Document.h"
#include "Framework/Types.h"

class COpenGLDoc : public CDocument {
public:
    COpenGLDoc() = default;

    // Each dimension becomes the larger of the old and the given one.
    void ExtendSceneSize(int cx, int cy);
    CSize GetSceneSize() const { return m_sizeScene; }

    void Serialize(bool bStoring) override;  // stores and loads nothing

    CSize m_sizeScene{0, 0};
};
