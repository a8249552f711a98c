#include "ui/qt/qt_window_system.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <cstdio>

#include "drive/drive_optimizer.h"
#include "ui/qt/drawing_resources.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/headless.h"

namespace {

// What a drive "thread" handle stands for on Qt: the drive's window, which
// becomes none once the window has been deleted. Touched on the GUI thread
// alone.
struct TDriveToken {
  QPointer<TDriveWindow> window;
};

TDriveToken* TokenOf(THandle thread) { return static_cast<TDriveToken*>(thread); }

}  // namespace

void TQtWindowSystem::CreateDrawingResources() { CreateQtDrawingResources(); }

bool TQtWindowSystem::RegisterFragmentViewClass() { return true; }

void TQtWindowSystem::ShowMessage(const char* text, const char* caption) {
  if (IsHeadless()) {
    std::fprintf(reports, "%s: %s\n", caption, text);
    std::fflush(reports);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption), QString::fromUtf8(text),
                  QMessageBox::Ok);
  // Reports hold paths, which must never be taken for markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool TQtWindowSystem::AskYesNo(TWindowHandle owner, const char* text, const char* caption) {
  if (IsHeadless()) {
    ShowMessage(text, caption);
    return false;
  }
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(caption), QString::fromUtf8(text),
                  QMessageBox::Yes | QMessageBox::No, static_cast<QWidget*>(owner));
  box.setDefaultButton(QMessageBox::No);
  box.setTextFormat(Qt::PlainText);
  return box.exec() == QMessageBox::Yes;
}

THandle TQtWindowSystem::StartDriveThread(TDriveOptimizer* optimizer) {
  optimizer->RunDriveThread();
  return new TDriveToken{static_cast<TDriveWindow*>(optimizer->mainWindow)};
}

void TQtWindowSystem::WaitForDriveThreads(const THandle* threads, int count) {
  const auto anyOpen = [threads, count] {
    for (int i = 0; i < count; ++i) {
      if (!TokenOf(threads[i])->window.isNull()) return true;
    }
    return false;
  };
  QEventLoop loop;
  for (int i = 0; i < count; ++i) {
    TDriveWindow* window = TokenOf(threads[i])->window;
    if (window == nullptr) continue;
    // Queued: while destroyed() is emitted, the window's QPointer still names
    // it; it is none by the time the check runs.
    QObject::connect(
        window, &QObject::destroyed, &loop,
        [&loop, &anyOpen] {
          if (!anyOpen()) loop.quit();
        },
        Qt::QueuedConnection);
  }
  if (anyOpen()) loop.exec();
}

void TQtWindowSystem::CloseDriveThread(THandle thread) { delete TokenOf(thread); }

void TQtWindowSystem::CreateDriveWindow(TDriveOptimizer& optimizer) {
  TDriveWindow::Begin(optimizer);
}

void TQtWindowSystem::RunMessageLoop(TDriveOptimizer& optimizer) {
  // The GUI thread's one loop runs every window (WaitForDriveThreads); the
  // window, begun before the worker started, is completed here, while the
  // worker reads.
  if (optimizer.mainWindow != nullptr) static_cast<TDriveWindow*>(optimizer.mainWindow)->Complete();
}

void TQtWindowSystem::PostFragmentsReady(TDriveOptimizer& optimizer) {
  TDriveWindow::PostFragmentsReady(optimizer);
}

void TQtWindowSystem::PostWorkerFinished(TDriveOptimizer& optimizer) {
  TDriveWindow::PostWorkerFinished(optimizer);
}

void TQtWindowSystem::ReportSummary(const char* text) {
  if (!IsHeadless()) return;
  std::fputs(text, reports);
  std::fflush(reports);
}
