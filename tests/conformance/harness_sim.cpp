#include "conformance/harness.h"
#include "platform/sim/machine.h"

namespace {

class SimHarness final : public Harness {
 public:
  win::Api& api() override { return machine_; }
  bool simulated() const override { return true; }
  bool UseFreshConsole(bool redirected) override {
    machine_.console = sim::ConsoleState{};
    machine_.console.redirected = redirected;
    return true;
  }
  std::string ReadRow(int row, int count, std::vector<win::WORD>* attributes) override {
    return machine_.console.Row(row, count, attributes);
  }
  std::string RedirectedBytes() override { return machine_.console.redirectedBytes; }

 private:
  sim::Machine machine_;
};

}  // namespace

std::unique_ptr<Harness> MakeHarness() { return std::make_unique<SimHarness>(); }
