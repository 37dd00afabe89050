// gtest main of the GUI test programs. The QApplication is created by a test
// environment, so listing the tests (gtest_discover_tests) needs no display.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    QtEnvironment(int argc, char** argv) : m_argc(argc), m_argv(argv) {}
    void SetUp() override {
        // Every test program keeps its settings (recent files, the file
        // dialogs' history) in a folder of its own, never in the user's.
        m_settings = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/orvane-settings-XXXXXX");
        const QByteArray dir = m_settings->path().toLocal8Bit();
        setenv("XDG_CONFIG_HOME", dir.constData(), 1);
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settings->path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings->path());
        if (!QApplication::instance()) m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override {
        m_app.reset();
        m_settings.reset();
    }

private:
    int m_argc;
    char** m_argv;
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QTemporaryDir> m_settings;
};

// Each test starts from empty settings: what one test leaves there (recent
// files, docks, the picker's last paths) must not change the next one.
class FreshSettings : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        QSettings(QStringLiteral("Local AppWizard-Generated Applications"),
                  QStringLiteral("Orvane"))
            .clear();
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    static int s_argc = 1;
    static char* s_argv[] = {argv[0], nullptr};
    ::testing::AddGlobalTestEnvironment(new QtEnvironment(s_argc, s_argv));
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings);
    return RUN_ALL_TESTS();
}
