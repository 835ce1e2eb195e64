// The Windows operations the installer uses, behind one interface.
//
// Every method is named and shaped as the Windows function it stands for, with
// the same failure value; platform/calls.def lists them. RealApi forwards to
// Windows; sim::Model models the system on Linux. Types live in namespace win
// so that this header never needs <windows.h>.
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

// GetLastError codes the program, its tests and the fault injector use.
// Either backend may give others: Windows any, the simulated one a few more
// it names where it sets them (a bad path name, window class and control
// errors). Registry calls return their code instead (below).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_CANCELLED = 1223;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_NOACCESS = 998;

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
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
// A process's creation, exit, kernel and user times, in 100 ns units.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr int TokenElevation = 20;
struct TOKEN_ELEVATION {
  DWORD TokenIsElevated;
};
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// ntdll.
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr NTSTATUS STATUS_SUCCESS = 0;
constexpr NTSTATUS STATUS_INFO_LENGTH_MISMATCH = static_cast<NTSTATUS>(0xC0000004u);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022u);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008u);
constexpr NTSTATUS STATUS_PRIVILEGE_NOT_HELD = static_cast<NTSTATUS>(0xC0000061u);
constexpr ULONG ProcessImageFileName = 27;
constexpr ULONG ProcessBasicInformation = 0;
// What ProcessBasicInformation gives, in the platform's own layout.
struct PROCESS_BASIC_INFORMATION {
  NTSTATUS ExitStatus;
  void* PebBaseAddress;
  std::uintptr_t AffinityMask;
  LONG BasePriority;
  std::uintptr_t UniqueProcessId;
  std::uintptr_t InheritedFromUniqueProcessId;
};
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
constexpr DWORD FILE_SHARE_WRITE = 0x2;
// Folders held open while the elevated part works in them.
constexpr DWORD FILE_LIST_DIRECTORY = 0x0001;
// Rights over a folder that change what is in it, or who may.
constexpr DWORD FILE_ADD_FILE = 0x0002;
constexpr DWORD FILE_ADD_SUBDIRECTORY = 0x0004;
constexpr DWORD FILE_DELETE_CHILD = 0x0040;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;
constexpr DWORD WRITE_DAC = 0x00040000;
constexpr DWORD WRITE_OWNER = 0x00080000;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh, nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh, nFileIndexLow;
};
// GetDriveTypeW.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

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

// The local time, the system's true version and its texts for errors.
struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize, dwMajorVersion, dwMinorVersion, dwBuildNumber, dwPlatformId;
  WCHAR szCSDVersion[128];
};
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// Starting a program through the shell, by a verb such as "runas" (asking
// for an administrator's rights). The fields the program uses; the backend
// fills the platform's own record.
constexpr ULONG SEE_MASK_NOCLOSEPROCESS = 0x00000040;
constexpr ULONG SEE_MASK_NOASYNC = 0x00000100;
constexpr ULONG SEE_MASK_FLAG_NO_UI = 0x00000400;
constexpr int SW_HIDE = 0;
struct SHELLEXECUTEINFOW {
  DWORD cbSize;
  ULONG fMask;
  HWND hwnd;
  const WCHAR* lpVerb;
  const WCHAR* lpFile;
  const WCHAR* lpParameters;
  const WCHAR* lpDirectory;
  int nShow;
  HANDLE hProcess;  // with SEE_MASK_NOCLOSEPROCESS: the process started, or 0
};

// The operations, one per line of platform/calls.def, which gives each one's
// failure value and what a caller must know.
class Api {
 public:
  virtual ~Api() = default;

#define WIN_CALL(area, type, name, params, args, failure, fault, note) virtual type name params = 0;
#include "platform/calls.def"
#undef WIN_CALL
};

}  // namespace win
