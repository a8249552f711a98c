#include "tests/linux/qt_test_environment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

QApplication* application = nullptr;  // made by the first Qt test; owned here

// Ends the QApplication after the last test, while Qt's own process-wide
// state still exists: torn down any later, Qt leaves font data unreachable.
class TQtApplicationEnd : public testing::Environment {
 public:
  void TearDown() override {
    delete application;
    application = nullptr;
  }
};

testing::Environment* const applicationEnd =
    testing::AddGlobalTestEnvironment(new TQtApplicationEnd);

}  // namespace

void EnsureQtApplication() {
  if (application != nullptr) return;
  // Offscreen even where a display exists: the tests need the same screen
  // and caption height on every machine, and nobody to close a window.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argumentCount = 1;
  static char programName[] = "diskopt_tests";
  static char* arguments[] = {programName, nullptr};
  application = new QApplication(argumentCount, arguments);
}

bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // Outside an event loop Qt defers deleteLater() without end; closed
    // windows must go as they do in the loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
