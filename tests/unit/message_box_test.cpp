// The timed message box and the window search that finds its owner.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/sim/machine.h"
#include "ui/message_box.h"

namespace {

constexpr std::int32_t kCodePage = 936;

long Count(const sim::Machine& machine, const std::string& name) {
  return std::count(machine.faults.calls.begin(), machine.faults.calls.end(), name);
}

// A hidden window of the program whose procedure moves the clock on by the
// message's wParam when a queued message is dispatched to it.
win::LRESULT AdvanceClock(void* context, win::HWND, win::UINT message, win::WPARAM wParam,
                          win::LPARAM) {
  if (message == win::WM_USER)
    static_cast<sim::Machine*>(context)->clock.tick += static_cast<win::DWORD>(wParam);
  return 0;
}

win::HWND Own(sim::Machine& m, const std::string& title,
              const std::string& className = "UnityWndClass", bool visible = true,
              win::HWND owner = 0) {
  return m.windows.AddForeign(title, className, m.self.processId, visible, owner);
}

win::HWND Other(sim::Machine& m, const std::string& title,
                const std::string& className = "UnityWndClass") {
  return m.windows.AddForeign(title, className, 777);
}

// Time passes by `ms` at the first message pump of a search.
void PassTimeAtFirstPump(sim::Machine& m, win::DWORD ms) {
  win::WNDCLASSEXA definition{};
  definition.lpfnWndProc = AdvanceClock;
  definition.context = &m;
  definition.lpszClassName = "ClockWindow";
  ASSERT_NE(m.RegisterClassExA(&definition), 0);
  const win::HWND clock = m.CreateWindowExA(0, "ClockWindow", "", 0, 0, 0, 0, 0, 0, 0);
  ASSERT_NE(clock, 0u);
  ASSERT_TRUE(m.PostMessageA(clock, win::WM_USER, ms, 0));
  m.faults.calls.clear();
}

struct MessageBoxTest : ::testing::Test {
  sim::Machine machine;
};

TEST_F(MessageBoxTest, OnlyTextGivesTheDefaults) {
  const win::DWORD before = machine.clock.tick;
  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "补丁安装完成\r\n第二行"), 31999);
  ASSERT_EQ(machine.dialogs.shown.size(), 1u);
  const sim::MessageBoxRecord& box = machine.dialogs.shown[0];
  EXPECT_EQ(box.text, "补丁安装完成\r\n第二行");
  EXPECT_EQ(box.caption, "友情提醒");
  EXPECT_EQ(box.style, 0u);
  EXPECT_EQ(box.timeout, 5000u);
  EXPECT_EQ(box.owner, 0u);
  EXPECT_EQ(machine.clock.tick - before, 5000u);

  machine.user.answers = {1};
  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "x"), 0);
}

TEST_F(MessageBoxTest, ResultIsThePlatformResultMinusOne) {
  const int answers[] = {1, 2, 3, 4, 5, 6, 7, 10, 11, 32000, 0};
  for (int answer : answers) {
    SCOPED_TRACE(answer);
    machine.user.answers = {answer};
    EXPECT_EQ(TimedMessageBox(machine, kCodePage, "q", 0x21, Text("欧尼酱~这个事情很重要！"),
                              std::nullopt, 1000000),
              answer - 1);
  }
  ASSERT_EQ(machine.dialogs.shown.size(), std::size(answers));
  EXPECT_EQ(machine.dialogs.shown[0].caption, "欧尼酱~这个事情很重要！");
  EXPECT_EQ(machine.dialogs.shown[0].style, 0x21u);
  EXPECT_EQ(machine.dialogs.shown[0].timeout, 1000000u);

  // The installer's questions: OK is 0, Cancel 1.
  machine.user.answers = {1, 2};
  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "q", 0x31, Text("欧尼酱！出错啦~")), 0);
  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "q", 0x31, Text("欧尼酱！出错啦~")), 1);

  // A box that cannot be shown.
  machine.dialogs.available = false;
  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "q"), -1);
  machine.dialogs.available = true;
  machine.faults.Fail(win::Call::MessageBoxTimeoutA);
  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "q"), -1);
}

TEST_F(MessageBoxTest, OwnerIsAVisibleUnownedWindowOfTheProgram) {
  Other(machine, "Thistlegarden");
  Own(machine, "hidden", "ConsoleWindowClass", false);
  const win::HWND main = Own(machine, "控制台", "ConsoleWindowClass");
  Own(machine, "owned", "#32770", true, main);

  EXPECT_EQ(TimedMessageBox(machine, kCodePage, "x"), 31999);
  EXPECT_EQ(machine.dialogs.shown.back().owner, main);

  // An owner given is used as it is, without a search.
  machine.faults.calls.clear();
  TimedMessageBox(machine, kCodePage, "x", std::nullopt, std::nullopt, win::HWND{0});
  EXPECT_EQ(machine.dialogs.shown.back().owner, 0u);
  EXPECT_EQ(Count(machine, "FindWindowExA"), 0);

  // A negative time-out goes to the platform unchanged.
  TimedMessageBox(machine, kCodePage, "x", std::nullopt, std::nullopt, std::nullopt, -1);
  EXPECT_EQ(machine.dialogs.shown.back().timeout, win::INFINITE);
}

