#include "vqscwlib/preview/sample_pool.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// An owner that counts the references samples take on it.
class CountingOwner final : public IUnknown {
 public:
  HRESULT QueryInterface(const IID&, void**) override { return E_NOINTERFACE; }
  uint32_t AddRef() override { return ++refs; }
  uint32_t Release() override { return --refs; }
  std::atomic<uint32_t> refs{0};
};

class SamplePoolTest : public ::testing::Test {
 protected:
  ~SamplePoolTest() override { buffers_->Release(); }

  CPacketSample* Lend(int32_t length = 100) {
    CPacketBuffer* buffer = buffers_->Get(nullptr, 0);
    CPacketSample* sample = samples_.Get(buffer, buffer->data() + 4, length, nullptr);
    buffer->Release();  // the sample holds the buffer now
    return sample;
  }

  CountingOwner owner_;
  CBufferPool* buffers_ = CBufferPool::Create(4, 256);
  CSamplePool samples_{&owner_, 2};
};

TEST_F(SamplePoolTest, SampleHoldsItsBufferAndOwnerUntilReleased) {
  CPacketSample* sample = Lend();
  EXPECT_EQ(owner_.refs, 1u);
  EXPECT_EQ(buffers_->free_count(), 3u);
  uint8_t* data = nullptr;
  ASSERT_EQ(sample->GetPointer(&data), S_OK);
  EXPECT_EQ(data, sample->buffer()->data() + 4);
  EXPECT_EQ(sample->GetSize(), 100);
  EXPECT_EQ(sample->Release(), 0u);
  EXPECT_EQ(owner_.refs, 0u);
  EXPECT_EQ(buffers_->free_count(), 4u);
  EXPECT_EQ(samples_.free_count(), 2u);
}

TEST_F(SamplePoolTest, ActualLengthCanShrinkButNotGrow) {
  CPacketSample* sample = Lend(100);
  EXPECT_EQ(sample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(60), S_OK);
  EXPECT_EQ(sample->GetActualDataLength(), 60);
  EXPECT_EQ(sample->SetActualDataLength(80), VFW_E_BUFFER_OVERFLOW);
  sample->Release();
}

TEST_F(SamplePoolTest, TimesReportWhatIsSet) {
  CPacketSample* sample = Lend();
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  const REFERENCE_TIME at = 5000;
  sample->SetTime(&at, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(start, 5000);
  EXPECT_EQ(stop, 5001);
  const REFERENCE_TIME end = 9000;
  sample->SetTime(&at, &end);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 9000);
  int64_t media_start = 0, media_stop = 0;
  EXPECT_EQ(sample->GetMediaTime(&media_start, &media_stop), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(sample->SetMediaTime(&at, nullptr), E_POINTER);
  sample->Release();
}

TEST_F(SamplePoolTest, ReusedSampleComesBackWithoutFlagsTimesOrType) {
  CPacketSample* sample = Lend();
  sample->SetSyncPoint(true);
  sample->SetDiscontinuity(true);
  sample->SetPreroll(true);
  const REFERENCE_TIME at = 1;
  sample->SetTime(&at, &at);
  AM_MEDIA_TYPE given{};
  sample->SetMediaType(&given);
  EXPECT_EQ(sample->IsSyncPoint(), S_OK);
  sample->Release();

  CPacketSample* again = Lend();
  EXPECT_EQ(again, sample);  // the pool hands out the sample returned last
  EXPECT_EQ(again->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(again->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(again->IsPreroll(), S_FALSE);
  REFERENCE_TIME start, stop;
  EXPECT_EQ(again->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(again->GetMediaType(&type), S_FALSE);
  again->Release();
}

TEST_F(SamplePoolTest, TakerWaitsForAReturnedSampleOrForAbort) {
  CPacketSample* first = Lend();
  CPacketSample* second = Lend();
  CPacketSample* third = nullptr;
  std::thread taker([&] { third = Lend(); });
  second->Release();
  taker.join();
  EXPECT_EQ(third, second);

  vqscw::Event abort(vqscw::Event::ResetMode::kManual);
  CPacketSample* none = third;
  std::thread aborted([&] { none = samples_.Get(nullptr, nullptr, 0, &abort); });
  abort.Set();
  aborted.join();
  EXPECT_EQ(none, nullptr);
  first->Release();
  third->Release();
}

}  // namespace
