// gtest main of the GUI test programs. The QApplication is created by a test
// environment, so listing the tests (gtest_discover_tests) needs no display.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    QtEnvironment(int argc, char** argv) : m_argc(argc), m_argv(argv) {}
    void SetUp() override {
        if (!QApplication::instance()) m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc;
    char** m_argv;
    std::unique_ptr<QApplication> m_app;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    static int s_argc = 1;
    static char* s_argv[] = {argv[0], nullptr};
    ::testing::AddGlobalTestEnvironment(new QtEnvironment(s_argc, s_argv));
    return RUN_ALL_TESTS();
}
