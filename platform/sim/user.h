// The scripted user of the simulated machine: what the player does in the
// program's windows and answers to its message boxes, and how long it takes.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/win_api.h"

namespace sim {

struct ScriptedUser {
  // What the user does in the program's own windows while its message loop
  // waits, in order. With nothing left to do, the user closes the window
  // (as with Alt+F4).
  struct Action {
    enum Kind { kPick, kType, kPressOk, kClose, kKey } kind;
    // The item to pick or the text to type, code page 936; for a key,
    // "tab", "shift+tab", "enter" or "escape", pressed in the focus window.
    std::string text;
  };
  std::deque<Action> actions;
  // Runs before each action, while the window is on screen.
  std::function<void()> beforeAction;

  // Answers for the next message boxes, in order: a button identifier (IDOK
  // 1, IDCANCEL 2, ...), 32000 to let the time-out run out, or 0 for a box
  // that cannot be shown. With no answer left, a box waits for its time-out.
  std::deque<int> answers;
  // Runs while each box is on screen, before it is answered: what else
  // happens on the machine meanwhile.
  std::function<void()> onShow;

  // How long the user takes to act or answer, in ms of virtual time.
  win::DWORD thinkTime = 0;

  // The next action (closing the window when none is left).
  Action NextAction() {
    if (beforeAction) beforeAction();
    if (actions.empty()) return {Action::kClose, ""};
    Action next = actions.front();
    actions.pop_front();
    return next;
  }
  // The next answer (32000, the time-out, when none is left).
  int NextAnswer() {
    if (answers.empty()) return 32000;
    const int next = answers.front();
    answers.pop_front();
    return next;
  }
};

}  // namespace sim
