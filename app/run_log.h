// A short record of one run, for getting help: what was found, each
// question and its answer, each step with the Windows error where one
// failed, the installer's version and Windows'. Kept in the installer's own
// folder under the temporary-files folder (never in the comparison folder,
// which may be deleted), in UTF-8 with a byte-order mark so that any Windows
// shows it: the last five runs', 运行记录1.txt the newest.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win_api.h"
#include "runtime/types.h"

inline constexpr int kKeptRunLogs = 5;

class RunLog {
 public:
  explicit RunLog(win::Api& api);

  // A line "label：value".
  void Add(std::string_view label, const Text& value);
  // A step's result: "真", or "假" with the Windows error and its text.
  void AddStep(std::string_view label, bool done, win::DWORD error);

  // Writes the record, making room among the kept ones first. The path
  // written (code page 936 as shown), empty when it could not be written.
  Text Save();

 private:
  win::Api& api_;
  std::vector<Text> lines_;
  Text path_;  // the file this run writes, once it has made room
};

// The system's text for a Windows error, one line; empty when it has none.
Text ErrorText(win::Api& api, win::DWORD error);
