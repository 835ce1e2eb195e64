#include "fsproc/process_ops.h"

#include <string>

bool EndProcessById(win::Api& api, win::DWORD processId, ProcessCheck check, void* context,
                    win::DWORD waitMilliseconds, EndOutcome* outcome) {
  EndOutcome result = EndOutcome::kEnded;
  const win::HANDLE process =
      processId == 0 ? api.GetCurrentProcess()
                     : api.OpenProcess(win::PROCESS_TERMINATE | win::SYNCHRONIZE |
                                           win::PROCESS_QUERY_INFORMATION,
                                       win::FALSE, processId);
  if (process == 0) {
    // ERROR_INVALID_PARAMETER: no process of that ID.
    if (outcome)
      *outcome = api.GetLastError() == win::ERROR_ACCESS_DENIED ? EndOutcome::kRefused : EndOutcome::kGone;
    return false;
  }
  if (check && !check(context, process))
    result = EndOutcome::kRefused;
  else if (api.TerminateProcess(process, 0) == win::FALSE)
    result = api.GetLastError() == win::ERROR_ACCESS_DENIED ? EndOutcome::kRefused : EndOutcome::kGone;
  // The calling process does not wait for its own end.
  if (result == EndOutcome::kEnded && processId != 0) {
    const win::DWORD waited = api.WaitForSingleObject(process, waitMilliseconds);
    // Not seen to go (the wait over, or failed): it may still be there.
    if (waited != win::WAIT_OBJECT_0) result = EndOutcome::kStillThere;
  }
  api.CloseHandle(process);
  if (outcome) *outcome = result;
  return result == EndOutcome::kEnded;
}

bool RunCommandLine(win::Api& api, const Text& commandLine, bool wait,
                    std::optional<std::int32_t> showMode, const Text& currentDirectory) {
  static constexpr win::WORD kShowWindow[] = {0, 1, 2, 3, 4, 6};
  std::int32_t mode = showMode.value_or(2);
  mode = mode < 1 ? 1 : mode > 6 ? 6 : mode;

  win::STARTUPINFOA startup{};
  startup.cb = 68;  // the record's size on 32-bit Windows; the backend sets its own
  startup.dwFlags = win::STARTF_USESHOWWINDOW;
  startup.wShowWindow = kShowWindow[mode - 1];

  // The platform may write into the command line while it parses it.
  std::string line(commandLine.c_str());
  win::PROCESS_INFORMATION started{};
  const char* folder = currentDirectory.empty() ? nullptr : currentDirectory.c_str();
  if (!api.CreateProcessA(nullptr, line.data(), win::FALSE, 0, folder, &startup, &started))
    return false;
  if (wait)
    api.WaitForSingleObject(started.hProcess, win::INFINITE);
  else
    api.WaitForInputIdle(started.hProcess, 1000);
  api.CloseHandle(started.hThread);
  api.CloseHandle(started.hProcess);
  return true;
}
