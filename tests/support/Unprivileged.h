#pragma once
#include <functional>

// Runs a test case's body with the rights of an ordinary user, so that a case about a
// read-only file or folder fails when the code is wrong also where the tests run as root
// (as CI runs them). As root, the body runs in a child process that has given up root for
// the user `nobody`, with a temporary folder of its own (TMPDIR); the child prints its own
// QTest failures and its exit code tells this process, which then fails the case too.
// As any other user the body runs here.
//
// The body sets up what it needs itself (a WorkDir, the files): as root nothing it changes
// is seen by this process. It must not start threads or open windows.
void runUnprivileged(const std::function<void()>& body);
