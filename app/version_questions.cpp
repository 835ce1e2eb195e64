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

// A question in an OK/Cancel box: true for OK. It and its answer are recorded.
bool Ask(BoxQuestions& ask, const char* question, win::UINT icon, const char* title) {
  const bool yes = TimedMessageBox(ask.api, ask.codePage, question, kBoxOkCancel | icon, Text(title),
                                   std::nullopt, kBoxTimeout) == 0;
  ask.log.Add(ConcatTexts("询问：", question), yes ? "确定" : "否");
  return yes;
}

bool Confirm(void* context, const char* question) {
  return Ask(*static_cast<BoxQuestions*>(context), question, kBoxIconQuestion, "欧尼酱~这个事情很重要！");
}

bool OfferPickByHand(void* context) {
  return Ask(*static_cast<BoxQuestions*>(context), "未能成功检测到你的游戏版本，是否手动选择？否则退出。",
             kBoxIconWarning, "欧尼酱！出错啦~");
}

Text PickByHand(void* context) {
  auto& ask = *static_cast<BoxQuestions*>(context);
  const Text picked = ask.pickByHand(ask.context);
  ask.log.Add("手动选择", picked);
  return picked;
}

}  // namespace

VersionChoice AskForVersion(win::Api& api, std::int32_t codePage, const FileLookup& assembly,
                            PickVersionByHand pickByHand, void* context, RunLog& log) {
  BoxQuestions boxes{api, codePage, pickByHand, context, log};
  return IdentifyVersion(assembly, VersionQuestions{Confirm, OfferPickByHand, PickByHand, &boxes});
}

bool AskToRestore(win::Api& api, std::int32_t codePage, const Text& label, RunLog& log) {
  BoxQuestions boxes{api, codePage, nullptr, nullptr, log};
  const Text question = ConcatTexts("检测到游戏已经安装了 ", label, " 补丁，是否恢复为原版？");
  return Ask(boxes, question.c_str(), kBoxIconQuestion, "欧尼酱~这个事情很重要！");
}
