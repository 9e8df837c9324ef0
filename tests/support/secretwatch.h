#pragma once

#include <QString>

// Every test process watches its own log: the module's and the host's debug lines are all on,
// and a line that holds a secret (a key or plain text that went through the host's crypto, a
// password the server saw) fails the process at exit. Debug lines are read, not printed.
namespace secretwatch {

// Puts the watch in front of the test framework's own log handler: each test's initTestCase
// calls it first.
void attach();

// Looks at one message; LogCapture hands over the lines it keeps to itself.
void scan(const QString& message);
// For the watch's own test: the leaks seen so far, taken (so that they do not fail the run).
QStringList takeLeaks();

} // namespace secretwatch
