// A simulated Windows for tests on Linux: the model of what the program
// relies on. Faults and crashes are no part of it (platform/faulting_api.h).
//
// Each kind of system state lives in its own structure, public so that a test
// can lay out a machine and read it back afterwards.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/file_system.h"
#include "platform/sim/user.h"
#include "platform/win_api.h"

namespace sim {

using win::BOOL;
using win::DWORD;
using win::HANDLE;
using win::HWND;
using win::UINT;
using win::WCHAR;
using win::WORD;

struct Clock {
  DWORD tick = 5000000;  // GetTickCount's value
  unsigned long long slept = 0;  // total Sleep time, in ms
  win::SYSTEMTIME localTime{2026, 12, 4, 10, 20, 30, 5, 0};  // what GetLocalTime gives
};

struct ConsoleState {
  // Standard output not a console: GetConsoleScreenBufferInfo fails and
  // bytes written go to `redirectedBytes`.
  bool redirected = false;
  WORD attributes = 0x07;
  win::COORD cursor{0, 0};
  win::COORD size{120, 9001};
  UINT outputCodePage = 437;
  struct Cell {
    char byte;
    WORD attributes;
  };
  std::vector<Cell> written;  // every byte written, with its attribute
  std::map<std::pair<int, int>, Cell> screen;  // (row, column) -> what it shows
  std::string redirectedBytes;

  std::string Text() const;  // the bytes alone
  // The bytes and attributes shown in `count` cells of a row.
  std::string Row(int row, int count, std::vector<WORD>* cellAttributes = nullptr) const;
};

// The program's own process and environment.
struct SelfProcess {
  DWORD processId = 4242;
  DWORD threadId = 4243;
  std::string modulePath = "C:\\Games\\Tools\\ThistlegardenPatch.exe";
  std::string currentDirectory = "C:\\Users\\Player\\Downloads";
  int oleInitialized = 0;
  std::set<std::string> modules = {"kernel32.dll", "user32.dll", "ntdll.dll"};
  std::set<std::string> missingExports;  // exports GetProcAddress does not find
  bool exited = false;
  UINT exitCode = 0;
  // What SetDefaultDllDirectories last set; 0 while the search is the
  // system's default, which begins in the program's own folder.
  DWORD dllDirectories = 0;
  // What follows the program's quoted path on its command line.
  std::u16string arguments;
  // The program runs with an administrator's rights: folders only
  // administrators may change (FileSystem::Node::adminOnly) take its writes.
  bool elevated = false;
  // The account it runs as: another account's named objects refuse it.
  std::string account = "Player";
  // The process whose token its thread impersonates (0: none): the files
  // see that process's rights.
  DWORD impersonated = 0;
  // The process that started it, and when it was started (FILETIME units).
  DWORD parentId = 1200;
  unsigned long long startTime = 134000000000000000ull;
  // What RtlGetVersion reports: major, minor, build.
  DWORD version[3] = {10, 0, 19045};
};

// What Windows does when the program asks for an administrator's rights
// (ShellExecuteExW with the verb "runas" on its own executable): the
// consent prompt's answer, and the elevated copy, which runs to its end
// within the call. Other verbs and other files are not modelled.
struct Elevation {
  enum class Consent {
    kGranted,   // the copy starts, with an administrator's rights
    kDeclined,  // ERROR_CANCELLED, nothing starts
    kFails,     // `failure`, nothing starts (a policy, a missing service)
  };
  Consent consent = Consent::kGranted;
  DWORD failure = win::ERROR_ACCESS_DENIED;
  // A granted elevation that brings no more rights, as under Wine.
  bool sameRights = false;
  // The account the elevated copy runs as: another one when an administrator
  // typed a password for a standard user (over the shoulder). That account's
  // temporary folder; its copy opens the player's processes only with the
  // debug privilege.
  std::string account = "Player";
  std::string accountTemp = "C:\\Users\\Admin\\AppData\\Local\\Temp\\";
  // Runs after the copy ran, before its exit code is read (what another
  // program does meanwhile).
  std::function<void()> afterCopy;
  // > 0: the copy's process ends this many ms of virtual time after its
  // work is done (it is slow to finish, as on a busy machine).
  DWORD copyTakes = 0;
  struct Request {
    std::u16string verb, file, parameters;
    int show = 0;
  };
  std::vector<Request> requests;  // every ShellExecuteExW call, in order
  // The program itself, run again as the elevated copy: it returns the
  // exit code. Without it a granted copy fails to start (0xC0000135).
  std::function<UINT()> program;
  // What the elevated copies wrote to their own consoles and how many boxes
  // they showed.
  std::string copyConsole;
  std::size_t copyBoxes = 0;
};

// Top-level and child windows, the program's classes and its message queue.
struct WindowSystem {
  struct Window {
    HWND handle = 0;
    std::string className;
    std::string title;  // code page 936
    DWORD style = 0;
    DWORD exStyle = 0;
    DWORD processId = 0;
    DWORD threadId = 0;
    HWND parent = 0;  // parent or owner
    bool child = false;
    bool visible = false;
    bool topmost = false;
    win::RECT rect{0, 0, 0, 0};
    win::HMENU id = 0;
    std::vector<std::string> items;  // combo box list
    long selection = -1;
    std::map<UINT, win::LPARAM> settings;  // other messages' last values
  };
  struct Class {
    win::WNDCLASSEXA definition{};
    std::string name;
  };
  // Text the program drew: DrawTextA calls with the colours then in force.
  struct Drawn {
    HWND window;
    std::string text;
    win::RECT rect;
    UINT format;
    DWORD textColour;
    int backgroundMode;
  };
  std::vector<Drawn> drawn;
  struct DeviceContext {
    HWND window = 0;
    DWORD textColour = 0;
    DWORD backgroundColour = 0xFFFFFF;
    int backgroundMode = 2;  // OPAQUE
  };
  std::map<win::HDC, DeviceContext> deviceContexts;
  win::HGDIOBJ nextObject = 0x0B000000;

