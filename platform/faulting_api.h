// Faults and crashes over any backend, as LevelDB's FaultInjectionEnv sits
// on EnvWrapper: every call is counted by its name in platform/calls.def, a
// chosen call fails with the list's failure value and injected error, and
// the run can be stopped dead at a chosen call.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/api_wrapper.h"

namespace win {

// Every platform call, by its name in the list.
enum class Call {
#define WIN_CALL(area, type, name, params, args, failure, fault, note) name,
#include "platform/calls.def"
#undef WIN_CALL
};

const char* CallName(Call call);
// The call of that name; a name the list lacks stops the program, so that a
// fault planned for a call nothing makes cannot pass unnoticed.
Call CallNamed(std::string_view name);

class FaultingApi : public ApiWrapper {
 public:
  explicit FaultingApi(Api& target) : ApiWrapper(target) {}

  // The `nth` call of `call` from now on fails, and the `count - 1` after it
  // (count < 0: every call from then on).
  void Fail(Call call, int nth = 1, int count = 1);
  void Fail(std::string_view name, int nth = 1, int count = 1) { Fail(CallNamed(name), nth, count); }
  // The n-th failable call from now on, whatever it is, fails.
  void FailAtCall(long n);
  // The run stops dead just before the n-th call from now on (failable or
  // not): `onCrash` runs, and from then on every failable call fails
  // without reaching the backend; the others still reach it.
  void CrashAtCall(long n);
  void Clear();

  std::vector<std::string> calls;          // every call, in order
  long failableCalls = 0;                  // failable calls seen
  std::vector<std::string> failableNames;  // the failable calls, in order
  std::vector<std::string> failed;         // the calls that were made to fail
  bool crashed = false;
  std::function<void()> onCrash;
  // What `stamp` gave as each call began, in step with `calls` (a simulated
  // disk's count of changes, say).
  std::function<long()> stamp;
  std::vector<long> stamps;

#define WIN_CALL(area, type, name, params, args, failure, fault, note) \
  type name params override {                                         \
    return Pass<type>(Call::name, failure, fault, [&] { return target_->name args; }); \
  }
#include "platform/calls.def"
#undef WIN_CALL

 private:
  struct NeverFails {};
  static constexpr NeverFails kNeverFails{};
  // The call is made even when it is failed: only its answer changes.
  template <class T>
  struct Made {
    T value;
  };
  template <class T>
  static Made<T> AfterCall(T value) {
    return {value};
  }

  // Records the call; true when it must fail.
  bool Enter(Call call, bool failable);

  template <class R, class Forward>
  R Pass(Call call, NeverFails, DWORD, Forward forward) {
    Enter(call, false);
    return forward();
  }
  template <class R, class Forward>
  R Pass(Call call, std::type_identity_t<R> failure, DWORD error, Forward forward) {
    if (!Enter(call, true)) return forward();
    target_->SetLastError(error);
    return failure;
  }
  template <class R, class Forward, class T>
  R Pass(Call call, Made<T> failure, DWORD error, Forward forward) {
    const bool fails = Enter(call, true);
    R result = forward();
    if (!fails) return result;
    target_->SetLastError(error);
    return failure.value;
  }

  struct Plan {
    Call call;
    int skip;
    int count;
  };
  std::vector<Plan> plans_;
  long failAt_ = 0;
  std::size_t crashAt_ = 0;
};

}  // namespace win
