// The Linux process entry: the Linux command line, the Linux system services
// and Qt windows.
#include <malloc.h>
#include <sysexits.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/linux_command_line.h"
#include "app/program.h"
#include "planning/drive_export.h"
#include "platform/linux/linux_services.h"
#include "platform/linux/named_folder.h"
#include "ui/qt/qt_messages.h"
#include "ui/qt/qt_window_system.h"

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

void DispatchToProgram(void* program, char mode, const char* text, int length) {
  static_cast<TProgram*>(program)->DispatchArgument(mode, text, length);
}

}  // namespace

int main(int argc, char** argv) {
  // Tables of a megabyte or more (a large volume's plan, the stages' lists
  // of items) are taken from the system and given back to it when freed.
  // Left to itself the heap raises that bound, up to 32 MiB, each time such
  // a table is freed, then keeps the later ones in its arenas once freed: on
  // a volume of a million items about 30 MB the process no longer uses.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  TLinuxCommandLine line = ParseLinuxCommandLine(argc, argv);
  if (line.action == TCommandAction::kRun) {
    line.error = SnapshotVariableError(std::getenv("DISKOPT_SNAPSHOT"));
    if (!line.error.empty()) line.action = TCommandAction::kUsageError;
  }
  switch (line.action) {
    case TCommandAction::kHelp:
      WriteUsage(stdout);
      return 0;
    case TCommandAction::kVersion:
      WriteVersion(stdout);
      return 0;
    case TCommandAction::kUsageError:
      std::fprintf(stderr, "diskopt: %s\nTry 'diskopt --help'.\n", line.error.c_str());
      return EX_USAGE;
    case TCommandAction::kRun:
      break;
  }
  TakeOutMissingPaths(&line);
  for (const std::string& missing : line.missing) {
    std::fprintf(stderr, "diskopt: %s\n", missing.c_str());
  }
  // The environment stands in for --json when it is not given.
  std::string exportFolder = line.jsonFolder;
  const char* exportVariable = std::getenv("DISKOPT_JSON");
  if (exportFolder.empty() && exportVariable != nullptr) exportFolder = exportVariable;
  if (!exportFolder.empty() && exportFolder != kExportToStandardOutput) {
    // Before any analysis, so a run never ends with work it cannot keep.
    const std::string error = MakeNamedFolder(exportFolder);
    if (!error.empty()) {
      std::fprintf(stderr, "diskopt: %s\n", error.c_str());
      return kExitNotAnalysed;
    }
  }

  // With no display at all the program still runs, headless, unless a Qt
  // platform has been chosen explicitly.
  if (!IsSet("QT_QPA_PLATFORM") && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QuietenQtMessages();
  // The command line is the program's own: Qt sees only the program name, so
  // it never takes an argument such as -style or -reverse for itself. Qt is
  // configured through its environment variables instead.
  int qtArgumentCount = 1;
  QApplication application(qtArgumentCount, argv);

  // Path arguments take their letters before the services are shared: the
  // drive table is read-only from then on.
  TDriveTable drives = TDriveTable::FromEnvironment();
  const std::vector<std::string> unplaced = AssignDriveLetters(&line.arguments, &drives);
  for (const std::string& path : unplaced) {
    std::fprintf(stderr, "diskopt: %s: no drive letter is left for it\n", path.c_str());
  }

  TLinuxServices services(std::move(drives));
  TQtWindowSystem windows;
  // Standard output carries the export alone, then.
  if (exportFolder == kExportToStandardOutput) windows.reports = stderr;
  TProgram program(services, windows);
  program.exportFolder = exportFolder;
  program.wholeFileOptions = line.wholeFiles;
  const int status = program.Run([&line](TProgram& program) {
    DispatchArguments(line.arguments, DispatchToProgram, &program);
  });
  const bool analysed = status == 0 || status == kExitDamaged;
  return analysed && !(unplaced.empty() && line.missing.empty()) ? kExitNotAnalysed : status;
}
