#include "vqscwlib/selector/source_mailbox.h"

#include <cstddef>
#include <utility>

#include "vqscwlib/selector/text_util.h"

namespace vqscw {

SourceMailbox::SourceMailbox(std::function<void()> wake) : wake_(std::move(wake)) {}

void SourceMailbox::Post(int32_t channel, std::string name) {
  bool wake = false;
  {
    MutexLock lock(&mu_);
    auto [it, inserted] = index_.try_emplace(channel, entries_.size());
    if (inserted) {
      entries_.push_back({channel, std::move(name)});
    } else {
      entries_[it->second].name = std::move(name);
    }
    wake = !signalled_;
    signalled_ = true;
  }
  if (wake && wake_) wake_();
}

std::vector<ReportedSource> SourceMailbox::Take() {
  MutexLock lock(&mu_);
  std::vector<ReportedSource> taken;
  taken.swap(entries_);
  index_.clear();
  signalled_ = false;
  return taken;
}

void SourceMailbox::Clear() {
  MutexLock lock(&mu_);
  entries_.clear();
  index_.clear();
  signalled_ = false;
}

int SourceMailbox::Callback(SourceSpy*, SourceInfo* info, void* user) {
  constexpr size_t kNameEnd = offsetof(SourceInfo, name) + sizeof(SourceInfo::name);
  if (info == nullptr || user == nullptr || info->size < kNameEnd) return 1;
  static_cast<SourceMailbox*>(user)->Post(static_cast<int32_t>(info->channel),
                                          std::string(TextOfBuffer(info->name, sizeof info->name)));
  return 1;
}

int SourceMailbox::Ignore(SourceSpy*, SourceInfo*, void*) { return 1; }

}  // namespace vqscw
