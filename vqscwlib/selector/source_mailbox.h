// The hand-over of reported sources from the spy to the dialog's thread.
//
// The spy calls its client's callback while it holds its own lock, on its listening thread or on
// the thread that enumerates. The dialog's thread takes that lock too (every refill enumerates),
// so the callback must never wait for the dialog's thread. Post() therefore only copies the
// channel number and name into this box under the box's own short lock and returns; the dialog
// takes the copies on its own thread and changes its rows there.
//
// Several reports of one channel before the dialog takes them keep the channel's first place and
// its latest name, so the box holds at most one entry per channel.
#ifndef VQSCWLIB_SELECTOR_SOURCE_MAILBOX_H_
#define VQSCWLIB_SELECTOR_SOURCE_MAILBOX_H_

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "vqscwlib/base/thread_annotations.h"
#include "vqscwlib/spy/source_spy.h"

namespace vqscw {

struct ReportedSource {
  int32_t channel;
  std::string name;  // the source's name as reported, at most 24 bytes
};

class SourceMailbox {
 public:
  // `wake` is called, on the posting thread and without the box's lock, when a post finds the
  // box not yet signalled since the last Take(); it must not block (the dialog queues a call to
  // itself).
  explicit SourceMailbox(std::function<void()> wake);
  SourceMailbox(const SourceMailbox&) = delete;
  SourceMailbox& operator=(const SourceMailbox&) = delete;

  // Any thread.
  void Post(int32_t channel, std::string name) EXCLUDES(mu_);

  // Takes every entry posted since the last Take() or Clear(), in first-posted order.
  std::vector<ReportedSource> Take() EXCLUDES(mu_);

  // Drops every entry not yet taken.
  void Clear() EXCLUDES(mu_);

  // A SourceCallback that posts the record to the SourceMailbox given as `user`; returns 1.
  static int Callback(SourceSpy* spy, SourceInfo* info, void* user);

  // A SourceCallback that ignores every record; returns 1. Enumerating a spy that stays open
  // with it (keep set) detaches the box: once that enumeration has returned, the spy no longer
  // calls Callback with this box.
  static int Ignore(SourceSpy* spy, SourceInfo* info, void* user);

 private:
  const std::function<void()> wake_;
  Mutex mu_;
  std::vector<ReportedSource> entries_ GUARDED_BY(mu_);
  std::unordered_map<int32_t, size_t> index_ GUARDED_BY(mu_);  // channel -> place in entries_
  bool signalled_ GUARDED_BY(mu_) = false;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_SOURCE_MAILBOX_H_
