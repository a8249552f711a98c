// The drive window's "Defragment..." and "Optimize layout..." on Win32, end
// to end in real windows
// (wine64 under Xvfb here) over a scripted volume that carries out moves:
// offered once the drive is analysed, it asks first (a real message box, No
// the default) and moves nothing on No; on Yes the files move on a worker
// while the map follows them, Pause holds between steps and the button says
// "Resume", Stop ends after the step under way, closing the window stops the
// moves, and at the end the same window shows the drive analysed anew. A
// volume that does not move (as under Wine) ends the run with its reason.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "model/item.h"
#include "planning/drive_stages.h"
#include "tests/support/host_services.h"
#include "tests/support/move_gate.h"
#include "tests/support/moving_drive.h"
#include "tests/support/scripted_volume.h"
#include "tests/win32/window_test_support.h"
#include "ui/cluster_map.h"
#include "ui/defragment_confirmation.h"
#include "ui/drive_window_messages.h"
#include "ui/map_commands.h"
#include "ui/win32/fragment_view.h"
#include "ui/win32/win32_window_system.h"

namespace {

// Answers the window's question as the test says and keeps it, and keeps
// its messages instead of showing them; or asks with the real message box.
class TAnsweringWindows : public TWin32WindowSystem {
 public:
  bool AskYesNo(TWindowHandle owner, const char* text, const char* caption) override {
    questions.push_back(std::string(caption) + ": " + text);
    if (onQuestion) onQuestion();
    return realQuestion ? TWin32WindowSystem::AskYesNo(owner, text, caption) : answer;
  }
  void ShowMessage(const char* text, const char* caption) override {
    messages.push_back(std::string(caption) + ": " + text);
  }
  bool answer = false;
  bool realQuestion = false;
  std::function<void()> onQuestion;  // called as each question is asked
  std::vector<std::string> questions;
  std::vector<std::string> messages;
};

// A scripted volume whose threads can be refused once asked to.
class TMovesVolume : public TScriptedVolume {
 public:
  using TScriptedVolume::TScriptedVolume;
  THandle StartThread(TThreadProc proc, void* parameter) override {
    if (threadsFail) return InvalidHandle();
    return TScriptedVolume::StartThread(proc, parameter);
  }
  bool threadsFail = false;  // set by the test's thread while no worker runs
};

std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The moving drive (moving_drive.h), its files fragmented or not, in its
// drive window on the test's thread, whose messages the test dispatches; the
// first analysis runs on a worker as the drive thread starts it. gate, when
// given, holds the volume's moves (it is the test's and outlives the drive).
class TMovingDrive {
 public:
  TMovingDrive(TScriptedVolume& scripted, TMoveGate* gate, TWin32WindowSystem& windows,
               bool fragmented = true)
      : volume(scripted), gate(gate), optimizer('D', scripted, windows, kDriveStages) {
    volume.logDirectory = logs.Path();
    ScriptMovingDrive(volume, fragmented);
    EXPECT_TRUE(RegisterFragmentViewClassOnce());
    windows.CreateDriveWindow(optimizer);
    window = static_cast<HWND>(optimizer.mainWindow);
    defragmentButton = GetDlgItem(window, kDefragmentCommandId);
    optimizer.StartWorker([](TDriveOptimizer& drive) { drive.RunPipeline(); });
  }
  ~TMovingDrive() {
    // A move held at the gate goes on, so the worker can end.
    if (gate != nullptr) gate->Allow(-1);
    if (IsWindow(window)) SendMessageA(window, WM_CLOSE, 0, 0);
    WaitForWorkers();
    // The close's quit message and the workers' last notices, lost on the
    // closed window.
    DispatchPending();
  }

  bool Analysed() const {
    return optimizer.fragmentView != nullptr && IsWindowEnabled(defragmentButton);
  }
  HWND PauseButton() const { return static_cast<HWND>(optimizer.pauseButton); }
  HWND StopButton() const { return static_cast<HWND>(optimizer.stopButton); }
  std::string Status() const { return TextOf(static_cast<HWND>(optimizer.statusBar)); }
  static void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
  // Pieces of the file at a listing path as the window's tree holds it.
  int Pieces(const char* path) const { return PiecesAt(optimizer.root, path); }
  // Whether the free extents the window's analysis found are the volume's
  // free clusters as they are now.
  bool FreeSpaceIsTheVolumes() const {
    return FreeExtentsAreTheVolumes(optimizer.freeExtents, volume.bitmap);
  }

