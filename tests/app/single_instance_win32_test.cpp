// The Windows single instance: the named mutex decides which start is the first, and
// a later start of the real brisal-launcher.exe ends at once with 0, before creating
// anything (a first instance would open its window and keep running).
#include "app/single_instance_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace brisal {
namespace {

TEST(SingleInstanceWin32Test, OnlyTheFirstHolderWinsUntilItEnds) {
  {
    SingleInstanceMutex first;
    ASSERT_TRUE(first.AcquireFirst());
    SingleInstanceMutex second;
    EXPECT_FALSE(second.AcquireFirst());
    EXPECT_FALSE(RaiseExistingWindow(L"BrisalNoSuchWindowClass"));
  }
  SingleInstanceMutex after;
  EXPECT_TRUE(after.AcquireFirst());
}

TEST(SingleInstanceWin32Test, LauncherStartedWhileOneRunsExitsAtOnceWithZero) {
  SingleInstanceMutex running;
  ASSERT_TRUE(running.AcquireFirst());

  const std::wstring exe = Utf8ToWide(BRISAL_LAUNCHER_EXE);
  std::wstring command = L"\"" + exe + L"\"";
  std::vector<wchar_t> buffer(command.begin(), command.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &process))
      << "error " << GetLastError() << " starting " << BRISAL_LAUNCHER_EXE;
  const DWORD waited = WaitForSingleObject(process.hProcess, 15000);
  DWORD exit_code = 259;
  GetExitCodeProcess(process.hProcess, &exit_code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(waited, static_cast<DWORD>(WAIT_OBJECT_0)) << "the second start is still running";
  EXPECT_EQ(exit_code, 0u);
}

}  // namespace
}  // namespace brisal
