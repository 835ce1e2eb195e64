#include "app/installer.h"

namespace {

// The authors' profile pages.
constexpr const char* kAuthorPages[] = {
    "https://space.example.com/orrinvale",
    "https://space.example.com/tamsk_olu",
    "https://forum.example.org/u/thistlegarden-patch",
};

void PrintBanner(ConsoleWriter& console) {
  console.write(kBrightRed, kBrightWhite, "免责声明：本程序仅供参考，技术分享。请勿用于非法用途！\r\n");
  console.write(kBrightRed, kBrightWhite,
                "此版本为离线版！无法收到补丁更新！不建议使用，建议换成常规版本。\r\n");
  for (const char* page : kAuthorPages)
    console.write(kBrightYellow, kBrightBlue, Text(page) + "\r\n");
}

}  // namespace

std::int32_t RunInstaller(ProgramState& state) {
  PrintBanner(state.console);
  return 0;
}
