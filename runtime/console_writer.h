// Coloured text on the program's console.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/win_api.h"

// Colour indexes 1..16 (any other index is light grey).
enum ConsoleColour : std::int32_t {
  kBlack = 1, kDarkRed, kDarkGreen, kDarkYellow, kDarkBlue, kDarkMagenta, kDarkCyan, kLightGrey,
  kDarkGrey, kBrightRed, kBrightGreen, kBrightYellow, kBrightBlue, kBrightMagenta, kBrightCyan,
  kBrightWhite
};

// The console attribute for a foreground and a background colour index.
win::WORD ConsoleAttribute(std::int32_t foreground, std::int32_t background);

class ConsoleWriter {
 public:
  // Takes the standard input and output handles; writes nothing.
  void create(win::Api& api);
  // Releases the handles (they are not closed); harmless when repeated.
  void destroy();
  bool created() const { return handles_.has_value(); }

  // Writes `text` byte for byte in the given colours, at (column, row) when
  // both are given, and puts the previous attributes back. False when there
  // are no handles or a console call fails; nothing at all is written when
  // standard output is not a console.
  bool write(std::optional<std::int32_t> column, std::optional<std::int32_t> row,
             bool restoreCursor, std::int32_t foreground, std::int32_t background,
             std::optional<std::string_view> text);

  // The common form: at the cursor, cursor left after the text.
  bool write(std::int32_t foreground, std::int32_t background, std::string_view text) {
    return write(std::nullopt, std::nullopt, false, foreground, background, text);
  }

 private:
  struct Handles {
    win::HANDLE inputHandle;
    win::HANDLE outputHandle;
  };
  win::Api* api_ = nullptr;
  std::optional<Handles> handles_;
};
