#include "app/linux_command_line.h"

#include <getopt.h>
#include <sys/stat.h>

#include <set>

namespace {

// Long options without a short form return values above any character.
constexpr int kJsonOption = 256;
constexpr int kDefragmentOption = 257;
constexpr int kOptimizeOption = 258;

const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"json", required_argument, nullptr, kJsonOption},
    {"defragment", no_argument, nullptr, kDefragmentOption},
    {"optimize", no_argument, nullptr, kOptimizeOption},
    {nullptr, 0, nullptr, 0},
};

// "-": non-options come back in order as the value of option 1, so a switch
// applies to what follows it; ":": a missing value is told apart.
const char kShortOptions[] = "-:hVoOmM";

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsLetterForm(const std::string& text) {
  return !text.empty() && IsAsciiLetter(text[0]) && (text.size() == 1 || text[1] == ':');
}

// The option getopt_long has just refused, as the user wrote it: a long one
// from its element (up to any '='), a short one from its character, as it
// may sit in a cluster such as -mx.
std::string RefusedOption(char** argv) {
  // optind has passed a refused long option, but not a refused short one
  // in the middle of a cluster: then the element before may be a long
  // option that was fine, and optopt names the short one.
  const std::string element = argv[optind - 1];
  const bool longOption =
      optopt == 0 || optopt >= kJsonOption || element.find('=') != std::string::npos;
  if (element.compare(0, 2, "--") == 0 && longOption) return element.substr(0, element.find('='));
  return std::string("-") + static_cast<char>(optopt);
}

// Whether getopt_long has just refused a known long option for the value
// given with it ("--help=yes"); it names the option in optopt.
bool GivenNeedlessValue(char** argv) {
  const std::string element = argv[optind - 1];
  return optopt != 0 && element.compare(0, 2, "--") == 0 && element.find('=') != std::string::npos;
}

// The first thing wrong with arguments a parse found, for the user; empty
// when they are fine. Every argument names something: none is empty, a
// drive argument is a letter or a path, and -m has a path after it. An
// empty command line asks for nothing at all.
std::string ArgumentsError(const std::vector<TLinuxArgument>& arguments,
                           const std::vector<size_t>& pathSwitches) {
  if (arguments.empty()) return "no drive or path given";
  for (size_t position : pathSwitches) {
    const bool followed = position < arguments.size() &&
                          (arguments[position].mode == 'm' || arguments[position].mode == 'M');
    if (!followed) return "option '-m' needs a path after it";
  }
  for (const TLinuxArgument& argument : arguments) {
    if (argument.text.empty()) return "an empty argument names no drive or path";
    if (ModeOptimisesDrives(argument.mode) && !IsPathArgument(argument.text) &&
        !IsLetterForm(argument.text)) {
      return "'" + argument.text +
             "' is neither a drive letter (D, D: or D:\\...) nor an existing file or folder";
    }
  }
  return std::string();
}

}  // namespace

TLinuxCommandLine ParseLinuxCommandLine(int argc, char** argv) {
  TLinuxCommandLine line;
  char mode = 0;
  // Where each -m switch stands among the arguments: the argument after it
  // must be one of its paths.
  std::vector<size_t> pathSwitches;
  // getopt_long keeps its state in globals: 0 starts afresh, so the parse
  // may run more than once in a process. Its own messages stay off: the
  // error is reported with the usage.
  optind = 0;
  opterr = 0;
  for (;;) {
    const int option = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (option == -1) break;
    switch (option) {
      case 1:
        line.arguments.push_back({mode, optarg});
        break;
      case 'o':
      case 'O':
      case 'm':
      case 'M':
        mode = static_cast<char>(option);
        if (mode == 'm' || mode == 'M') pathSwitches.push_back(line.arguments.size());
        break;
      case kDefragmentOption:
        mode = kModeDefragment;
        break;
      case kOptimizeOption:
        mode = kModeApplyPlan;
        break;
      case 'h':
        if (line.action == TCommandAction::kRun) line.action = TCommandAction::kHelp;
        break;
      case 'V':
        if (line.action == TCommandAction::kRun) line.action = TCommandAction::kVersion;
        break;
      case kJsonOption:
        if (*optarg == '\0') {
          line.action = TCommandAction::kUsageError;
          line.error = "option '--json' needs a folder, not an empty value";
          return line;
        }
        line.jsonFolder = optarg;
        break;
      case ':':
        line.action = TCommandAction::kUsageError;
        line.error = "option '" + RefusedOption(argv) + "' needs a value";
        return line;
      default:
        line.action = TCommandAction::kUsageError;
        line.error = GivenNeedlessValue(argv)
                         ? "option '" + RefusedOption(argv) + "' takes no value"
                         : "unknown option '" + RefusedOption(argv) + "'";
        return line;
    }
  }
  // After "--" every element is an argument, under the switch in force.
  for (int i = optind; i < argc; ++i) line.arguments.push_back({mode, argv[i]});
  if (line.action != TCommandAction::kRun) return line;
  line.error = ArgumentsError(line.arguments, pathSwitches);
  if (!line.error.empty()) line.action = TCommandAction::kUsageError;
  return line;
}

std::string SnapshotVariableError(const char* value) {
  if (value == nullptr || !IsAsciiLetter(value[0]) || value[1] != ':') return std::string();
  return std::string("DISKOPT_SNAPSHOT=") + value +
         " names a drive: it takes a folder of this system, such as shots or /tmp/shots";
}