  THostFolder logs;
  TScriptedVolume& volume;
  TMoveGate* gate;
  TDriveOptimizer optimizer;
  HWND window = nullptr;
  HWND defragmentButton = nullptr;
};

class Win32WindowMoves : public testing::Test {
 protected:
  // Once the drive is analysed: answers Yes and starts the moves, the first
  // of which is then held at the volume's gate.
  void StartMoves(TMovingDrive& drive) {
    ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
    windows.answer = true;
    TMovingDrive::Click(drive.defragmentButton);
    ASSERT_TRUE(Asked(1));
    ASSERT_TRUE(gate.WaitForHeld(5000));
  }
  // The question is worked out on a worker and asked once its end reaches
  // the window: whether count questions were asked within 10 s.
  bool Asked(size_t count) {
    return PumpUntil([&] { return windows.questions.size() >= count; }, 10000);
  }
  TAnsweringWindows windows;
  TMovesVolume volume{'D'};
  TMoveGate gate{volume};
};

TEST_F(Win32WindowMoves, OfferedOnceAnalysedAsksWhatWillMoveAndMovesNothingOnNo) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_NE(drive.defragmentButton, nullptr);
  EXPECT_FALSE(IsWindowEnabled(drive.defragmentButton));
  // Not offered, nothing asked: a click on the button before the analysis.
  SendMessageA(drive.window, WM_COMMAND, MAKEWPARAM(kDefragmentCommandId, BN_CLICKED),
               reinterpret_cast<LPARAM>(drive.defragmentButton));
  EXPECT_TRUE(windows.questions.empty());

  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  windows.answer = false;
  TMovingDrive::Click(drive.defragmentButton);
  // Worked out on a worker: asked only once the window's thread goes on.
  EXPECT_TRUE(windows.questions.empty());
  EXPECT_FALSE(IsWindowEnabled(drive.defragmentButton));
  EXPECT_TRUE(Contains(drive.Status(), "Working out which files to move")) << drive.Status();
  ASSERT_TRUE(Asked(1));
  EXPECT_TRUE(Contains(windows.questions[0], "Defragment: Defragment drive D:?"));
  EXPECT_TRUE(Contains(windows.questions[0], "3 files will be made whole: 14 clusters (0.1 MiB)"))
      << windows.questions[0];
  PumpUntil([] { return false; }, 600);
  EXPECT_EQ(VolumesOpenedForMoves(volume), 0);
  EXPECT_EQ(gate.Passed(), 0);
  EXPECT_EQ(drive.Pieces("\\b.bin"), 2);
  EXPECT_TRUE(IsWindowEnabled(drive.defragmentButton));
  EXPECT_TRUE(windows.messages.empty());
}

// The question in a real message box, owned by the drive window, No the
// default; answered here by clicking its Yes.
HWND questionOwner = nullptr;
bool yesIsDefault = true;
bool noIsDefault = false;
bool IsDefaultButton(HWND button) {
  return (GetWindowLongPtrA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}
void CALLBACK AnswerYes(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowA("#32770", kDefragmentCaption);
  if (box == nullptr) return;
  KillTimer(nullptr, timer);
  questionOwner = GetWindow(box, GW_OWNER);
  yesIsDefault = IsDefaultButton(GetDlgItem(box, IDYES));
  noIsDefault = IsDefaultButton(GetDlgItem(box, IDNO));
  SendMessageA(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
}

TEST_F(Win32WindowMoves, MessageBoxAsksWithNoTheDefaultAndYesStartsTheMoves) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  windows.realQuestion = true;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerYes);
  ASSERT_NE(timer, 0u);
  TMovingDrive::Click(drive.defragmentButton);
  ASSERT_TRUE(Asked(1));
  KillTimer(nullptr, timer);
  ASSERT_EQ(windows.questions.size(), 1u);
  EXPECT_EQ(questionOwner, drive.window);
  EXPECT_TRUE(noIsDefault);
  EXPECT_FALSE(yesIsDefault);
  EXPECT_TRUE(gate.WaitForHeld(5000));
  EXPECT_FALSE(IsWindowEnabled(drive.defragmentButton));
}

