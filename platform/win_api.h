// The Windows operations the installer uses, behind one interface.
//
// Every method is named and shaped as the Windows function it stands for, with
// the same failure value. RealApi forwards to Windows; sim::Machine models the
// system on Linux. Types live in namespace win so that this header never needs
// <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win {

using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using SHORT = std::int16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using NTSTATUS = std::int32_t;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using HANDLE = std::uintptr_t;
using HWND = std::uintptr_t;
using HKEY = std::uintptr_t;
using HMODULE = std::uintptr_t;
using HMENU = std::uintptr_t;
using HGDIOBJ = std::uintptr_t;
using HDC = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using FARPROC = std::uintptr_t;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr HANDLE INVALID_HANDLE_VALUE = ~HANDLE{0};
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);

// GetLastError codes the program and its tests compare with. Both backends
// may give others: Windows any, the simulated one a few more it sets by
// number (a bad path name, a missing procedure, window class and control
// errors). Registry calls return their code instead (below).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// Console.
struct COORD {
  SHORT X;
  SHORT Y;
};
struct SMALL_RECT {
  SHORT Left;
  SHORT Top;
  SHORT Right;
  SHORT Bottom;
};
struct CONSOLE_SCREEN_BUFFER_INFO {
  COORD dwSize;
  COORD dwCursorPosition;
  WORD wAttributes;
  SMALL_RECT srWindow;
  COORD dwMaximumWindowSize;
};

// Process snapshots.
constexpr DWORD TH32CS_SNAPPROCESS = 2;
struct PROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  std::uintptr_t th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  char szExeFile[260];
};

// Process rights and start-up records.
constexpr DWORD PROCESS_TERMINATE = 0x0001;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
struct STARTUPINFOA {
  DWORD cb;
  DWORD dwFlags;
  WORD wShowWindow;
};
struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// ntdll.
constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH = static_cast<NTSTATUS>(0xC0000004u);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022u);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_PRIVILEGE_NOT_HELD = static_cast<NTSTATUS>(0xC0000061u);
constexpr ULONG ProcessImageFileName = 27;
constexpr ULONG SE_DEBUG_PRIVILEGE = 20;
// The record at the start of an image-name buffer, in the platform's own layout.
struct UNICODE_STRING {
  WORD Length;
  WORD MaximumLength;
  WCHAR* Buffer;
};

// Heap and local memory.
constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
constexpr UINT LPTR = 0x0040;

// Files.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
// Files written beside and swapped in.
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
constexpr DWORD FILE_SHARE_READ = 0x1;

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  char cFileName[260];
};

// Registry.
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_WOW64_64KEY = 0x0100;
constexpr DWORD KEY_WOW64_32KEY = 0x0200;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr LONG ERROR_MORE_DATA = 234;

