#include "app/version_questions.h"

#include <optional>

#include "runtime/values.h"
#include "ui/message_box.h"

namespace {

constexpr std::int32_t kBoxTimeout = 1000000;

struct BoxQuestions {
  win::Api& api;
  std::int32_t codePage;
  PickVersionByHand pickByHand;
  void* context;
  RunLog& log;
};

bool Confirm(void* context, const char* question) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  const bool yes = TimedMessageBox(ask.api, ask.codePage, question, kBoxOkCancel | kBoxIconQuestion,
                                   Text("欧尼酱~这个事情很重要！"), std::nullopt, kBoxTimeout) == 0;
  ask.log.Add(ConcatTexts("询问：", question), yes ? "确定" : "否");
  return yes;
}

bool OfferPickByHand(void* context) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  constexpr const char kQuestion[] = "未能成功检测到你的游戏版本，是否手动选择？否则退出。";
  const bool yes = TimedMessageBox(ask.api, ask.codePage, kQuestion, kBoxOkCancel | kBoxIconWarning,
                                   Text("欧尼酱！出错啦~"), std::nullopt, kBoxTimeout) == 0;
  ask.log.Add(ConcatTexts("询问：", kQuestion), yes ? "确定" : "否");
  return yes;
}

Text PickByHand(void* context) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  const Text picked = ask.pickByHand(ask.context);
  ask.log.Add("手动选择", picked);
  return picked;
}

}  // namespace

VersionChoice AskForVersion(win::Api& api, std::int32_t codePage, const Text& folder,
                            PickVersionByHand pickByHand, void* context, RunLog& log) {
  BoxQuestions boxes{api, codePage, pickByHand, context, log};
  return IdentifyVersion(api, folder, VersionQuestions{Confirm, OfferPickByHand, PickByHand, &boxes});
}
