#include "tests/support/fake_preview.h"

#include <cstdio>

namespace vqscw::testing {

void FakePreview::Report(PreviewProgressCallback callback, void* user, int step) {
  if (callback == nullptr) return;
  callback(step, user);
  if (after_step) after_step(step);
}

HRESULT FakePreview::Start(uint32_t channel, PreviewProgressCallback callback, void* user,
                           uint32_t interface_address) {
  exists_ = running_ = rendered_ = false;  // the earlier preview ends without a report
  char text[64];
  std::snprintf(text, sizeof text, "start %u %u.%u.%u.%u", channel, interface_address & 0xFF,
                (interface_address >> 8) & 0xFF, (interface_address >> 16) & 0xFF,
                interface_address >> 24);
  calls.emplace_back(text);
  for (int step = 1; step <= last_step && step <= 5; ++step) {
    if (step == 2) exists_ = true;
    if (step == 4) rendered_ = true;
    if (step == 5) running_ = true;
    Report(callback, user, step);
  }
  return running_ ? S_OK : E_FAIL;
}

void FakePreview::Stop(PreviewProgressCallback callback, void* user) {
  calls.emplace_back(callback != nullptr ? "stop+callback" : "stop");
  exists_ = running_ = rendered_ = false;
  Report(callback, user, 0);
}

HRESULT FakePreview::SetVolume(int32_t volume) {
  calls.push_back("volume " + std::to_string(volume));
  if (!exists_) return S_FALSE;
  return rendered_ ? S_OK : E_NOTIMPL;
}

HRESULT FakePreview::GetLevels(int32_t* left_level, int32_t* right_level) {
  ++level_queries;
  if (!running_) return S_FALSE;
  *left_level = left;
  *right_level = right;
  return S_OK;
}

HRESULT FakePreview::GetStatistics(uint32_t* elapsed, uint32_t* counted) {
  if (!running_) return S_FALSE;  // the statistics come with a running graph
  *elapsed = elapsed_ms;
  *counted = packets;
  return S_OK;
}

HRESULT FakePreview::GetHealth(ReceiverHealth* given) {
  if (!running_) return S_FALSE;
  *given = health;
  return S_OK;
}

}  // namespace vqscw::testing
