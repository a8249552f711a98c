#include "app/linux_command_line.h"

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "planning/drive_export.h"

namespace {

// Long options without a short form return values above any character.
constexpr int kJsonOption = 256;
constexpr int kDefragmentOption = 257;
constexpr int kOptimizeOption = 258;
constexpr int kDefragmentSharedOption = 259;

const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"json", required_argument, nullptr, kJsonOption},
    {"defragment", no_argument, nullptr, kDefragmentOption},
    {"optimize", no_argument, nullptr, kOptimizeOption},
    {"defragment-shared", no_argument, nullptr, kDefragmentSharedOption},
    {nullptr, 0, nullptr, 0},
};

// "-": non-options come back in order as the value of option 1, so a switch
// applies to what follows it; ":": a missing value is told apart.
const char kShortOptions[] = "-:hVoOmM";

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char UpperCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// "D", "D:" or "D:\": a drive letter; anything else is a path.
bool IsLetterForm(const std::string& text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return false;
  if (text.size() == 1) return true;
  return text[1] == ':' && (text.size() == 2 || (text.size() == 3 && text[2] == '\\'));
}

bool IsFolderStatisticsMode(char mode) { return mode == 'm' || mode == 'M'; }

// Why getopt_long has just refused an option, in its own words, naming the
// option as the user wrote it: a long one from its element (up to any '='),
// a short one from its character, as it may sit in a cluster such as -mx.
std::string RefusedOption(char** argv) {
  // optind has passed a refused long option, but not a refused short one
  // in the middle of a cluster: then the element before may be a long
  // option that was fine, and optopt names the short one.
  const std::string element = argv[optind - 1];
  const bool longOption =
      optopt == 0 || optopt >= kJsonOption || element.find('=') != std::string::npos;
  if (element.compare(0, 2, "--") == 0 && longOption) {
    return "unrecognized option '" + element.substr(0, element.find('=')) + "'";
  }
  return std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
}

// The known long option getopt_long has just refused for the value given
// with it ("--help=yes"; it names the option in optopt); empty when it
// refused something else.
std::string OptionGivenNeedlessValue(char** argv) {
  const std::string element = argv[optind - 1];
  if (optopt == 0 || element.compare(0, 2, "--") != 0) return std::string();
  const size_t equals = element.find('=');
  return equals == std::string::npos ? std::string() : element.substr(0, equals);
}

// The option getopt_long has just found without its value: the long one of
// the element, or the short one optopt names.
std::string OptionMissingValue(char** argv) {
  const std::string element = argv[optind - 1];
  if (element.compare(0, 2, "--") == 0) return element;
  return std::string("-") + static_cast<char>(optopt);
}

// The first thing wrong with arguments a parse found, for the user; empty
// when they are fine. None is empty, -m has a path after it, and an export
// to standard output has one drive to export. An empty command line asks for
// nothing at all.
std::string ArgumentsError(const std::vector<TLinuxArgument>& arguments,
                           const std::vector<size_t>& pathSwitches, const std::string& jsonFolder) {
  if (arguments.empty()) return "no drive or path given";
  for (size_t position : pathSwitches) {
    const bool followed =
        position < arguments.size() && IsFolderStatisticsMode(arguments[position].mode);
    if (!followed) return "option '-m' needs a path after it";
  }
  size_t drives = 0;
  for (const TLinuxArgument& argument : arguments) {
    if (argument.text.empty()) return "an empty argument names no drive or path";
    if (ModeOptimisesDrives(argument.mode)) ++drives;
  }
  if (jsonFolder == kExportToStandardOutput && drives != 1) {
    return "'--json -' writes the export of one drive, and " + std::to_string(drives) +
           (drives == 1 ? " is" : " are") + " named";
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
      case kDefragmentSharedOption:
        mode = kModeDefragment;
        line.wholeFiles.includeShared = true;
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
        line.error = "option '" + OptionMissingValue(argv) + "' requires an argument";
        return line;
      default: {
        line.action = TCommandAction::kUsageError;
        const std::string needless = OptionGivenNeedlessValue(argv);
        line.error = needless.empty() ? RefusedOption(argv)
                                      : "option '" + needless + "' doesn't allow an argument";
        return line;
      }
    }
  }
  // After "--" every element is an argument, under the switch in force.
  for (int i = optind; i < argc; ++i) line.arguments.push_back({mode, argv[i]});
  if (line.action != TCommandAction::kRun) return line;
  line.error = ArgumentsError(line.arguments, pathSwitches, line.jsonFolder);
  if (!line.error.empty()) line.action = TCommandAction::kUsageError;
  return line;
}

