/* Prints one line through the console handle and exits 0: built for 32 and
   for 64 bits, it tells whether Wine runs programs of that bitness here. */
#include <windows.h>

int main(void) {
    static const char line[] = "tg-probe: " PROBE_BITS "-bit code runs\r\n";
    DWORD written = 0;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!WriteFile(out, line, sizeof line - 1, &written, NULL)) return 3;
    return written == sizeof line - 1 ? 0 : 4;
}
