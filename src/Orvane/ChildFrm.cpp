#include "Orvane/ChildFrm.h"

CChildFrame::CChildFrame(CScrollView* pView, QWidget* parent) : CMDIChildFrame(pView, parent) {}
