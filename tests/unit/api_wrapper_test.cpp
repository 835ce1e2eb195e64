// The forwarding base for test backends: a run through it is the run itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/startup.h"
#include "platform/api_wrapper.h"
#include "platform/sim/machine.h"
#include "unit/scenario.h"

namespace {

void InstallGame(sim::Machine& machine) {
  scenario::InstallGame(machine, 4096);
  machine.user.answers = {1};
}

// Counts what reaches the machine through it and changes nothing.
class CountingApi : public win::ApiWrapper {
 public:
  using ApiWrapper::ApiWrapper;
  win::DWORD GetTickCount() override {
    ++ticks;
    return ApiWrapper::GetTickCount();
  }
  int ticks = 0;
};

TEST(ApiWrapperTest, AWholeRunThroughItMakesTheSameCallsWithTheSameResults) {
  sim::Machine direct, wrapped;
  InstallGame(direct);
  InstallGame(wrapped);
  CountingApi api(wrapped);

  const int directCode = ProgramEntry(direct);
  EXPECT_EQ(ProgramEntry(api), directCode);
  EXPECT_EQ(wrapped.faults.calls, direct.faults.calls);
  EXPECT_EQ(wrapped.console.Text(), direct.console.Text());
  ASSERT_EQ(wrapped.dialogs.shown.size(), direct.dialogs.shown.size());
  for (std::size_t i = 0; i < direct.dialogs.shown.size(); ++i)
    EXPECT_EQ(wrapped.dialogs.shown[i].text, direct.dialogs.shown[i].text) << "box " << i;
  EXPECT_EQ(wrapped.files.changes(), direct.files.changes());
  EXPECT_EQ(api.ticks, std::count(direct.faults.calls.begin(), direct.faults.calls.end(),
                                  std::string("GetTickCount")));
  EXPECT_GT(direct.faults.calls.size(), 100u);
}

}  // namespace
