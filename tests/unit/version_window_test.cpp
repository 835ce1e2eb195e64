// The version selection window on the simulated machine: its layout, and
// what each thing the user does leaves in chosenVersion.
#include <gtest/gtest.h>

#include "app/startup.h"
#include "install/payload_catalogue.h"
#include "install/versions.h"
#include "platform/sim/machine.h"
#include "ui/version_window.h"
#include "ui/window_definitions.h"
#include "unit/scenario.h"

namespace {

using Action = sim::ScriptedUser::Action;

struct Shown {
  sim::WindowSystem::Window window, button, combo;
  std::vector<sim::WindowSystem::Drawn> drawn;
};

class VersionWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    win::WNDCLASSEXA owner{};
    owner.lpfnWndProc = [](void* c, win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
      return static_cast<ProgramState*>(c)->api.DefWindowProcA(h, m, w, l);
    };
    owner.context = &state;
    owner.lpszClassName = "Owner";
    machine.RegisterClassExA(&owner);
    state.ownerWindow = machine.CreateWindowExA(0x80, "Owner", "", 0, 0, 0, 0, 0, 0, 0);
    ASSERT_TRUE(LoadWindowDefinitions(state));
    for (const KnownVersion& version : kKnownVersions) state.versionLabels.emplace_back(version.label);
    // What the screen shows when the user first acts.
    machine.user.beforeAction = [this, &m = machine] {
      if (shown) return;
      shown.emplace();
      for (const auto& w : m.windows.windows) {
        if (w.className == kVersionWindowClass) shown->window = w;
        if (w.className == "BUTTON") shown->button = w;
        if (w.className == "COMBOBOX") shown->combo = w;
      }
      // Windows paints a window when it is first shown.
      m.SendMessageA(shown->window.handle, win::WM_PAINT, 0, 0);
      shown->drawn = m.windows.drawn;
    };
  }

  std::string Run(std::deque<Action> actions) {
    machine.user.actions = std::move(actions);
    EXPECT_TRUE(ShowVersionSelectWindow(state));
    EXPECT_FALSE(machine.IsWindow(shown ? shown->window.handle : 0));
    EXPECT_EQ(state.definitionWindows, 0);
    return state.chosenVersion;
  }

  sim::Machine machine;
  ProgramState state{machine};
  std::optional<Shown> shown;
};

bool Inside(const win::RECT& inner, const win::RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom && inner.left < inner.right && inner.top < inner.bottom;
}

bool Apart(const win::RECT& a, const win::RECT& b) {
  return a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
}

// Centred on whatever screen the machine has, the fraction dropped; on a
// 1920 x 1080 screen at (805, 436).
TEST_F(VersionWindowTest, CentredOnTheScreen) {
  const struct { int width, height, left, top; } screens[] = {
      {1920, 1080, 805, 436}, {1024, 768, 357, 280}, {1366, 767, 528, 279}, {300, 200, -5, -4}};
  for (const auto& screen : screens) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
    machine.windows.screenWidth = screen.width;
    machine.windows.screenHeight = screen.height;
    shown.reset();
    Run({{Action::kPressOk, ""}});
    ASSERT_TRUE(shown);
    const auto& r = shown->window.rect;
    EXPECT_EQ(r.left, screen.left);
    EXPECT_EQ(r.top, screen.top);
    EXPECT_EQ(r.right - r.left, 310);
    EXPECT_EQ(r.bottom - r.top, 208);
  }
}

TEST_F(VersionWindowTest, ALabelAFieldAndAButtonInAFramedPopup) {
  Run({{Action::kPressOk, ""}});
  ASSERT_TRUE(shown);
  const auto& w = shown->window;
  EXPECT_TRUE(w.topmost);
  EXPECT_TRUE(w.visible);
  EXPECT_EQ(w.parent, state.ownerWindow);
  EXPECT_EQ(w.title, "");
  constexpr win::DWORD WS_POPUP = 0x80000000, WS_CAPTION = 0x00C00000, WS_DLGFRAME = 0x00400000,
                       WS_SYSMENU = 0x00080000, WS_THICKFRAME = 0x00040000,
                       WS_MAXIMIZEBOX = 0x00010000;
  EXPECT_TRUE(w.style & WS_POPUP);
  // The dialog frame alone: no title bar, system menu, sizing border or
  // maximise box.
  EXPECT_EQ(w.style & WS_CAPTION, WS_DLGFRAME);
  EXPECT_FALSE(w.style & (WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX));

  // The instruction above the field, the field above the button, none over
  // another, all inside the window.
  const win::RECT client{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top};
  ASSERT_EQ(shown->drawn.size(), 1u);
  const auto& label = shown->drawn[0];
  const auto& b = shown->button;
  const auto& c = shown->combo;
  EXPECT_TRUE(Inside(label.rect, client));
  EXPECT_TRUE(Inside(b.rect, client));
  // The drop-down's own rectangle holds its open list, which may reach
  // beyond the window; its text field is the top 20 pixels.
  const win::RECT field{c.rect.left, c.rect.top, c.rect.right, c.rect.top + 20};
  EXPECT_TRUE(Inside(field, client));
  EXPECT_TRUE(Apart(label.rect, field));
  EXPECT_TRUE(Apart(label.rect, b.rect));
  EXPECT_TRUE(Apart(field, b.rect));
  EXPECT_LE(label.rect.bottom, field.top);
  EXPECT_LE(field.bottom, b.rect.top);
  EXPECT_EQ(label.text, "未能正常识别游戏版本，请自行选择版本。");
  EXPECT_EQ(label.textColour, 0x0000FFu);  // COLORREF 0x00BBGGRR: red
  EXPECT_EQ(label.backgroundMode, 1);      // transparent
  constexpr win::UINT DT_VCENTER = 0x4, DT_SINGLELINE = 0x20, DT_NOPREFIX = 0x800;
  EXPECT_EQ(label.format, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);  // and DT_LEFT, 0

  EXPECT_EQ(b.title, "确定");
  constexpr win::DWORD BS_CENTER = 0x300, BS_VCENTER = 0xC00, BS_MULTILINE = 0x2000;
  EXPECT_EQ(b.style & 0x3F00u, BS_CENTER | BS_VCENTER | BS_MULTILINE);
  EXPECT_EQ(b.style & 0xFu, 0u);  // BS_PUSHBUTTON: not a default button

  // The open list shows every version, in the order the player knows them;
  // the field starts empty.
  EXPECT_GT(c.rect.bottom - c.rect.top, 20 * 5);
  std::vector<std::string> labels;
  for (const scenario::Version& version : scenario::kVersions) labels.push_back(version.label);
  EXPECT_EQ(c.items, labels);
  EXPECT_EQ(c.title, "");
  EXPECT_EQ(c.style & 0xFu, 0x2u);  // CBS_DROPDOWN: a field the player can type in
  EXPECT_EQ(c.settings.at(win::CB_SETITEMHEIGHT), 15 + 1);  // one more than the default
  EXPECT_EQ(c.selection, 1);
}

