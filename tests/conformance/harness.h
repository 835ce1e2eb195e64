// The platform a conformance case runs on: the simulated machine natively,
// the real backend under Wine. Each case runs unchanged on both.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win_api.h"

class Harness {
 public:
  virtual ~Harness() = default;
  virtual win::Api& api() = 0;
  virtual bool simulated() const = 0;

  // Points standard output at a fresh, empty console screen buffer with
  // attributes 0x07 and the cursor at (0, 0); with `redirected`, at an empty
  // file instead.
  virtual bool UseFreshConsole(bool redirected) = 0;
  // What `count` cells of row `row` show: bytes in code page 936 and their
  // attributes.
  virtual std::string ReadRow(int row, int count, std::vector<win::WORD>* attributes) = 0;
  // The bytes that reached the file standard output was redirected to.
  virtual std::string RedirectedBytes() = 0;
};

std::unique_ptr<Harness> MakeHarness();

// A conformance case with the platform of its build.
class HarnessTest : public ::testing::Test {
 protected:
  win::Api& api() { return harness_->api(); }

  std::unique_ptr<Harness> harness_ = MakeHarness();
};

// "GetLastError N", for the message of a failed check right after a call.
inline std::string LastError(win::Api& api) {
  return "GetLastError " + std::to_string(api.GetLastError());
}
