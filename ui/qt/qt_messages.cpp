#include "ui/qt/qt_messages.h"

#include <QtGlobal>

#include "platform/debug_switch.h"

namespace {

// Written once by QuietenQtMessages on the main thread before Qt starts
// speaking; read by the filter on whatever thread Qt speaks from.
QtMessageHandler qtOwnHandler = nullptr;
bool passEverything = false;

void FilterQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (qtOwnHandler == nullptr) return;
  if (passEverything || type == QtCriticalMsg || type == QtFatalMsg) {
    qtOwnHandler(type, context, text);
  }
}

}  // namespace

void QuietenQtMessages() {
  passEverything = DebugOutputWanted();
  qtOwnHandler = qInstallMessageHandler(FilterQtMessage);
}
