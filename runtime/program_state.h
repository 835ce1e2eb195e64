// The program's global state, owned by start-up, and what the program's
// windows tell it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win_api.h"
#include "runtime/console_writer.h"
#include "runtime/types.h"

struct GameTarget {
  win::HWND windowHandle = 0;
  win::DWORD processId = 0;
  Text folder;         // ends in "\", or empty
  Text displayedName;  // file name with its extension
};

struct ProgramState;
using CleanupRoutine = void (*)(ProgramState&);

struct ProgramState {
  explicit ProgramState(win::Api& platform) : api(platform) {}

  win::Api& api;
  ConsoleWriter console;
  std::int32_t textCodePage = 936;
  GameTarget game;
  // The labels the version selection window lists, in order, and the text
  // its OK button left.
  std::vector<Text> versionLabels;
  Text chosenVersion;
  Text programDirectory;
  std::vector<CleanupRoutine> cleanupRoutines;
  bool ending = false;

  win::HWND ownerWindow = 0;
  win::DWORD mainThreadId = 0;
  // Windows made from the window definitions that still exist.
  int definitionWindows = 0;
  // The console's output code page before start-up changed it; 0 when unchanged.
  win::UINT savedOutputCodePage = 0;
  // The session's one-run mutex while this run holds it; 0 once let go.
  win::HANDLE oneRunMutex = 0;
};

// Lets the one-run mutex go: the run has done all it does but wait.
void ReleaseOneRun(ProgramState& state);

// Tells a destroyed definition window's passing to start-up's closing
// message loop, which ends when the last one is gone.
void DefinitionWindowDestroyed(ProgramState& state);
