// The installer's entry on Windows.
#include "app/startup.h"
#include "platform/real/real_api.h"

int main() { return ProgramEntry(RealApi()); }