// What the map's context menu showed last, read from its window while it is
// open: its last two items (the window's own), whether each is enabled, and
// how many it has; then the item upPresses from its end is chosen from the
// keyboard, or with none the menu is closed.
struct TMenuSeen {
  std::string lastItems[2];  // the one before the last, then the last
  bool enabled[2] = {false, false};
  int items = 0;
};
TMenuSeen menuSeen;
int upPresses = 0;
void CALLBACK ReadTheMenu(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND popup = FindWindowA("#32768", nullptr);
  const auto menu =
      popup == nullptr
          ? nullptr
          : reinterpret_cast<HMENU>(SendMessageA(popup, 0x01E1 /* MN_GETHMENU */, 0, 0));
  if (menu == nullptr) return;
  KillTimer(nullptr, timer);
  menuSeen.items = GetMenuItemCount(menu);
  for (int i = 0; i < 2; ++i) {
    const int position = menuSeen.items - 2 + i;
    char text[64] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    menuSeen.lastItems[i] = text;
    menuSeen.enabled[i] =
        (GetMenuState(menu, position, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED)) == 0;
  }
  if (upPresses > 0) {
    // Up from no selection selects the last item, each further Up the one
    // before; Return chooses it.
    for (int i = 0; i < upPresses; ++i) PostMessageA(popup, WM_KEYDOWN, VK_UP, 0);
    PostMessageA(popup, WM_KEYDOWN, VK_RETURN, 0);
  } else {
    EndMenu();
  }
}

// Opens the map's context menu and reads it (ReadTheMenu).
TMenuSeen OpenMapMenu(const TMovingDrive& drive, int choose) {
  menuSeen = TMenuSeen();
  upPresses = choose;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, ReadTheMenu);
  HWND view = drive.optimizer.fragmentView->window;
  POINT corner = {10, 10};
  ClientToScreen(view, &corner);
  SendMessageA(view, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view),
               MAKELPARAM(corner.x, corner.y));
  KillTimer(nullptr, timer);
  return menuSeen;
}

TEST_F(Win32WindowMoves, MapMenuOffersDefragmentAndOptimizeAsTheButtonsDo) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  // The map's commands, a separator, then the window's own two items.
  TMenuSeen seen = OpenMapMenu(drive, 2);
  EXPECT_EQ(seen.items, static_cast<int>(kMapMenuItems) + 3);
  EXPECT_EQ(seen.lastItems[0], "Defragment...");
  EXPECT_EQ(seen.lastItems[1], "Optimize layout...");
  EXPECT_TRUE(seen.enabled[0]);
  EXPECT_TRUE(seen.enabled[1]);
  // Chosen, each asks as its button does.
  ASSERT_TRUE(Asked(1));
  EXPECT_TRUE(Contains(windows.questions[0], "Defragment: Defragment drive D:?"));
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  OpenMapMenu(drive, 1);
  ASSERT_TRUE(Asked(2));
  EXPECT_TRUE(Contains(windows.questions[1], "Optimize layout: Optimize the layout of drive D:?"));

  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  windows.answer = true;
  TMovingDrive::Click(drive.defragmentButton);
  ASSERT_TRUE(Asked(3));
  ASSERT_TRUE(gate.WaitForHeld(5000));
  // Not offered while the moves run.
  seen = OpenMapMenu(drive, 0);
  EXPECT_EQ(seen.lastItems[1], "Optimize layout...");
  EXPECT_FALSE(seen.enabled[0]);
  EXPECT_FALSE(seen.enabled[1]);
}

// "Optimize layout..." beside "Defragment...": asks under its own caption,
// moves in the stage "Applying optimized tree" with the same Pause, and the
// drive analysed anew lies as its plan put it, its files whole, the status
// line saying what the moves did.
TEST_F(Win32WindowMoves, OptimizeLayoutAsksThenCarriesThePlanOutAndAnalysesAnew) {
  TMovingDrive drive(volume, &gate, windows);
  HWND optimize = GetDlgItem(drive.window, kOptimizeCommandId);
  ASSERT_NE(optimize, nullptr);
  EXPECT_EQ(TextOf(optimize), "Optimize layout...");
  EXPECT_FALSE(IsWindowEnabled(optimize));
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  EXPECT_TRUE(IsWindowEnabled(optimize));
  // Beside "Defragment...", on its left, in the same row, neither on the other.
  const TRect optimizePlace = PlaceOf(optimize);
  const TRect defragmentPlace = PlaceOf(drive.defragmentButton);
  EXPECT_EQ(optimizePlace.y, defragmentPlace.y);
  EXPECT_LE(optimizePlace.x + optimizePlace.width, defragmentPlace.x);
  EXPECT_TRUE(IsWindowVisible(optimize));

  windows.answer = true;
  TMovingDrive::Click(optimize);
  EXPECT_TRUE(Contains(drive.Status(), "Working out the moves of the zone layout"))
      << drive.Status();
  EXPECT_FALSE(IsWindowEnabled(optimize));
  ASSERT_TRUE(Asked(1));
  EXPECT_EQ(windows.questions[0].rfind("Optimize layout: Optimize the layout of drive D:?", 0), 0u)
      << windows.questions[0];
  ASSERT_TRUE(gate.WaitForHeld(5000));
  EXPECT_FALSE(IsWindowEnabled(optimize));
  EXPECT_FALSE(IsWindowEnabled(drive.defragmentButton));
  EXPECT_EQ(drive.optimizer.statusText.Get(), "Applying optimized tree");
  TMovingDrive::Click(drive.PauseButton());
  EXPECT_EQ(TextOf(drive.PauseButton()), "Resume");
  TMovingDrive::Click(drive.PauseButton());
  gate.Allow(-1);
  ASSERT_TRUE(PumpUntil([&] { return drive.Status().rfind("Optimized: ", 0) == 0; }, 10000))
      << drive.Status();
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  for (const char* path : kMovingDriveFiles) EXPECT_EQ(drive.Pieces(path), 1) << path;
  EXPECT_TRUE(drive.FreeSpaceIsTheVolumes());
  EXPECT_TRUE(Contains(drive.Status(), "Items moved: ")) << drive.Status();
  EXPECT_TRUE(
      Contains(drive.optimizer.fragmentView->session->SummaryText(), "Drive D: optimized layout"));
  EXPECT_TRUE(IsWindowEnabled(optimize));
}

