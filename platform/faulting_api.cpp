#include "platform/faulting_api.h"

#include <cstdio>
#include <cstdlib>

namespace win {

namespace {

constexpr const char* kCallNames[] = {
#define WIN_CALL(area, type, name, params, args, failure, fault, note) #name,
#include "platform/calls.def"
#undef WIN_CALL
};

}  // namespace

const char* CallName(Call call) { return kCallNames[static_cast<int>(call)]; }

Call CallNamed(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kCallNames); ++i)
    if (name == kCallNames[i]) return static_cast<Call>(i);
  std::fprintf(stderr, "no platform call is named %.*s\n", static_cast<int>(name.size()),
               name.data());
  std::abort();
}

void FaultingApi::Fail(Call call, int nth, int count) {
  plans_.push_back({call, nth > 1 ? nth - 1 : 0, count});
}

void FaultingApi::FailAtCall(long n) { failAt_ = failableCalls + n; }

void FaultingApi::CrashAtCall(long n) {
  crashAt_ = n > 0 ? calls.size() + static_cast<std::size_t>(n) : 0;
}

void FaultingApi::Clear() {
  plans_.clear();
  failAt_ = 0;
  crashAt_ = 0;
}

bool FaultingApi::Enter(Call call, bool failable) {
  const char* name = CallName(call);
  calls.emplace_back(name);
  stamps.push_back(stamp ? stamp() : 0);
  if (!crashed && crashAt_ != 0 && calls.size() == crashAt_) {
    crashed = true;
    if (onCrash) onCrash();
  }
  if (crashed) return failable;
  if (!failable) return false;
  ++failableCalls;
  failableNames.emplace_back(name);
  bool fail = failAt_ != 0 && failableCalls == failAt_;
  for (auto& plan : plans_) {
    if (plan.count == 0 || plan.call != call) continue;
    if (plan.skip > 0) {
      --plan.skip;
      continue;
    }
    if (plan.count > 0) --plan.count;
    fail = true;
  }
  if (fail) failed.emplace_back(name);
  return fail;
}

}  // namespace win
