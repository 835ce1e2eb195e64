// A win::Api that forwards every call to another one, as LevelDB's
// EnvWrapper does: a test backend derives from it and overrides only the
// calls it changes.
#pragma once

#include "platform/win_api.h"

namespace win {

class ApiWrapper : public Api {
 public:
  explicit ApiWrapper(Api& target) : target_(&target) {}
  // Wraps another wrapper (rather than copying where that one forwards).
  explicit ApiWrapper(ApiWrapper& target) : target_(&target) {}

  Api& target() const { return *target_; }

#define WIN_CALL(area, type, name, params, args, failure, fault, note) \
  type name params override { return target_->name args; }
#include "platform/calls.def"
#undef WIN_CALL

 protected:
  Api* target_;
};

}  // namespace win
