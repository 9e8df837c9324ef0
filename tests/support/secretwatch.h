#pragma once

#include <QCoreApplication>
#include <QGuiApplication>
#include <QString>
#include <QTest>

// Every test process watches its own log: the module's and the host's debug lines are all on,
// and a line that holds a secret (a key or plain text that went through the host's crypto, a
// password the server saw) fails the process at exit. Debug lines are read, not printed.
namespace secretwatch {

// Puts the watch in front of the test framework's own log handler; exec does it for every test.
void attach();
// Runs a test object as QTest::qExec does, watched, with the standard paths in test mode.
int exec(QObject* test, int argc, char** argv);

// Looks at one message; LogCapture hands over the lines it keeps to itself.
void scan(const QString& message);
// For the watch's own test: the leaks seen so far, taken (so that they do not fail the run).
QStringList takeLeaks();

} // namespace secretwatch

// The one main of every test program: the watch cannot be forgotten.
#define SETTINGMODEL_TEST_MAIN_WITH(App, TestObject)                                                         \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        App app(argc, argv);                                                                                 \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return secretwatch::exec(&tc, argc, argv);                                                           \
    }
#define SETTINGMODEL_TEST_MAIN(TestObject) SETTINGMODEL_TEST_MAIN_WITH(QGuiApplication, TestObject)
#define SETTINGMODEL_TEST_GUILESS_MAIN(TestObject) SETTINGMODEL_TEST_MAIN_WITH(QCoreApplication, TestObject)
