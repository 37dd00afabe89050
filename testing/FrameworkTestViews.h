// A scroll view for the framework's tests that records what reaches its handlers.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "Framework/ScrollView.h"

class RecordingView : public CScrollView {
public:
    int OnCreate() override {
        m_events.push_back("create");
        return 0;
    }
    void OnInitialUpdate() override {
        m_events.push_back(GetDocument() ? "initial update with document" : "initial update");
        CScrollView::OnInitialUpdate();
    }
    void OnKeyDown(unsigned int nChar, unsigned int nRepCnt, unsigned int) override {
        m_keys.push_back(nChar);
        m_repeats.push_back(nRepCnt);
    }
    void OnChar(unsigned int nChar, unsigned int, unsigned int) override {
        m_chars.push_back(nChar);
    }
    bool OnMouseWheel(unsigned int nFlags, short zDelta, CPoint point) override {
        m_wheel.push_back({static_cast<int>(nFlags), zDelta, point.x, point.y});
        return true;
    }
    std::vector<std::string> m_events;
    std::vector<unsigned int> m_keys, m_repeats, m_chars;
    std::vector<std::array<int, 4>> m_wheel;
};