void TakeOutMissingPaths(TLinuxCommandLine* line) {
  for (TLinuxArgument& argument : line->arguments) {
    const bool counted = IsFolderStatisticsMode(argument.mode);
    if (argument.text.empty() || (!counted && !ModeOptimisesDrives(argument.mode))) continue;
    if (!counted && IsLetterForm(argument.text)) continue;
    struct stat status;
    if (stat(argument.text.c_str(), &status) != 0) {
      line->missing.push_back(argument.text + ": " + std::strerror(errno));
      argument.text.clear();
      continue;
    }
    if (counted && S_ISDIR(status.st_mode) && argument.text.back() != '/') argument.text += '/';
  }
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
      "                     as the next free drive letter from D on: any other\n"
      "                     argument, which must exist\n"
      "\n"
      "Options:\n"
      "  -o                 analyse the drives and paths that follow (the default)\n"
      "  -m                 count the files, folders and name bytes in each\n"
      "                     folder that follows\n"
      "      --defragment   analyse the drives and paths that follow, then move\n"
      "                     each fragmented file whole into free space (NTFS),\n"
      "                     or have the file system rewrite it in fewer pieces\n"
      "                     (folders on ext4, XFS and btrfs); writes to the\n"
      "                     volume; see DirList_Applied.log\n"
      "      --defragment-shared\n"
      "                     as --defragment, and on Linux folders also files\n"
      "                     whose extents reflinked copies or snapshots share,\n"
      "                     which then take space of their own\n"
      "      --optimize     analyse the NTFS drives and images that follow, then\n"
      "                     move every item to its place in the volume-aware\n"
      "                     plan (writes to the volume; see DirList_Applied.log)\n"
      "      --json DIR     write the JSON export to DIR, made if missing; with\n"
      "                     DIR -, one drive's export to standard output, and\n"
      "                     the reports to standard error\n"
      "  -h, --help         show this help and exit\n"
      "  -V, --version      show the version and exit\n"
      "\n"
      "Environment:\n"
      "  DISKOPT_DRIVE_<L>=PATH  map drive letter L to an NTFS image, a block\n"
      "                          device or a folder\n"
      "  DISKOPT_SNAPSHOT=DIR    save each drive window as DIR/drive-<L>.png once\n"
      "                          its work is done, then close it (DIR is a folder\n"
      "                          here, made if missing, never a drive letter)\n"
      "  DISKOPT_JSON=DIR        as --json DIR, when --json is not given\n"
      "  DISKOPT_DEBUG=1         show debug output and the window toolkit's\n"
      "                          warnings on standard error\n"
      "  QT_QPA_PLATFORM=offscreen  run without windows, as with no display\n"
      "\n"
      "Logs: dirlist_free.log, DirList_rules.log and DirList_Optimized.log go to\n"
      "the folder of drive C:, the working directory unless DISKOPT_DRIVE_C is\n"
      "set. Without a display, reports go to standard output and progress to\n"
      "standard error. A folder's free space is read from its file system's own\n"
      "maps (ext4's block bitmaps, XFS's GETFSMAP, btrfs's extent tree), which\n"
      "needs root.\n"
      "\n"
      "Exit status:\n"
      "  0   every drive was analysed and its logs written\n"
      "  1   the file-system control entry point is missing\n"
      "  2   the fragment view could not be set up\n"
      "  3   a path named nothing, a drive could not be analysed, the export\n"
      "      folder could not be made, a log, export or picture could not be\n"
      "      written (then no log of that drive replaces an old one), or a\n"
      "      volume could not be opened for moves or a move failed\n"
      "  4   every drive was analysed, but a volume was found damaged (see the\n"
      "      export's \"damage\" list)\n"
      "  64  the command line was wrong: an unknown option, no drive or path,\n"
      "      an empty argument, or an export to standard output of other than\n"
      "      one drive\n"
      "\n"
      "Examples:\n"
      "  diskopt /srv/disk.img          analyse an NTFS image\n"
      "  diskopt /srv/disk.img /home    an image and a folder, side by side\n"
      "  sudo diskopt /dev/sdb1         an NTFS partition\n"
      "  DISKOPT_DRIVE_D=/srv/disk.img diskopt D\n"
      "  diskopt -m /srv                count what lies in /srv\n"
      "  diskopt --json - disk.img | jq .summary\n"
      "  DISKOPT_SNAPSHOT=shots diskopt disk.img\n",
      to);
}

void WriteVersion(FILE* to) { std::fputs("diskopt " DISKOPT_VERSION "\n", to); }

bool IsPathArgument(const std::string& text) { return !text.empty() && !IsLetterForm(text); }

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
