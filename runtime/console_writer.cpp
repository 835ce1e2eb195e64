#include "runtime/console_writer.h"

namespace {

constexpr win::WORD kForeground[16] = {0x00, 0x04, 0x02, 0x06, 0x01, 0x05, 0x03, 0x07,
                                       0x08, 0x0C, 0x0A, 0x0E, 0x09, 0x0D, 0x0B, 0x0F};

win::WORD ForegroundValue(std::int32_t index) {
  auto low = static_cast<std::int16_t>(index & 0xFFFF);
  return low >= 1 && low <= 16 ? kForeground[low - 1] : win::WORD{0x07};
}

}  // namespace

win::WORD ConsoleAttribute(std::int32_t foreground, std::int32_t background) {
  return static_cast<win::WORD>(ForegroundValue(foreground) | ForegroundValue(background) << 4);
}

void ConsoleWriter::create(win::Api& api) {
  api_ = &api;
  win::HANDLE input = api.GetStdHandle(win::STD_INPUT_HANDLE);
  win::HANDLE output = api.GetStdHandle(win::STD_OUTPUT_HANDLE);
  handles_ = Handles{input, output};
}

void ConsoleWriter::destroy() { handles_.reset(); }

bool ConsoleWriter::write(std::optional<std::int32_t> column, std::optional<std::int32_t> row,
                          bool restoreCursor, std::int32_t foreground, std::int32_t background,
                          std::optional<std::string_view> text) {
  if (!handles_) return false;
  if (!text) return true;
  win::Api& api = *api_;
  const win::HANDLE out = handles_->outputHandle;
  win::CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!api.GetConsoleScreenBufferInfo(out, &info)) return false;
  if (column && row) {
    win::COORD at{static_cast<win::SHORT>(*column & 0xFFFF), static_cast<win::SHORT>(*row & 0xFFFF)};
    if (!api.SetConsoleCursorPosition(out, at)) return false;
  }
  if (!api.SetConsoleTextAttribute(out, ConsoleAttribute(foreground, background))) return false;
  // Straight to the handle: no code-page conversion and no formatting.
  const char* bytes = text->data();
  std::size_t left = text->size();
  while (left > 0) {
    win::DWORD chunk = left > 0x10000 ? 0x10000 : static_cast<win::DWORD>(left);
    win::DWORD written = 0;
    if (!api.WriteFile(out, bytes, chunk, &written) || written == 0) break;
    bytes += written;
    left -= written;
  }
  if (restoreCursor && !api.SetConsoleCursorPosition(out, info.dwCursorPosition)) return false;
  return api.SetConsoleTextAttribute(out, info.wAttributes) != 0;
}