  HWND focus = 0;                     // the window that has the keyboard focus
  HWND shellWindow = 0;               // GetShellWindow's answer: 0, no shell
  std::set<win::WPARAM> keysDown;     // as the program's thread last saw them
  std::vector<Window> windows;  // z-order: first is topmost
  std::vector<Class> classes;
  std::deque<win::MSG> queue;
  HWND nextHandle = 0x10010;
  int screenWidth = 1920;
  int screenHeight = 1080;

  Window* Find(HWND handle);
  // Adds a top-level window of another program; returns its handle.
  HWND AddForeign(const std::string& title, const std::string& className, DWORD processId,
                  bool visible = true, HWND owner = 0);
  // Moves a top-level window to the top of the z-order, as when its program
  // opens it after the others.
  void Raise(HWND handle);
};

// Other programs' processes, as the snapshot lists them (in this order).
struct ProcessTable {
  struct Process {
    DWORD processId = 0;
    std::string exeName;      // szExeFile, code page 936
    std::u16string imagePath;  // the kernel's form: \Device\HarddiskVolumeN\... or \??\C:\...
    DWORD parentId = 0;
    // Access rights OpenProcess grants; asking for any other right fails
    // with ERROR_ACCESS_DENIED. Granted only while the debug privilege is on
    // when `needsDebugPrivilege`.
    DWORD openableRights = 0x1FFFFF;
    bool needsDebugPrivilege = false;
    bool running = true;
    UINT exitCode = 0;
    // TerminateProcess accepts the request, but the process does not go
    // (hung in a driver call).
    bool hangsOnEnd = false;
    // > 0: an ended process goes this many ms of virtual time after the
    // request (at `goesAt`), as one slow to close does.
    DWORD endTakes = 0;
    bool ending = false;
    DWORD goesAt = 0;
    std::string commandLine;  // for processes the program started
    std::string currentDirectory;  // the folder it was started in
    bool startedByProgram = false;
    bool elevated = false;  // started with an administrator's rights
    DWORD showWindow = 0;
    unsigned long long startTime = 0;  // FILETIME units; set by Add
    std::string account = "Player";  // another account's process opens only with the debug privilege
  };
  std::vector<Process> list;
  DWORD nextProcessId = 9000;
  // Processes added later start later than the program itself.
  unsigned long long nextStartTime = 134000000100000000ull;
  // The program's own image path in the kernel's form.
  std::u16string selfImagePath = u"\\Device\\HarddiskVolume3\\Games\\Tools\\ThistlegardenPatch.exe";
  bool debugPrivilegeHeld = true;     // the token has the privilege to enable
  bool debugPrivilegeEnabled = false;
  std::vector<bool> privilegeLog;  // enabled or not, at each change