TEST_F(Win32WindowMoves, MovesOnYesPauseHoldsResumeGoesOnAndTheEndIsAnalysedAnew) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_NO_FATAL_FAILURE(StartMoves(drive));
  // Not offered again while the moves run.
  EXPECT_FALSE(IsWindowEnabled(drive.defragmentButton));
  const TFragmentView* firstView = drive.optimizer.fragmentView;
  TMovingDrive::Click(drive.PauseButton());
  EXPECT_EQ(TextOf(drive.PauseButton()), "Resume");
  gate.Allow(-1);
  // The largest file first; the map follows it on the next refresh.
  ASSERT_TRUE(PumpUntil([&] { return drive.Pieces("\\b.bin") == 1; }, 3000));
  const TItem* moved = ItemAtListingPath(drive.optimizer.root, "\\b.bin");
  EXPECT_EQ(drive.optimizer.clusterMap->FindFragment(moved->fragments->lcn)->owner, moved);
  EXPECT_EQ(drive.optimizer.fragmentView, firstView);
  // Paused: no further step, however long.
  PumpUntil([] { return false; }, 800);
  EXPECT_EQ(gate.Passed(), 1);
  EXPECT_EQ(drive.Pieces("\\a.bin"), 2);
  EXPECT_TRUE(Contains(drive.Status(), "Paused: moved 1 of 3 files")) << drive.Status();

  TMovingDrive::Click(drive.PauseButton());
  EXPECT_EQ(TextOf(drive.PauseButton()), "Pause");
  ASSERT_TRUE(PumpUntil([&] { return gate.Passed() == 3 && drive.Analysed(); }, 10000));
  // Analysed anew in the same window, not only redrawn: the free space is
  // the volume's now, and the new view sits in the window.
  EXPECT_TRUE(IsWindow(drive.window));
  for (const char* path : kMovingDriveFiles) EXPECT_EQ(drive.Pieces(path), 1) << path;
  EXPECT_TRUE(drive.FreeSpaceIsTheVolumes());
  ASSERT_NE(drive.optimizer.fragmentView, nullptr);
  EXPECT_EQ(GetParent(drive.optimizer.fragmentView->window), drive.window);
  ASSERT_TRUE(PumpUntil([&] { return drive.Status().rfind("Defragmented", 0) == 0; }, 2000));
  EXPECT_EQ(drive.Status(), "Defragmented: Made whole: 3 files, 14 clusters moved in 3 steps");
  EXPECT_TRUE(
      Contains(drive.optimizer.fragmentView->session->SummaryText(), "Drive D: defragmentation"));
  EXPECT_EQ(TextOf(drive.PauseButton()), "Pause");
}

