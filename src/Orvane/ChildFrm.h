// The frame of each document window: the framework's child frame with its
// default creation parameters.
#pragma once

#include "Framework/MDIFrame.h"

class CChildFrame : public CMDIChildFrame {
    Q_OBJECT
public:
    explicit CChildFrame(CScrollView* pView, QWidget* parent = nullptr);
};
