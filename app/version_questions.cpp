#include "app/version_questions.h"

#include <optional>

#include "ui/message_box.h"

namespace {

constexpr std::int32_t kBoxTimeout = 1000000;

struct BoxQuestions {
  win::Api& api;
  std::int32_t codePage;
  PickVersionByHand pickByHand;
  void* context;
};

bool Confirm(void* context, const char* question) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  return TimedMessageBox(ask.api, ask.codePage, question, kBoxOkCancel | kBoxIconQuestion,
                         Text("欧尼酱~这个事情很重要！"), std::nullopt, kBoxTimeout) == 0;
}

bool OfferPickByHand(void* context) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  return TimedMessageBox(ask.api, ask.codePage, "未能成功检测到你的游戏版本，是否手动选择？否则退出。",
                         kBoxOkCancel | kBoxIconWarning, Text("欧尼酱！出错啦~"), std::nullopt,
                         kBoxTimeout) == 0;
}

Text PickByHand(void* context) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  return ask.pickByHand(ask.context);
}

}  // namespace

VersionChoice IdentifyVersion(win::Api& api, std::int32_t codePage, const Text& folder,
                              PickVersionByHand pickByHand, void* context) {
  BoxQuestions boxes{api, codePage, pickByHand, context};
  return IdentifyVersion(api, folder, VersionQuestions{Confirm, OfferPickByHand, PickByHand, &boxes});
}
