// The Linux process entry: the Linux system services and Qt windows.
#include <QApplication>
#include <cstdlib>
#include <string>

#include "app/posix_command_line.h"
#include "app/program.h"
#include "platform/linux/linux_services.h"
#include "ui/qt/qt_window_system.h"

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

}  // namespace

int main(int argc, char** argv) {
  // With no display at all the program still runs, headless, unless a Qt
  // platform has been chosen explicitly.
  if (!IsSet("QT_QPA_PLATFORM") && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  // The command line is the program's own: Qt sees only the program name, so
  // it never takes an argument such as -style or -reverse for itself. Qt is
  // configured through its environment variables instead.
  const std::string commandLine = JoinCommandLine(argc, argv);
  int qtArgumentCount = 1;
  QApplication application(qtArgumentCount, argv);

  TLinuxServices services;
  TQtWindowSystem windows;
  return TProgram(services, windows).Run(commandLine.c_str());
}
