// A preview for the dialog's tests: records every call, reports the progress steps a real start
// and stop would (up to a step the test chooses), and gives the levels and statistics the test
// sets. Used on the dialog's thread only.
#ifndef TESTS_SUPPORT_FAKE_PREVIEW_H_
#define TESTS_SUPPORT_FAKE_PREVIEW_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vqscwlib/selector/preview_api.h"

namespace vqscw::testing {

class FakePreview : public PreviewApi {
 public:
  // The next starts report steps 1 to `last_step`; a start that stops short of 5 fails.
  int last_step = 5;
  // Levels while the preview runs.
  int32_t left = -10000;
  int32_t right = -10000;
  // Statistics while the preview runs.
  uint32_t elapsed_ms = 0;
  uint32_t packets = 0;
  ReceiverHealth health{};
  // Called after each step has been reported to a callback, with the step.
  std::function<void(int step)> after_step;

  HRESULT Start(uint32_t channel, PreviewProgressCallback callback, void* user,
                uint32_t interface_address) override;
  void Stop(PreviewProgressCallback callback, void* user) override;
  HRESULT SetVolume(int32_t volume) override;
  HRESULT GetLevels(int32_t* left, int32_t* right) override;
  HRESULT GetStatistics(uint32_t* elapsed_ms, uint32_t* packets) override;
  HRESULT GetHealth(ReceiverHealth* health) override;

  // Calls so far, as texts: "start 5 127.0.0.1", "stop", "stop+callback", "volume -2500" (levels
  // statistics and health are only counted).
  std::vector<std::string> calls;
  int level_queries = 0;
  bool exists() const { return exists_; }
  bool running() const { return running_; }

 private:
  void Report(PreviewProgressCallback callback, void* user, int step);

  bool exists_ = false;   // a graph, half built or running
  bool running_ = false;  // started through step 5
  bool rendered_ = false;
};

}  // namespace vqscw::testing

#endif  // TESTS_SUPPORT_FAKE_PREVIEW_H_