  // Open snapshots, by handle: the entries as they were when taken, and the
  // next one Process32Next gives.
  struct Snapshot {
    std::vector<win::PROCESSENTRY32> entries;
    std::size_t next = 0;
  };
  std::map<HANDLE, Snapshot> snapshots;
  // Rights OpenProcess granted, by handle (a process handle's object is the
  // process ID); a process handle not listed here has every right.
  std::map<HANDLE, DWORD> grantedRights;
  // Named mutexes of the session: the name and how many handles, the
  // program's and other programs', hold each (it goes with the last one).
  // Ownership and waiting on them are not modelled.
  std::map<std::u16string, int> mutexes;
  // Those of them an elevated program made: a program without an
  // administrator's rights is refused them (ERROR_ACCESS_DENIED).
  std::set<std::u16string> elevatedMutexes;
  // The account that made each named mutex: another account is refused it.
  std::map<std::u16string, std::string> mutexAccounts;

  Process* Find(DWORD processId);
  DWORD Add(const std::string& exeName, const std::u16string& imagePath);
};

// Drive letters and the NT devices behind them (QueryDosDeviceW).
struct DriveTable {
  // Letter -> the target list, each target ending in a zero unit, the list in
  // another (as QueryDosDeviceW writes it).
  std::map<char, std::u16string> targets = {{'C', u"\\Device\\HarddiskVolume3"}};
  // What GetDriveTypeW says of a letter (DRIVE_FIXED when not listed).
  std::map<char, UINT> types;
  // Letters of the player's own logon session (mapped network drives, subst):
  // an elevated program does not see them.
  std::set<char> playerSessionOnly;
};

// HKEY_CURRENT_USER values, in the 64-bit and the 32-bit registry views.
// On 32-bit Windows (folders.wow64 empty) there is only view32.
struct Registry {
  struct Value {
    DWORD type = win::REG_DWORD;
    std::string data;
  };
  // key path (case folded, UTF-8) -> value name (case folded) -> value, per view
  std::map<std::string, std::map<std::string, Value>> view64, view32;
  // Sets the value in both views, or (both false) in view64 alone.
  void SetDword(const std::string& key, const std::string& name, DWORD value, bool both = true);
  void Set(const std::string& key, const std::string& name, Value value, bool both = true);
  void SetInView(bool in64, const std::string& key, const std::string& name, Value value);
  void Delete(const std::string& key, const std::string& name);  // from both views
  const Value* Find(bool in64, const std::string& key, const std::string& name) const;
  static std::string Fold(const std::string& text);  // ASCII lower case

  // What the file manager does with extensions (GetFileTitleW): types whose
  // extension is never shown, and types whose extension is always shown even
  // when "HideFileExt" is set. Lower case, with the dot.
  std::set<std::string> neverShowExtensions = {".lnk", ".pif", ".url"};
  std::set<std::string> alwaysShowExtensions;

  // Open keys, by handle: the key path and the view.
  struct OpenKey {
    std::string path;
    bool in64 = false;
  };
  std::map<HANDLE, OpenKey> openKeys;
};

// Well-known folders and the system's shape.
struct Folders {
  std::string temp = "C:\\Users\\Player\\AppData\\Local\\Temp\\";
  std::string windows = "C:\\Windows";
  std::string system = "C:\\Windows\\System32";
  std::string wow64 = "C:\\Windows\\SysWOW64";  // empty on 32-bit Windows
  std::map<int, std::string> special = {
      {5, "C:\\Users\\Player\\Documents"}, {26, "C:\\Users\\Player\\AppData\\Roaming"},
      {16, "C:\\Users\\Player\\Desktop"}};
};

// A message box as it was shown, and the answer the scripted user gave.
struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT style;
  DWORD timeout;  // INFINITE for a box without time-out
  int result;
};