void WriteUsage(FILE* to) {
  std::fputs(
      "Usage: diskopt [-o] DRIVE|PATH...\n"
      "       diskopt --defragment DRIVE|PATH...\n"
      "       diskopt --optimize DRIVE|PATH...\n"
      "       diskopt -m PATH...\n"
      "       diskopt --help | --version\n"
      "\n"
      "Analyses how the files of NTFS volumes and Linux folders lie on their\n"
      "disk and plans a better layout; nothing on a volume is moved unless\n"
      "--defragment or --optimize asks for it. Each drive gets a window of its\n"
      "own (none without a display). A switch stays in force for the arguments\n"
      "after it.\n"
      "\n"
      "Arguments:\n"
      "  D, D:, D:\\         the drive a letter names (see DISKOPT_DRIVE_<L>)\n"
      "  PATH               an NTFS image, a block device or a folder, analysed\n"
      "                     as the next free drive letter from D on: any argument\n"
      "                     holding '/', or an existing file or folder here that\n"
      "                     is not written as a drive letter\n"
      "\n"
      "Options:\n"
      "  -o                 analyse the drives and paths that follow (the default)\n"
      "  -m                 count the files, folders and name bytes below each\n"
      "                     path that follows\n"
      "      --defragment   analyse the NTFS drives and images that follow, then\n"
      "                     move each fragmented file whole into free space\n"
      "                     (writes to the volume; see DirList_Applied.log)\n"
      "      --optimize     analyse the NTFS drives and images that follow, then\n"
      "                     move every item to its place in the volume-aware\n"
      "                     plan (writes to the volume; see DirList_Applied.log)\n"
      "      --json DIR     write the JSON export to DIR (sets DISKOPT_JSON)\n"
      "  -h, --help         show this help and exit\n"
      "  -V, --version      show the version and exit\n"
      "\n"
      "Environment:\n"
      "  DISKOPT_DRIVE_<L>=PATH  map drive letter L to an NTFS image, a block\n"
      "                          device or a folder\n"
      "  DISKOPT_SNAPSHOT=DIR    save each drive window as DIR/drive-<L>.png once\n"
      "                          its work is done, then close it (DIR is a folder\n"
      "                          here, made if missing, never a drive letter)\n"
      "  DISKOPT_JSON=DIR        write the JSON export to DIR (which must exist)\n"
      "  DISKOPT_DEBUG=1         show debug output and the window toolkit's\n"
      "                          warnings on standard error\n"
      "  QT_QPA_PLATFORM=offscreen  run without windows, as with no display\n"
      "\n"
      "Logs: dirlist_free.log, DirList_rules.log and DirList_Optimized.log go to\n"
      "the folder of drive C:, the working directory unless DISKOPT_DRIVE_C is\n"
      "set. Without a display, reports go to standard output and progress to\n"
      "standard error. A folder's free space is read with GETFSMAP, which needs\n"
      "root.\n"
      "\n"
      "Exit status:\n"
      "  0   every drive was analysed and its logs written\n"
      "  1   the file-system control entry point is missing\n"
      "  2   the fragment view could not be set up\n"
      "  3   a drive could not be analysed, or a log, export or picture could\n"
      "      not be written (then no log of that drive replaces an old one), or\n"
      "      a volume could not be opened for moves or a move failed\n"
      "  4   every drive was analysed, but a volume was found damaged (see the\n"
      "      export's \"damage\" list)\n"
      "  64  the command line was wrong: an unknown option, no drive or path,\n"
      "      an empty argument, or a drive argument that is no letter or path\n"
      "\n"
      "Examples:\n"
      "  diskopt /srv/disk.img          analyse an NTFS image\n"
      "  diskopt /srv/disk.img /home    an image and a folder, side by side\n"
      "  sudo diskopt /dev/sdb1         an NTFS partition\n"
      "  DISKOPT_DRIVE_D=/srv/disk.img diskopt D\n"
      "  diskopt -m /srv/               count what lies below /srv/\n"
      "  DISKOPT_SNAPSHOT=shots diskopt disk.img\n",
      to);
}

void WriteVersion(FILE* to) { std::fputs("diskopt " DISKOPT_VERSION "\n", to); }

bool IsPathArgument(const std::string& text) {
  if (text.find('/') != std::string::npos) return true;
  if (text.empty() || IsLetterForm(text)) return false;
  struct stat status;
  return stat(text.c_str(), &status) == 0;
}

std::vector<std::string> AssignDriveLetters(std::vector<TLinuxArgument>* arguments,
                                            TDriveTable* drives) {
  std::set<char> taken;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (drives->Mapped(letter)) taken.insert(letter);
  }
  std::vector<TLinuxArgument*> paths;
  for (TLinuxArgument& argument : *arguments) {
    if (!ModeOptimisesDrives(argument.mode) || argument.text.empty()) continue;
    if (IsPathArgument(argument.text)) {
      paths.push_back(&argument);
    } else {
      taken.insert(UpperCase(argument.text[0]));
    }
  }
  std::vector<std::string> left;
  char next = 'D';
  for (TLinuxArgument* argument : paths) {
    while (next <= 'Z' && taken.count(next) != 0) ++next;
    if (next > 'Z') {
      left.push_back(argument->text);
      argument->text.clear();
      continue;
    }
    drives->MapArgumentPath(next, argument->text);
    argument->text.assign(1, next);
    ++next;
  }
  return left;
}

void DispatchArguments(const std::vector<TLinuxArgument>& arguments, TArgumentSink sink,
                       void* context) {
  for (const TLinuxArgument& argument : arguments) {
    if (argument.text.empty()) continue;
    sink(context, argument.mode, argument.text.data(), static_cast<int>(argument.text.size()));
  }
}
