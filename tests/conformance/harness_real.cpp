// The seam comes first: its constants share names with <windows.h> macros.
#include "conformance/harness.h"
#include "platform/real/real_api.h"

#include <windows.h>

namespace {

class RealHarness final : public Harness {
 public:
  RealHarness() {
    if (!GetConsoleWindow()) AllocConsole();
  }
  ~RealHarness() override { Release(); }

  win::Api& api() override { return RealApi(); }
  bool simulated() const override { return false; }

  bool UseFreshConsole(bool redirected) override {
    Release();
    if (redirected) {
      GetTempPathA(MAX_PATH, path_);
      lstrcatA(path_, "conformance-redirect.txt");
      buffer_ = CreateFileA(path_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    } else {
      buffer_ = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          CONSOLE_TEXTMODE_BUFFER, nullptr);
      if (buffer_ != INVALID_HANDLE_VALUE) {
        // As the program does at start-up, whatever the console's own code page.
        savedCodePage_ = GetConsoleOutputCP();
        SetConsoleOutputCP(936);
        SetConsoleTextAttribute(buffer_, 0x07);
        SetConsoleCursorPosition(buffer_, COORD{0, 0});
      }
    }
    if (buffer_ == INVALID_HANDLE_VALUE) return false;
    saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
    return SetStdHandle(STD_OUTPUT_HANDLE, buffer_) != 0;
  }

  std::string ReadRow(int row, int count, std::vector<win::WORD>* attributes) override {
    // Read as UTF-16 and turned into code page 936: a two-byte character
    // takes one cell on some consoles and two on others.
    std::wstring cells(static_cast<std::size_t>(count), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(buffer_, cells.data(), static_cast<DWORD>(count),
                                COORD{0, static_cast<SHORT>(row)}, &read);
    cells.resize(read);
    std::string text(cells.size() * 2 + 1, '\0');
    int n = WideCharToMultiByte(936, 0, cells.data(), static_cast<int>(cells.size()), text.data(),
                                static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (attributes) {
      std::vector<WORD> values(static_cast<std::size_t>(count));
      ReadConsoleOutputAttribute(buffer_, values.data(), static_cast<DWORD>(count),
                                 COORD{0, static_cast<SHORT>(row)}, &read);
      attributes->assign(values.begin(), values.begin() + read);
    }
    return text;
  }

  std::string RedirectedBytes() override {
    std::string bytes(4096, '\0');
    DWORD read = 0;
    SetFilePointer(buffer_, 0, nullptr, FILE_BEGIN);
    ReadFile(buffer_, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
  }

 private:
  void Release() {
    if (buffer_ == INVALID_HANDLE_VALUE) return;
    SetStdHandle(STD_OUTPUT_HANDLE, saved_);
    if (savedCodePage_) SetConsoleOutputCP(savedCodePage_);
    savedCodePage_ = 0;
    CloseHandle(buffer_);
    buffer_ = INVALID_HANDLE_VALUE;
    if (path_[0]) DeleteFileA(path_);
    path_[0] = '\0';
  }

  HANDLE buffer_ = INVALID_HANDLE_VALUE;
  HANDLE saved_ = INVALID_HANDLE_VALUE;
  char path_[MAX_PATH] = {};
  UINT savedCodePage_ = 0;
};

}  // namespace

std::unique_ptr<Harness> MakeHarness() { return std::make_unique<RealHarness>(); }