TEST_F(VersionWindowTest, WhatTheUserLeaves) {
  EXPECT_EQ(Run({{Action::kPressOk, ""}}), "");
  shown.reset();
  EXPECT_EQ(Run({{Action::kPick, "0.25c"}, {Action::kPressOk, ""}}), "0.25c");
  shown.reset();
  EXPECT_EQ(Run({{Action::kType, "abc"}, {Action::kPressOk, ""}}), "abc");
}

TEST_F(VersionWindowTest, ClosingWithoutOkLeavesTheTextAlone) {
  EXPECT_EQ(Run({{Action::kPick, "0.25e"}, {Action::kClose, ""}}), "");
}

// As in a dialog: Tab and Shift+Tab between the combo box and the button,
// Enter presses 确定, Escape closes the window as Alt+F4 does.
TEST_F(VersionWindowTest, KeyboardAsInADialog) {
  std::vector<std::string> focus;  // the class of the focus window before each action
  machine.user.beforeAction = [&, &m = machine] {
    const auto* w = m.windows.Find(m.windows.focus);
    focus.push_back(w ? w->className : "none");
  };
  const Action tab{Action::kKey, "tab"}, backTab{Action::kKey, "shift+tab"},
      enter{Action::kKey, "enter"}, escape{Action::kKey, "escape"};
  EXPECT_EQ(Run({tab, tab, backTab, {Action::kPick, "0.25c"}, enter}), "0.25c");
  EXPECT_EQ(focus, (std::vector<std::string>{"COMBOBOX", "BUTTON", "COMBOBOX", "BUTTON",
                                             "BUTTON"}));
  EXPECT_EQ(machine.windows.keysDown.count(win::VK_SHIFT), 0u);

  // Enter on the button, after typing.
  EXPECT_EQ(Run({{Action::kType, "0.25a"}, tab, enter}), "0.25a");
  // Escape leaves the text as it was, as Alt+F4 does.
  state.chosenVersion.clear();
  EXPECT_EQ(Run({{Action::kPick, "0.25e"}, escape}), "");
}

TEST_F(VersionWindowTest, AWindowThatCannotBeCreated) {
  state.chosenVersion = "kept";
  machine.faults.Fail(win::Call::CreateWindowExA);
  EXPECT_FALSE(ShowVersionSelectWindow(state));
  EXPECT_EQ(state.chosenVersion, "kept");
  EXPECT_EQ(state.definitionWindows, 0);
}

// The whole run with the manual pick.
TEST(ManualPickTest, APickedLabelIsInstalledWhateverTheSize) {
  sim::Machine machine;
  auto game = scenario::InstallGame(machine, 3229614);  // size code 307: no version
  machine.user.answers = {scenario::kIdOk};
  machine.user.actions = {{Action::kPick, "0.25b"}, {Action::kPressOk, ""}};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == scenario::PayloadBytes("0.25b"));
  EXPECT_EQ(machine.dialogs.shown.size(), 1u);  // the manual question alone
  EXPECT_EQ(machine.clock.slept, 17000u);
}

TEST(ManualPickTest, PickedWithTheKeyboard) {
  sim::Machine machine;
  auto game = scenario::InstallGame(machine, 3229614);
  machine.user.answers = {scenario::kIdOk};
  machine.user.actions = {{Action::kType, scenario::kVersions[0].label}, {Action::kKey, "enter"}};
  EXPECT_EQ(ProgramEntry(machine), 0);
  EXPECT_TRUE(machine.files.Find(game.AssemblyPath())->data == scenario::PayloadBytes(scenario::kVersions[0].label));
}

TEST(ManualPickTest, ATypedTextThatIsNoLabelInstallsNothing) {
  for (const char* typed : {"0.25B", "abc", ""}) {
    sim::Machine machine;
    auto game = scenario::InstallGame(machine, 3240448);
    machine.user.answers = {scenario::kIdCancel, scenario::kIdOk};
    machine.user.actions = {{Action::kType, typed}, {Action::kPressOk, ""}};
    EXPECT_EQ(ProgramEntry(machine), 0);
    EXPECT_EQ(machine.files.Find(game.AssemblyPath())->data.size(), 3240448u) << typed;
    ASSERT_EQ(machine.dialogs.shown.size(), 4u) << typed;
    EXPECT_EQ(machine.dialogs.shown[2].text, "运行出错！，请联系开发者Orrinvale&Tamsk_Olu！");
  }
}

}  // namespace
