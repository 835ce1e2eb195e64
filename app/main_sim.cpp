// One whole run of the installer on a simulated machine, its transcript on
// standard output: the console in colour, then each message box.
#include <iconv.h>

#include <cstdio>
#include <string>

#include "app/startup.h"
#include "platform/sim/machine.h"

namespace {

std::string Utf8(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) return gbk;
  std::string out(gbk.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  std::size_t inLeft = gbk.size(), outLeft = out.size();
  char* dst = out.data();
  iconv(cd, &in, &inLeft, &dst, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// ANSI colours for a console attribute (the console's colour bits are BGR).
std::string Sgr(unsigned attributes) {
  static const int kAnsi[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  unsigned fg = attributes & 0xF, bg = attributes >> 4 & 0xF;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "\x1b[%d;%dm", (fg & 8 ? 90 : 30) + kAnsi[fg & 7],
                (bg & 8 ? 100 : 40) + kAnsi[bg & 7]);
  return buffer;
}

}  // namespace

int main() {
  sim::Machine machine;
  int code = ProgramEntry(machine);

  std::string run;
  unsigned current = 0x100;
  for (const auto& cell : machine.console.written) {
    if (cell.attributes != current) {
      run = Utf8(run);
      std::fputs(run.c_str(), stdout);
      run.clear();
      std::fputs(Sgr(cell.attributes).c_str(), stdout);
      current = cell.attributes;
    }
    if (cell.byte != '\r') run += cell.byte;
  }
  std::fputs(Utf8(run).c_str(), stdout);
  std::fputs("\x1b[0m", stdout);
  for (const auto& box : machine.dialogs.shown)
    std::printf("[box style 0x%X, title %s, answer %d]\n%s\n", box.style,
                Utf8(box.caption).c_str(), box.result, Utf8(box.text).c_str());
  std::printf("exit code %d, virtual time %llu ms, %zu platform calls\n", code,
              machine.clock.slept, machine.faults.calls.size());
  return code;
}