TEST_F(Win32WindowMoves, StopEndsAfterTheStepUnderWay) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_NO_FATAL_FAILURE(StartMoves(drive));
  TMovingDrive::Click(drive.StopButton());
  gate.Allow(-1);
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  EXPECT_EQ(gate.Passed(), 1);
  EXPECT_TRUE(drive.optimizer.movesDone.stopped);
  EXPECT_EQ(drive.Pieces("\\b.bin"), 1);
  EXPECT_EQ(drive.Pieces("\\a.bin"), 2);
  EXPECT_EQ(drive.Pieces("\\c.bin"), 2);
  ASSERT_TRUE(PumpUntil([&] { return drive.Status().rfind("Defragmented", 0) == 0; }, 2000));
  EXPECT_TRUE(Contains(drive.Status(), "Stopped before the end")) << drive.Status();
  // Once the analysis anew is done the buttons are disabled, and clicks
  // on them stop and pause nothing.
  EXPECT_FALSE(IsWindowEnabled(drive.StopButton()));
  EXPECT_FALSE(IsWindowEnabled(drive.PauseButton()));
  TMovingDrive::Click(drive.StopButton());
  TMovingDrive::Click(drive.PauseButton());
  EXPECT_FALSE(drive.optimizer.StopRequested());
  EXPECT_EQ(TextOf(drive.PauseButton()), "Pause");
}

TEST_F(Win32WindowMoves, ClosingTheWindowStopsTheMoves) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_NO_FATAL_FAILURE(StartMoves(drive));
  SendMessageA(drive.window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(drive.window));
  gate.Allow(-1);
  WaitForWorkers();
  EXPECT_EQ(gate.Passed(), 1);
  EXPECT_TRUE(drive.optimizer.movesDone.stopped);
}

TEST_F(Win32WindowMoves, NothingToMoveIsSaidWithoutAQuestion) {
  TMovingDrive drive(volume, &gate, windows, false);
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  TMovingDrive::Click(drive.defragmentButton);
  ASSERT_TRUE(PumpUntil([&] { return !windows.messages.empty(); }, 10000));
  EXPECT_TRUE(windows.questions.empty());
  ASSERT_EQ(windows.messages.size(), 1u);
  EXPECT_EQ(windows.messages[0], "Defragment: No file on drive D: is fragmented: nothing to move.");
  EXPECT_EQ(VolumesOpenedForMoves(volume), 0);
  EXPECT_TRUE(IsWindowEnabled(drive.defragmentButton));
}

TEST_F(Win32WindowMoves, NoThreadForTheMovesIsSaidAndTheOfferStays) {
  TMovingDrive drive(volume, &gate, windows);
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  // The analysis's worker has told its end: no worker runs.
  PumpUntil([] { return false; }, 300);
  // No thread for the question's worker: said at once, nothing asked.
  volume.threadsFail = true;
  windows.answer = true;
  TMovingDrive::Click(drive.defragmentButton);
  EXPECT_TRUE(windows.questions.empty());
  ASSERT_EQ(windows.messages.size(), 1u);
  EXPECT_EQ(windows.messages[0], std::string("Defragment: ") + kMovesNotStartedText);
  EXPECT_TRUE(IsWindowEnabled(drive.defragmentButton));
  EXPECT_EQ(drive.Status(), "Finished");
  // No thread for the moves, once the question is answered Yes.
  volume.threadsFail = false;
  windows.onQuestion = [this] { volume.threadsFail = true; };
  TMovingDrive::Click(drive.defragmentButton);
  ASSERT_TRUE(Asked(1));
  ASSERT_EQ(windows.messages.size(), 2u);
  EXPECT_EQ(windows.messages[1], std::string("Defragment: ") + kMovesNotStartedText);
  EXPECT_EQ(VolumesOpenedForMoves(volume), 0);
  EXPECT_TRUE(IsWindowEnabled(drive.defragmentButton));
  EXPECT_EQ(drive.Status(), "Finished");
}

// As under Wine: the volume answers every move with STATUS_NOT_SUPPORTED.
// The run ends with the reason, nothing moved, and the drive is analysed
// anew as after any run.
TEST(Win32WindowMovesRefused, MovesNotSupportedEndWithTheReason) {
  TAnsweringWindows windows;
  TScriptedVolume volume('D');
  volume.moveFaults.notSupported = true;
  TMovingDrive drive(volume, nullptr, windows);
  ASSERT_TRUE(PumpUntil([&] { return drive.Analysed(); }, 10000));
  windows.answer = true;
  TMovingDrive::Click(drive.defragmentButton);
  ASSERT_TRUE(PumpUntil([&] { return windows.questions.size() == 1; }, 10000));
  ASSERT_TRUE(PumpUntil([&] { return drive.Status().rfind("Defragmented", 0) == 0; }, 10000));
  EXPECT_TRUE(Contains(drive.Status(), "Failed")) << drive.Status();
  EXPECT_FALSE(drive.optimizer.movesDone.failure.empty());
  for (const char* path : kMovingDriveFiles) EXPECT_EQ(drive.Pieces(path), 2) << path;
  EXPECT_TRUE(drive.Analysed());
}

}  // namespace