TEST(MessageBoxOwnerTest, SearchGivesUpAfterOneSecond) {
  for (win::DWORD passes : {999u, 1000u}) {
    sim::Machine m;
    Other(m, "a");
    const win::HWND main = Own(m, "控制台");
    PassTimeAtFirstPump(m, passes);
    EXPECT_EQ(TimedMessageBox(m, kCodePage, "x"), 31999);
    EXPECT_EQ(m.dialogs.shown.back().owner, passes < 1000 ? main : 0u) << passes;
  }
}

TEST_F(MessageBoxTest, SkipsHiddenOwnedAndForeignWindows) {
  const win::DWORD self = machine.self.processId;
  Other(machine, "Thistlegarden");
  const win::HWND hidden = Own(machine, "hidden", "UnityWndClass", false);
  const win::HWND owner = Other(machine, "owner");
  Own(machine, "popup", "UnityWndClass", true, owner);
  const win::HWND main = Own(machine, "Thistlegarden");

  machine.faults.calls.clear();
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self), main);
  EXPECT_EQ(Count(machine, "GetParent"), 2);  // the popup and the main window
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, std::nullopt, std::nullopt, std::nullopt,
                              false),
            hidden);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, 777, Text("owner")), owner);
}

TEST_F(MessageBoxTest, HiddenWindowsArePassedWithoutPumping) {
  Own(machine, "a", "X", false);
  Own(machine, "b", "X", false);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, machine.self.processId), 0u);
  EXPECT_EQ(Count(machine, "PeekMessageA"), 0);

  Other(machine, "c");
  machine.faults.calls.clear();
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, machine.self.processId), 0u);
  EXPECT_EQ(Count(machine, "PeekMessageA"), 1);
}

TEST_F(MessageBoxTest, SearchEndsWithTheWindowList) {
  Other(machine, "a");
  Other(machine, "b");
  Own(machine, "hidden", "X", false);
  const win::DWORD before = machine.clock.tick;
  for (auto timeout : {std::optional<std::int32_t>{}, std::optional<std::int32_t>{-5}}) {
    machine.faults.calls.clear();
    EXPECT_EQ(FindProcessWindow(machine, kCodePage, machine.self.processId, std::nullopt,
                                std::nullopt, timeout),
              0u);
    // Three windows and the empty answer; the walk does not start over.
    EXPECT_EQ(Count(machine, "FindWindowExA"), 4);
  }
  EXPECT_EQ(machine.clock.tick, before);
}

TEST_F(MessageBoxTest, TimeIsTestedBeforeEachWindow) {
  // A time-out of 0 looks at no window.
  Own(machine, "main");
  machine.faults.calls.clear();
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, machine.self.processId, std::nullopt,
                              std::nullopt, 0),
            0u);
  EXPECT_EQ(Count(machine, "FindWindowExA"), 0);

  // Time passes while the first window's messages are pumped: the search
  // stops as soon as the elapsed time reaches the limit.
  struct Case {
    std::optional<std::int32_t> timeout;
    win::DWORD passes;
    bool found;
  };
  const Case cases[] = {
      {250, 249, true},
      {250, 250, false},
      {std::nullopt, 31535999, true},
      {std::nullopt, 31536000, false},
      {-1, 31536000, false},
      {-1, 31535999, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.passes);
    sim::Machine m;
    Other(m, "first");
    const win::HWND main = Own(m, "main");
    PassTimeAtFirstPump(m, c.passes);
    EXPECT_EQ(FindProcessWindow(m, kCodePage, m.self.processId, std::nullopt, std::nullopt,
                                c.timeout),
              c.found ? main : 0u);
    // The clock window, "first", and "main" only when time was left.
    EXPECT_EQ(Count(m, "FindWindowExA"), c.found ? 3 : 2);
  }
}

TEST_F(MessageBoxTest, FiltersAreCaseSensitiveSubstrings) {
  const win::DWORD self = machine.self.processId;
  const win::HWND untitled = Own(machine, "", "UnityWndClass");
  const win::HWND game = Own(machine, "Thistlegarden补丁", "UnityWndClass");
  const win::HWND tool = Own(machine, "tool", "ToolWindow");
  Other(machine, "Thistlegarden", "Other");

  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, Text("补丁")), game);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, Text("thistle")), 0u);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, std::nullopt, Text("Wnd")), untitled);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, std::nullopt, Text("window")), 0u);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, Text("o"), Text("Window")), tool);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, Text("Thistle"), Text("Tool")), 0u);
  // An empty title matches no title filter, not even an empty one; an empty
  // class filter matches any class.
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, Text("")), game);
  EXPECT_EQ(FindProcessWindow(machine, kCodePage, self, std::nullopt, Text("")), untitled);
}

}  // namespace
