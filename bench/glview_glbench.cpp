// Frame cost of the GL view base at 1280 x 1024 with a full-window 8-bit image
// per eye, in each presentation mode:
//   Replay  - both eyes drawn from their display lists (the window did not move);
//   Pan     - the window moves every frame: each eye's window copy is extracted
//             again and its display list recompiled (compile and execute);
//   Present - only swapping and presenting the front pair.
// Run under Xvfb on the xcb platform, e.g.
//   xvfb-run -a -s "-screen 0 1920x1200x24" ./glview_glbench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <cstring>
#include <memory>
#include <vector>

#include "OpenGL/OpenGLView.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kSceneW = 2048;
constexpr int kSceneH = 2048;

class BenchView : public COpenGLView {
public:
    void OnDraw(QPainter*) override {}
};

struct Fixture {
    std::unique_ptr<BenchView> view;
    std::vector<unsigned char> scene[2];   // whole images, bottom row first
    std::vector<unsigned char> window[2];  // the visible window copies
    GLuint lists = 0;
    bool ok = false;

    Fixture() {
        view = std::make_unique<BenchView>();
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (!view->Create()) return;
        view->resize(kWidth, kHeight);
        view->show();
        if (!QTest::qWaitForWindowExposed(view->GetSurfaceWindow())) return;
        QApplication::processEvents();
        view->OnInitialUpdate();
        view->InitGreyMap();
        for (int eye = 0; eye < 2; ++eye) {
            scene[eye].resize(static_cast<size_t>(kSceneW) * kSceneH);
            for (int r = 0; r < kSceneH; ++r)
                for (int c = 0; c < kSceneW; ++c)
                    scene[eye][static_cast<size_t>(r) * kSceneW + c] =
                        static_cast<unsigned char>((c * 7 + r * 3 + eye * 40) & 0xFF);
            window[eye].resize(static_cast<size_t>(kWidth) * kHeight);
        }
        if (!view->MakeCurrent()) return;
        lists = glGenLists(2);
        view->ReleaseCurrent();
        ok = view->m_nWidth == kWidth && view->m_nHeight == kHeight;
    }
    ~Fixture() {
        if (view && view->MakeCurrent()) {
            glDeleteLists(lists, 2);
            view->ReleaseCurrent();
        }
    }

    // Copies the window at (x, y) of the scene, bottom row first.
    void Extract(int eye, int x, int y) {
        for (int r = 0; r < kHeight; ++r)
            std::memcpy(window[eye].data() + static_cast<size_t>(r) * kWidth,
                        scene[eye].data() + static_cast<size_t>(y + r) * kSceneW + x, kWidth);
    }

    void Compile(int eye) {
        view->SelectBuffer(eye == 0 ? GL_BACK_LEFT : GL_BACK_RIGHT);
        glNewList(lists + static_cast<GLuint>(eye), GL_COMPILE_AND_EXECUTE);
        view->DrawIndexedPixels(0, 0, kWidth, kHeight, window[eye].data());
        glEndList();
    }

    void Replay(int eye) {
        view->SelectBuffer(eye == 0 ? GL_BACK_LEFT : GL_BACK_RIGHT);
        glCallList(lists + static_cast<GLuint>(eye));
    }

    void EndFrame() {
        glFinish();
        view->SwapBuffers();
        glFinish();
        view->ReleaseCurrent();
    }
};

std::unique_ptr<Fixture> g_fixture;  // lives while the QApplication does

Fixture& Get() {
    if (!g_fixture) g_fixture = std::make_unique<Fixture>();
    return *g_fixture;
}

const StereoPresentation kModes[] = {StereoPresentation::Stereo, StereoPresentation::Anaglyph,
                                     StereoPresentation::SideBySide, StereoPresentation::LeftOnly,
                                     StereoPresentation::RightOnly};
const char* const kModeNames[] = {"Stereo", "Anaglyph", "SideBySide", "LeftOnly", "RightOnly"};

bool SetMode(benchmark::State& state) {
    Fixture& f = Get();
    if (!f.ok) {
        state.SkipWithError("no GL view");
        return false;
    }
    const auto mode = static_cast<size_t>(state.range(0));
    if (!f.view->SetPresentation(kModes[mode])) {
        state.SkipWithError("presentation not available (no stereo visual)");
        return false;
    }
    state.SetLabel(kModeNames[mode]);
    return true;
}

void BM_ReplayFrame(benchmark::State& state) {
    if (!SetMode(state)) return;
    Fixture& f = Get();
    f.view->MakeCurrent();
    f.Extract(0, 0, 0);
    f.Extract(1, 0, 0);
    f.Compile(0);
    f.Compile(1);
    f.EndFrame();
    for (auto _ : state) {
        f.view->MakeCurrent();
        f.view->SelectBuffer(GL_BACK);
        f.view->ClearBuffers();
        f.Replay(1);
        f.Replay(0);
        f.EndFrame();
    }
}

void BM_PanFrame(benchmark::State& state) {
    if (!SetMode(state)) return;
    Fixture& f = Get();
    int step = 0;
    for (auto _ : state) {
        const int x = step % (kSceneW - kWidth);
        const int y = (step * 3) % (kSceneH - kHeight);
        ++step;
        f.Extract(1, x, y);
        f.Extract(0, x, y);
        f.view->MakeCurrent();
        f.view->SelectBuffer(GL_BACK);
        f.view->ClearBuffers();
        f.Compile(1);
        f.Compile(0);
        f.EndFrame();
    }
}

void BM_PresentOnly(benchmark::State& state) {
    if (!SetMode(state)) return;
    Fixture& f = Get();
    for (auto _ : state) {
        f.view->MakeCurrent();
        f.EndFrame();
    }
}

void Modes(benchmark::internal::Benchmark* b) {
    for (int m = 0; m < 5; ++m) b->Arg(m);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_ReplayFrame)->Apply(Modes);
BENCHMARK(BM_PanFrame)->Apply(Modes);
BENCHMARK(BM_PresentOnly)->Apply(Modes);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    int qargc = 1;
    char* qargv[] = {argv[0], nullptr};
    QApplication app(qargc, qargv);
    benchmark::RunSpecifiedBenchmarks();
    g_fixture.reset();
    benchmark::Shutdown();
    return 0;
}
