#include "ui/version_window.h"

namespace {

constexpr int kWidth = 310;
constexpr int kHeight = 208;
constexpr int kButtonId = 1001;
constexpr int kComboId = 1002;

constexpr win::DWORD WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_CLIPSIBLINGS = 0x04000000,
                     WS_CLIPCHILDREN = 0x02000000, WS_DLGFRAME = 0x00400000,
                     WS_VSCROLL = 0x00200000, WS_MINIMIZEBOX = 0x00020000, WS_TABSTOP = 0x00010000;
constexpr win::DWORD BS_CENTER = 0x0300, BS_VCENTER = 0x0C00, BS_MULTILINE = 0x2000;
constexpr win::DWORD CBS_DROPDOWN = 0x0002, CBS_AUTOHSCROLL = 0x0040;
constexpr win::UINT SWP_NOSIZE = 0x1, SWP_NOMOVE = 0x2, SWP_NOACTIVATE = 0x10;
constexpr win::HWND HWND_TOPMOST = static_cast<win::HWND>(-1);
constexpr int SM_CXSCREEN = 0, SM_CYSCREEN = 1, SW_SHOW = 5, COLOR_BTNFACE = 15;
constexpr int DEFAULT_GUI_FONT = 17, WHITE_BRUSH = 0, TRANSPARENT = 1;
constexpr win::UINT DT_LEFT = 0x0, DT_VCENTER = 0x4, DT_SINGLELINE = 0x20, DT_NOPREFIX = 0x800;
constexpr win::DWORD kRed = 0x0000FF, kWhite = 0xFFFFFF;  // COLORREF: 0x00BBGGRR

constexpr char kInstruction[] = "未能正常识别游戏版本，请自行选择版本。";

win::LRESULT SendTo(win::Api& api, win::HWND window, win::UINT message, win::WPARAM wParam = 0,
                    win::LPARAM lParam = 0) {
  return api.SendMessageA(window, message, wParam, lParam);
}

// The OK button: the combo box's text becomes the chosen version.
void ConfirmVersion(ProgramState& state, win::HWND window) {
  win::Api& api = state.api;
  win::HWND combo = api.GetDlgItem(window, kComboId);
  Text text(static_cast<std::size_t>(api.GetWindowTextLengthA(combo)) + 1, '\0');
  int n = api.GetWindowTextA(combo, text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  state.chosenVersion = text;
  api.DestroyWindow(window);
}

void PaintInstruction(win::Api& api, win::HWND window) {
  win::PAINTSTRUCT paint{};
  win::HDC dc = api.BeginPaint(window, &paint);
  if (!dc) return;
  win::HGDIOBJ previous = api.SelectObject(dc, api.GetStockObject(DEFAULT_GUI_FONT));
  api.SetTextColor(dc, kRed);
  api.SetBkMode(dc, TRANSPARENT);
  win::RECT label{32, 16, 32 + 264, 16 + 32};
  api.DrawTextA(dc, kInstruction, -1, &label, DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  api.SelectObject(dc, previous);
  api.EndPaint(window, &paint);
}

// No class brush: the background is painted in the button-face colour.
win::LRESULT EraseBackground(win::Api& api, win::HWND window, win::HDC dc) {
  win::RECT client{};
  api.GetClientRect(window, &client);
  win::HGDIOBJ brush = api.CreateSolidBrush(api.GetSysColor(COLOR_BTNFACE));
  api.FillRect(dc, &client, brush);
  api.DeleteObject(brush);
  return 1;
}

// Escape does what Alt+F4 does: the system menu's Close.
void CloseAsAltF4(win::Api& api, win::HWND window) {
  api.PostMessageA(window, win::WM_SYSCOMMAND, win::SC_CLOSE, 0);
}

win::HWND CreateControls(win::Api& api, win::HWND window) {
  win::HGDIOBJ font = api.GetStockObject(DEFAULT_GUI_FONT);
  win::HWND button = api.CreateWindowExA(
      0, "BUTTON", "确定",
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | BS_CENTER | BS_VCENTER | BS_MULTILINE,
      96, 112, 96, 40, window, kButtonId);
  // A drop-down kind is created with the height of its open list.
  win::HWND combo = api.CreateWindowExA(
      0, "COMBOBOX", "",
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN |
          CBS_AUTOHSCROLL,
      56, 64, 192, 160, window, kComboId);
  SendTo(api, button, win::WM_SETFONT, font, 1);
  SendTo(api, combo, win::WM_SETFONT, font, 1);
  return combo;
}

void InitialiseCombo(win::Api& api, win::HWND combo, const std::vector<Text>& labels) {
  for (const Text& label : labels)
    SendTo(api, combo, win::CB_ADDSTRING, 0, reinterpret_cast<win::LPARAM>(label.c_str()));
  win::LRESULT itemHeight = SendTo(api, combo, win::CB_GETITEMHEIGHT, 0);
  if (itemHeight > 0) SendTo(api, combo, win::CB_SETITEMHEIGHT, 0, itemHeight + 1);
  SendTo(api, combo, win::CB_LIMITTEXT, 0);
  SendTo(api, combo, win::CB_SETCURSEL, 1);
  api.SetWindowTextA(combo, "");
  SendTo(api, combo, win::CB_SETEDITSEL, 0, 0);
}

}  // namespace

win::LRESULT VersionWindowProc(void* context, win::HWND window, win::UINT message,
                               win::WPARAM wParam, win::LPARAM lParam) {
  auto& state = *static_cast<ProgramState*>(context);
  win::Api& api = state.api;
  switch (message) {
    case win::WM_COMMAND:
      if ((wParam & 0xFFFF) == kButtonId && (wParam >> 16 & 0xFFFF) == win::BN_CLICKED) {
        ConfirmVersion(state, window);
        return 0;
      }
      if ((wParam & 0xFFFF) == static_cast<win::WPARAM>(win::IDCANCEL) && lParam == 0) {
        CloseAsAltF4(api, window);
        return 0;
      }
      break;
    case win::DM_GETDEFID:
      // Enter presses the button, which still looks like no default button.
      return static_cast<win::LRESULT>(kButtonId | static_cast<win::DWORD>(win::DC_HASDEFID) << 16);
    case win::WM_PAINT:
      PaintInstruction(api, window);
      return 0;
    case win::WM_ERASEBKGND:
      return EraseBackground(api, window, static_cast<win::HDC>(wParam));
    case win::WM_CTLCOLOREDIT:
    case win::WM_CTLCOLORLISTBOX:
      api.SetBkColor(static_cast<win::HDC>(wParam), kWhite);
      return static_cast<win::LRESULT>(api.GetStockObject(WHITE_BRUSH));
    case win::WM_DESTROY:
      // Wakes the modal loop, which may be waiting for a posted message
      // while the window goes in a sent one (a click sent by another program).
      api.PostMessageA(0, 0 /* WM_NULL */, 0, 0);
      DefinitionWindowDestroyed(state);
      break;
  }
  return api.DefWindowProcA(window, message, wParam, lParam);
}

bool ShowVersionSelectWindow(ProgramState& state) {
  win::Api& api = state.api;
  const int left = (api.GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  const int top = (api.GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  win::HWND window =
      // A popup: a top-level window that is none would get a title bar.
      api.CreateWindowExA(0, kVersionWindowClass, "",
                          WS_POPUP | WS_DLGFRAME | WS_CLIPCHILDREN | WS_MINIMIZEBOX, left, top,
                          kWidth, kHeight, state.ownerWindow, 0);
  if (!window) return false;
  ++state.definitionWindows;

  win::RECT rect{};
  if (!api.GetWindowRect(window, &rect) || rect.left != left || rect.top != top ||
      rect.right - rect.left != kWidth || rect.bottom - rect.top != kHeight)
    api.MoveWindow(window, left, top, kWidth, kHeight, win::TRUE);
  api.SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  SendTo(api, window, win::WM_SETFONT, api.GetStockObject(DEFAULT_GUI_FONT), 1);
  const win::HWND combo = CreateControls(api, window);
  InitialiseCombo(api, combo, state.versionLabels);
  api.ShowWindow(window, SW_SHOW);
  api.SetFocus(combo);

  // Modal: this thread's messages until the window is gone; Tab, Shift+Tab,
  // Enter and Escape work as in a dialog.
  win::MSG msg{};
  while (api.IsWindow(window)) {
    win::BOOL got = api.GetMessageA(&msg, 0, 0, 0);
    if (got == 0) {
      api.PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
      break;
    }
    if (got < 0) break;
    if (api.IsDialogMessageA(window, &msg)) continue;
    api.TranslateMessage(&msg);
    api.DispatchMessageA(&msg);
  }
  return true;
}
