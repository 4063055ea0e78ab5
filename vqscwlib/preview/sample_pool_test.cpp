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
  sample->SetTime(nullptr, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);

  int64_t media_start = 0, media_stop = 0;
  EXPECT_EQ(sample->GetMediaTime(&media_start, &media_stop), VFW_E_MEDIA_TIME_NOT_SET);
  const int64_t from = 7, to = 9;
  EXPECT_EQ(sample->SetMediaTime(&from, nullptr), E_POINTER);
  EXPECT_EQ(sample->SetMediaTime(&from, &to), S_OK);
  EXPECT_EQ(sample->GetMediaTime(&media_start, &media_stop), S_OK);
  EXPECT_EQ(media_start, 7);
  EXPECT_EQ(media_stop, 9);
  sample->Release();
}

TEST_F(SamplePoolTest, MediaTypeIsCopiedInAndOut) {
  CPacketSample* sample = Lend();
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  EXPECT_EQ(type, nullptr);
  uint8_t format[4] = {1, 2, 3, 4};
  AM_MEDIA_TYPE given{};
  given.majortype = MEDIATYPE_Audio;
  given.cbFormat = sizeof format;
  given.pbFormat = format;
  ASSERT_EQ(sample->SetMediaType(&given), S_OK);
  format[0] = 9;  // the sample kept its own copy
  ASSERT_EQ(sample->GetMediaType(&type), S_OK);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type->majortype, MEDIATYPE_Audio);
  ASSERT_EQ(type->cbFormat, 4u);
  EXPECT_EQ(type->pbFormat[0], 1);
  DeleteMediaType(type);
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

TEST_F(SamplePoolTest, PropertiesAreCopiedAndCannotBeSet) {
  CPacketSample* sample = Lend(100);
  sample->SetSyncPoint(true);
  AM_SAMPLE2_PROPERTIES properties{};
  ASSERT_EQ(sample->GetProperties(sizeof properties, reinterpret_cast<uint8_t*>(&properties)),
            S_OK);
  EXPECT_EQ(properties.cbData, sizeof properties);
  EXPECT_EQ(properties.lActual, 100);
  EXPECT_EQ(properties.dwSampleFlags, AM_SAMPLE_SPLICEPOINT);
  EXPECT_EQ(properties.pbBuffer, sample->buffer()->data() + 4);
  EXPECT_EQ(sample->SetProperties(sizeof properties, reinterpret_cast<uint8_t*>(&properties)),
            E_NOTIMPL);
  sample->Release();
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