struct Dialogs {
  std::vector<MessageBoxRecord> shown;
  bool available = true;  // false: MessageBoxTimeoutA is absent
};

class Recoders;  // code_pages.h

class Model final : public win::Api {
 public:
  Model();
  ~Model() override;

  Clock clock;
  ConsoleState console;
  SelfProcess self;
  FileSystem files;
  WindowSystem windows;
  Dialogs dialogs;
  ScriptedUser user;
  ProcessTable processes;
  DriveTable drives;
  Registry registry;
  Folders folders;
  Elevation elevation;

  // Handles this machine gave out and that are still open (pseudo and
  // standard handles excluded).
  std::size_t OpenHandleCount() const;
  std::string AbsolutePath(const std::string& path) const;

  // win::Api
#define WIN_CALL(area, type, name, params, args, failure, fault, note) type name params override;
#include "platform/calls.def"
#undef WIN_CALL

  // The code page conversion the machine's own calls use; it counts as no
  // platform call and never fails by injection.
  int ConvertToWide(UINT codePage, const char* text, int textCount, WCHAR* wide, int wideSize) {
    return ToWide(codePage, 0, text, textCount, wide, wideSize);
  }

 private:
  win::LRESULT ComboBoxMessage(WindowSystem::Window& window, UINT message, win::WPARAM wParam,
                               win::LPARAM lParam);
  // Does the next thing the user does in the program's window; false when
  // the program shows no window.
  bool PerformUserAction();
  enum HandleKind { kFile = 1, kFind, kSnapshot, kProcess, kThread, kKey, kMemory, kMutex, kToken };
  struct HandleEntry {
    int kind;
    std::uintptr_t object;  // what the handle refers to, by kind
  };

  HANDLE NewHandle(int kind, std::uintptr_t object = 0);
  // An open file: its key, the access it was opened with and where the
  // next read starts.
  struct OpenFile {
    std::string key;
    DWORD access = 0;
    std::size_t position = 0;
  };
  OpenFile* File(HANDLE handle);
  BOOL MoveEntry(const std::string& existing, const std::string& target, DWORD flags);
  // The process a handle refers to (the program itself included), or nullptr
  // with the last error set; `right` is checked when nonzero.
  bool ProcessOf(HANDLE handle, DWORD right, DWORD* processId);
  // The elevated copy, run to its end inside ShellExecuteExW.
  UINT RunElevatedCopy(DWORD processId, const std::u16string& parameters);
  int ToText(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, char* text,
             int textSize);
  int ToWide(UINT codePage, DWORD flags, const char* text, int textCount, WCHAR* wide,
             int wideSize);
  BOOL DestroyOne(HWND window);
  // Ended processes whose time to go has come are gone.
  void SettleEndingProcesses();
  int HandleKind(HANDLE handle) const;
  // The open handle of that kind, or nullptr.
  HandleEntry* Handle(HANDLE handle, int kind);
  // True, with ERROR_ACCESS_DENIED set, when a process handle was opened
  // without `right`.
  bool LacksRight(HANDLE handle, DWORD right);
  // True, with ERROR_ACCESS_DENIED set, when `node` is one only an
  // administrator may change and the program runs without those rights.
  bool NeedsAdministrator(const FileSystem::Node* node);
  // Whether the files see an administrator: the program's own rights, or
  // those of the process whose token its thread impersonates.
  bool ActsAsAdministrator();
  // True, with ERROR_PATH_NOT_FOUND set, for a null or empty path.
  template <typename Char>
  bool NoPath(const Char* path) {
    if (path && *path) return false;
    SetLastError(win::ERROR_PATH_NOT_FOUND);
    return true;
  }
  std::map<HANDLE, HandleEntry> handles_;
  HANDLE nextHandle_ = 0x1000;
  DWORD lastError_ = 0;
  std::unique_ptr<Recoders> converters_;
  std::u16string commandLine_;  // what GetCommandLineW last gave
};

}  // namespace sim
