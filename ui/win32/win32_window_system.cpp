#include "ui/win32/win32_window_system.h"

#include <windows.h>

#include "drive/drive_optimizer.h"
#include "platform/win32/handle_waits.h"
#include "ui/drive_window_messages.h"
#include "ui/win32/drawing_resources.h"
#include "ui/win32/drive_window.h"
#include "ui/win32/fragment_view_class.h"

namespace {

// Posts message to the drive window, on the worker. mainWindow was written by
// the drive thread before it started this worker, so it is read here without
// a lock. Without a window nobody is told (PostMessageA to no window would
// post to this worker thread instead). Fails when the window has been closed
// meanwhile: the message is then lost, and nobody is left to take it anyway.
void PostToDriveWindow(TDriveOptimizer& optimizer, UINT message) {
  HWND window = static_cast<HWND>(optimizer.mainWindow);
  if (window != nullptr) PostMessageA(window, message, 0, 0);
}

// DriveThreadProc has the compiler's default calling convention, which on
// i686 is not the WINAPI one that CreateThread calls.
DWORD WINAPI RunDriveThread(LPVOID optimizer) { return DriveThreadProc(optimizer); }

}  // namespace

void TWin32WindowSystem::CreateDrawingResources() { CreateWin32DrawingResources(); }

bool TWin32WindowSystem::RegisterFragmentViewClass() { return RegisterWin32FragmentViewClass(); }

void TWin32WindowSystem::ShowMessage(const char* text, const char* caption) {
  MessageBoxA(nullptr, text, caption, MB_OK);
}

bool TWin32WindowSystem::AskYesNo(TWindowHandle owner, const char* text, const char* caption) {
  return MessageBoxA(static_cast<HWND>(owner), text, caption,
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

THandle TWin32WindowSystem::StartDriveThread(TDriveOptimizer* optimizer) {
  HANDLE thread = CreateThread(nullptr, 0, RunDriveThread, optimizer, 0, nullptr);
  return thread != nullptr ? thread : InvalidHandle();
}

void TWin32WindowSystem::WaitForDriveThreads(const THandle* threads, int count) {
  WaitForAllHandles(threads, count);
}

void TWin32WindowSystem::CloseDriveThread(THandle thread) { CloseHandle(thread); }

void TWin32WindowSystem::CreateDriveWindow(TDriveOptimizer& optimizer) {
  CreateWin32DriveWindow(optimizer);
}

void TWin32WindowSystem::RunMessageLoop(TDriveOptimizer& optimizer) {
  MSG message;
  // 0 is the quit message that closing the window posts. -1 (an invalid
  // window filter) cannot occur without a filter; it would end the loop too.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (optimizer.quitRequested) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void TWin32WindowSystem::PostFragmentsReady(TDriveOptimizer& optimizer) {
  PostToDriveWindow(optimizer, kWmFragmentsReady);
}

void TWin32WindowSystem::PostWorkerFinished(TDriveOptimizer& optimizer) {
  // After the notice, from the same thread: the window takes them in order.
  PostToDriveWindow(optimizer, kWmWorkerFinished);
}