// Windows and messages.
struct POINT {
  LONG x;
  LONG y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;

constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
constexpr UINT BN_CLICKED = 0;
constexpr UINT CB_GETEDITSEL = 0x0140;
constexpr UINT CB_LIMITTEXT = 0x0141;
constexpr UINT CB_SETEDITSEL = 0x0142;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SETITEMHEIGHT = 0x0153;
constexpr UINT CB_GETITEMHEIGHT = 0x0154;
constexpr UINT CBN_SELCHANGE = 1;

// A paint session: the device context and the area to paint, and room for
// the platform's own record.
struct PAINTSTRUCT {
  HDC hdc;
  RECT rcPaint;
  alignas(8) unsigned char platform[96];
};

// A window procedure of the program's own: the platform calls it with the
// context given to RegisterClassExA.
using WindowProc = LRESULT (*)(void* context, HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSEXA {
  UINT style;
  WindowProc lpfnWndProc;
  void* context;
  const char* lpszClassName;
  bool arrowCursor;
};

// DLL search, rights to wait on a process, keyboard and dialog navigation.
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x00000800;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT DM_GETDEFID = WM_USER + 0;
constexpr WORD DC_HASDEFID = 0x534B;
constexpr WPARAM SC_CLOSE = 0xF060;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_SHIFT = 0x10;
constexpr WPARAM VK_ESCAPE = 0x1B;

// The operations. Each comment gives the value callers read as failure.
class Api {
 public:
  virtual ~Api() = default;

  // kernel32: errors and time.
  virtual DWORD GetLastError() = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  virtual DWORD GetTickCount() = 0;  // never fails

  // kernel32: standard handles and console. GetStdHandle fails with
  // INVALID_HANDLE_VALUE; the others with FALSE (GetConsoleOutputCP with 0).
  virtual HANDLE GetStdHandle(DWORD nStdHandle) = 0;
  virtual BOOL GetConsoleScreenBufferInfo(HANDLE console, CONSOLE_SCREEN_BUFFER_INFO* info) = 0;
  virtual BOOL SetConsoleTextAttribute(HANDLE console, WORD attributes) = 0;
  virtual BOOL SetConsoleCursorPosition(HANDLE console, COORD position) = 0;
  virtual UINT GetConsoleOutputCP() = 0;
  virtual BOOL SetConsoleOutputCP(UINT codePage) = 0;
  // Writes to a file or console handle; FALSE on failure, *written may be short.
  virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // kernel32: the program itself. GetModuleFileNameA returns the length
  // copied, 0 on failure; SetCurrentDirectoryA FALSE.
  virtual DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) = 0;
  virtual BOOL SetCurrentDirectoryA(const char* path) = 0;
  virtual HANDLE GetCurrentProcess() = 0;  // a pseudo handle, never fails
  virtual DWORD GetCurrentProcessId() = 0;
  virtual DWORD GetCurrentThreadId() = 0;
  virtual HMODULE GetModuleHandleA(const char* name) = 0;  // 0 when not loaded
  virtual FARPROC GetProcAddress(HMODULE module, const char* name) = 0;  // 0 when absent

  // kernel32: code pages. Both return the units written (or needed, with a
  // size of 0), 0 on failure.
  virtual int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount,
                                  char* text, int textSize) = 0;
  virtual int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int textCount,
                                  WCHAR* wide, int wideSize) = 0;

  // kernel32: processes. CreateToolhelp32Snapshot fails with
  // INVALID_HANDLE_VALUE, OpenProcess with 0, the rest with FALSE.
  virtual HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) = 0;
  virtual BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry) = 0;
  virtual BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry) = 0;
  virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) = 0;
  virtual BOOL TerminateProcess(HANDLE process, UINT exitCode) = 0;
  virtual BOOL CreateProcessA(const char* applicationName, char* commandLine, BOOL inheritHandles,
                              DWORD creationFlags, const char* currentDirectory,
                              const STARTUPINFOA* startup, PROCESS_INFORMATION* info) = 0;
  // WAIT_FAILED on failure; WaitForInputIdle returns 0 when idle.
  virtual DWORD WaitForInputIdle(HANDLE process, DWORD milliseconds) = 0;
  virtual DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) = 0;
  // A named mutex ("Local\\..." for the session's namespace), created or,
  // when it exists already, opened: the handle then comes with
  // ERROR_ALREADY_EXISTS as the last error. 0 on failure.
  virtual HANDLE CreateMutexW(BOOL initialOwner, const WCHAR* name) = 0;

  // kernel32: memory. 0 / nullptr on failure.
  virtual HANDLE GetProcessHeap() = 0;
  virtual void* HeapAlloc(HANDLE heap, DWORD flags, std::size_t bytes) = 0;
  virtual BOOL HeapFree(HANDLE heap, DWORD flags, void* memory) = 0;
  virtual void* LocalAlloc(UINT flags, std::size_t bytes) = 0;
  virtual void* LocalFree(void* memory) = 0;  // nullptr on success

  // ntdll. Status codes; STATUS_SUCCESS is 0.
  virtual NTSTATUS RtlAdjustPrivilege(ULONG privilege, BOOL enable, BOOL currentThread,
                                      BOOL* wasEnabled) = 0;
  virtual NTSTATUS NtQueryInformationProcess(HANDLE process, ULONG infoClass, void* buffer,
                                             ULONG length, ULONG* returnLength) = 0;

  // kernel32: devices. Units stored, 0 on failure.
  virtual DWORD QueryDosDeviceW(const WCHAR* device, WCHAR* target, DWORD maxUnits) = 0;

  // kernel32 and shell: files and folders. Handles fail with
  // INVALID_HANDLE_VALUE, lengths with 0, the rest with FALSE.
  virtual HANDLE FindFirstFileA(const char* path, WIN32_FIND_DATAA* data) = 0;
  virtual BOOL FindClose(HANDLE find) = 0;
  virtual BOOL DeleteFileA(const char* path) = 0;
  virtual HANDLE CreateFileA(const char* path, DWORD access, DWORD shareMode, DWORD disposition,
                             DWORD attributes) = 0;
  virtual BOOL CopyFileA(const char* existing, const char* target, BOOL failIfExists) = 0;
  virtual BOOL CreateDirectoryW(const WCHAR* path) = 0;
  virtual DWORD GetFileAttributesW(const WCHAR* path) = 0;  // INVALID_FILE_ATTRIBUTES
  virtual BOOL PathIsDirectoryW(const WCHAR* path) = 0;     // 16 for a folder, else 0
  virtual const WCHAR* PathFindExtensionW(const WCHAR* path) = 0;  // the dot, or the end
  virtual SHORT GetFileTitleW(const WCHAR* path, WCHAR* title, WORD size) = 0;  // 0 on success
  virtual DWORD GetTempPathA(DWORD size, char* buffer) = 0;
  virtual UINT GetWindowsDirectoryA(char* buffer, UINT size) = 0;
  virtual UINT GetSystemDirectoryA(char* buffer, UINT size) = 0;
  virtual UINT GetSystemWow64DirectoryA(char* buffer, UINT size) = 0;
  virtual BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int folder, BOOL create) = 0;

  // advapi32. ERROR_SUCCESS (0) or an error code.
  virtual LONG RegOpenKeyExW(HKEY root, const WCHAR* subKey, DWORD options, DWORD access,
                             HKEY* result) = 0;
  virtual LONG RegQueryValueExW(HKEY key, const WCHAR* name, DWORD* reserved, DWORD* type,
                                BYTE* data, DWORD* size) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;

  // ole32.
  virtual HRESULT OleInitialize() = 0;  // negative on failure
  virtual void OleUninitialize() = 0;

  // user32: finding and reading windows. 0 / FALSE on failure.
  virtual HWND FindWindowExA(HWND parent, HWND childAfter, const char* className,
                             const char* title) = 0;
  virtual DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) = 0;
  virtual BOOL IsWindowVisible(HWND window) = 0;
  virtual BOOL IsWindow(HWND window) = 0;
  virtual HWND GetParent(HWND window) = 0;
  virtual int GetClassNameA(HWND window, char* name, int maxCount) = 0;
  virtual int GetWindowTextLengthW(HWND window) = 0;
  virtual int GetWindowTextW(HWND window, WCHAR* text, int maxCount) = 0;
  virtual int GetWindowTextA(HWND window, char* text, int maxCount) = 0;
  virtual int GetWindowTextLengthA(HWND window) = 0;
  virtual HWND GetDlgItem(HWND dialog, int id) = 0;
  virtual BOOL SetWindowTextA(HWND window, const char* text) = 0;

  // user32: message boxes. The button pressed (IDOK 1, IDCANCEL 2, ...),
  // 32000 when the time-out closed the box, 0 when it was not shown.
  virtual int MessageBoxTimeoutA(HWND owner, const char* text, const char* caption, UINT style,
                                 WORD language, DWORD milliseconds) = 0;
  virtual int MessageBoxA(HWND owner, const char* text, const char* caption, UINT style) = 0;

  // user32: messages. GetMessageA: 0 for WM_QUIT, -1 on failure.
  virtual BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove) = 0;
  virtual BOOL GetMessageA(MSG* msg, HWND window, UINT first, UINT last) = 0;
  virtual BOOL TranslateMessage(const MSG* msg) = 0;
  virtual LRESULT DispatchMessageA(const MSG* msg) = 0;
  virtual void PostQuitMessage(int exitCode) = 0;
  virtual BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

  // user32 and gdi32: creating windows. RegisterClassExA returns an atom, 0
  // on failure; CreateWindowExA returns 0 on failure.
  virtual WORD RegisterClassExA(const WNDCLASSEXA* windowClass) = 0;
  virtual HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title,
                               DWORD style, int x, int y, int width, int height, HWND parent,
                               HMENU menu) = 0;
  virtual BOOL DestroyWindow(HWND window) = 0;
  virtual BOOL ShowWindow(HWND window, int command) = 0;
  virtual BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height,
                            UINT flags) = 0;
  virtual BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) = 0;
  virtual BOOL GetWindowRect(HWND window, RECT* rect) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual DWORD GetSysColor(int index) = 0;
  virtual HGDIOBJ GetStockObject(int object) = 0;

  // user32 and gdi32: painting. BeginPaint returns 0 on failure; the colour
  // setters return the previous value (CLR_INVALID 0xFFFFFFFF on failure).
  virtual HDC BeginPaint(HWND window, PAINTSTRUCT* paint) = 0;
  virtual BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) = 0;
  virtual BOOL GetClientRect(HWND window, RECT* rect) = 0;
  virtual DWORD SetTextColor(HDC dc, DWORD colour) = 0;
  virtual DWORD SetBkColor(HDC dc, DWORD colour) = 0;
  virtual int SetBkMode(HDC dc, int mode) = 0;  // 0 on failure
  virtual HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) = 0;
  virtual int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) = 0;
  virtual int FillRect(HDC dc, const RECT* rect, HGDIOBJ brush) = 0;
  virtual HGDIOBJ CreateSolidBrush(DWORD colour) = 0;
  virtual BOOL DeleteObject(HGDIOBJ object) = 0;

  // kernel32: where DLLs loaded later are looked for. Looked up at run time:
  // FALSE (ERROR_PROC_NOT_FOUND) on a system without it.
  virtual BOOL SetDefaultDllDirectories(DWORD directoryFlags) = 0;

  // user32: dialog keys in a window that is no dialog. IsDialogMessageA is
  // TRUE when it handled the message (Tab and Shift+Tab move the focus,
  // Enter sends the default ID's WM_COMMAND, Escape IDCANCEL's), FALSE when
  // the caller must dispatch it. SetFocus returns the previous focus, 0 on
  // failure.
  virtual BOOL IsDialogMessageA(HWND dialog, MSG* msg) = 0;
  virtual HWND SetFocus(HWND window) = 0;

  // kernel32: writing a file beside another and swapping it in. FALSE on
  // failure; ReadFile reports 0 bytes read at the end of the file.
  virtual BOOL FlushFileBuffers(HANDLE file) = 0;
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read) = 0;
  virtual BOOL MoveFileExW(const WCHAR* existing, const WCHAR* target, DWORD flags) = 0;
};

}  // namespace win
