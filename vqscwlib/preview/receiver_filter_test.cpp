#include "vqscwlib/preview/receiver_filter.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "tests/support/preview_helpers.h"
#include "vqscwlib/platform/socket_library.h"

namespace vqscw {
namespace {

using testing::Address;
using testing::GroupOf;
using testing::InterfaceOf;
using testing::PortOf;
using testing::RtpDatagram;

constexpr uint16_t kAnyPort = 0;

// A stream to save to and load from.
class MemoryStream final : public ISequentialStream {
 public:
  HRESULT Read(void* data, uint32_t size, uint32_t* done) override {
    *done = std::min<uint32_t>(size, static_cast<uint32_t>(bytes.size() - position));
    std::memcpy(data, bytes.data() + position, *done);
    position += *done;
    return *done == size ? S_OK : S_FALSE;
  }
  HRESULT Write(const void* data, uint32_t size, uint32_t* done) override {
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(data),
                 static_cast<const uint8_t*>(data) + size);
    *done = size;
    return S_OK;
  }
  std::vector<uint8_t> bytes;
  size_t position = 0;
};

class ReceiverFilterTest : public testing::ReceiverFilterFixture {
 protected:
  // Listens on loopback for a group nobody sends to.
  void ConfigureNetwork() {
    ASSERT_EQ(filter_->SetGroup(Address("239.192.0.7"), htons(kAnyPort)), S_OK);
    ASSERT_EQ(filter_->SetInterfaceAddress(Address("127.0.0.1")), S_OK);
  }
  // A datagram whose one 24-bit frame has the given left and right samples.
  std::vector<uint8_t> Frame(uint32_t left, uint32_t right) {
    std::vector<uint8_t> datagram = RtpDatagram(6);
    for (int i = 0; i < 3; ++i) {
      datagram[12 + i] = static_cast<uint8_t>(left >> (24 - 8 * i));
      datagram[15 + i] = static_cast<uint8_t>(right >> (24 - 8 * i));
    }
    return datagram;
  }
};

TEST_F(ReceiverFilterTest, PauseNeedsGroupAndInterfaceAndWritesItsDebugLine) {
  setenv("VQSCW_DEBUG_OUTPUT", "1", 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(filter_->Pause(), E_FAIL);
  EXPECT_EQ(filter_->state(), State_Stopped);
  ASSERT_EQ(filter_->SetGroup(Address("239.192.0.7"), htons(kAnyPort)), S_OK);
  EXPECT_EQ(filter_->Pause(), E_FAIL);  // no interface yet
  ASSERT_EQ(filter_->SetInterfaceAddress(0), S_OK);
  EXPECT_EQ(filter_->Pause(), S_OK);
  EXPECT_EQ(filter_->state(), State_Paused);
  EXPECT_TRUE(filter_->receiver()->running());
  const std::string lines = ::testing::internal::GetCapturedStderr();
  unsetenv("VQSCW_DEBUG_OUTPUT");
  EXPECT_EQ(lines,
            "CNetworkReceiverFilter::Pause\n E_FAIL\n"
            "CNetworkReceiverFilter::Pause\n E_FAIL\n"
            "CNetworkReceiverFilter::Pause\n OK\n");
  EXPECT_EQ(filter_->Run(0), S_OK);
  EXPECT_EQ(filter_->state(), State_Running);
  EXPECT_EQ(filter_->Stop(), S_OK);
  EXPECT_FALSE(filter_->receiver()->running());
}

TEST_F(ReceiverFilterTest, GroupMustBeMulticastAndInterfaceMustNotBe) {
  EXPECT_EQ(filter_->SetGroup(Address("192.168.1.1"), htons(5004)), E_INVALIDARG);
  EXPECT_EQ(filter_->SetGroup(Address("240.0.0.1"), htons(5004)), E_INVALIDARG);
  EXPECT_EQ(filter_->SetGroup(Address("224.0.0.0"), htons(5004)), S_OK);
  EXPECT_EQ(filter_->SetGroup(Address("239.255.255.255"), htons(5004)), S_OK);
  EXPECT_EQ(GroupOf(filter_), Address("239.255.255.255"));
  EXPECT_EQ(filter_->SetInterfaceAddress(Address("224.0.0.1")), E_INVALIDARG);
  EXPECT_EQ(filter_->SetInterfaceAddress(Address("223.255.255.255")), S_OK);
  EXPECT_EQ(filter_->SetInterfaceAddress(0), S_OK);
}

TEST_F(ReceiverFilterTest, ConfigurationIsRefusedOnceTheFilterLeavesStopped) {
  ConfigurePcm24();
  ConfigureNetwork();
  ASSERT_EQ(filter_->Pause(), S_OK);
  EXPECT_EQ(filter_->SetGroup(Address("239.192.0.8"), htons(5004)), E_UNEXPECTED);
  EXPECT_EQ(filter_->SetInterfaceAddress(0), E_UNEXPECTED);
  const FormatBlock format = Pcm16StereoFormat();
  EXPECT_EQ(filter_->SetMediaFormat(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, HEADER_RTP, format.data()),
            E_UNEXPECTED);
  EXPECT_EQ(filter_->pin()->wave_format().wBitsPerSample, 24);
  EXPECT_EQ(GroupOf(filter_), Address("239.192.0.7"));
}

TEST_F(ReceiverFilterTest, FormatsThatCannotBeConvertedAreRefused) {
  FormatBlock format{};
  const WAVEFORMATEX eight_bit{WAVE_FORMAT_PCM, 2, 48000, 96000, 2, 8, 0};
  std::memcpy(format.data(), &eight_bit, sizeof eight_bit);
  EXPECT_EQ(SetFormat(MEDIASUBTYPE_PCM, HEADER_RTP, format), VFW_E_TYPE_NOT_ACCEPTED);
  const WAVEFORMATEX no_rate{WAVE_FORMAT_PCM, 2, 48000, 0, 4, 16, 0};  // no 50 ms block
  std::memcpy(format.data(), &no_rate, sizeof no_rate);
  EXPECT_EQ(SetFormat(MEDIASUBTYPE_PCM, HEADER_RTP, format), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(filter_->handler()->pcm_pool(), nullptr);
  ConfigurePcm24();
  ASSERT_NE(filter_->handler()->pcm_pool(), nullptr);
  EXPECT_EQ(filter_->handler()->pcm_pool()->buffer_size(), 14400u);
  EXPECT_EQ(filter_->handler()->pcm_pool()->buffer_count(), 10u);
}

TEST_F(ReceiverFilterTest, OfferedTypeDescribesThe24BitFormat) {
  ConfigurePcm24();
  CNetworkReceiverOutputPin* pin = filter_->pin();
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(pin->GetMediaType(0, &type), S_OK);
  EXPECT_EQ(type.lSampleSize, 3u);  // one channel's sample, not the frame
  ASSERT_EQ(type.cbFormat, 40u);
  EXPECT_EQ(std::memcmp(type.pbFormat, Pcm24StereoFormat().data(), 40), 0);
  FreeMediaType(type);
  EXPECT_EQ(pin->GetMediaType(1, &type), VFW_S_NO_MORE_ITEMS);

  AM_MEDIA_TYPE proposed{};
  proposed.majortype = MEDIATYPE_Audio;
  proposed.subtype = MEDIASUBTYPE_MP3;  // the subtype is not compared
  EXPECT_EQ(pin->CheckMediaType(proposed), S_OK);
  proposed.majortype = MEDIATYPE_Video;
  EXPECT_EQ(pin->CheckMediaType(proposed), S_FALSE);

  ASSERT_EQ(SetFormat(MEDIASUBTYPE_MP3, HEADER_RTP_MPA, MpegAudioFormat()), S_OK);
  ASSERT_EQ(pin->GetMediaType(0, &type), S_OK);
  EXPECT_EQ(type.cbFormat, 30u);  // 18 + cbSize
  FreeMediaType(type);
}

TEST_F(ReceiverFilterTest, EveryConnectionUsesTheFiltersOwnAllocator) {
  ConfigurePcm24();
  ConnectSink();
  ASSERT_NE(sink_.allocator, nullptr);
  ALLOCATOR_PROPERTIES properties{};
  ASSERT_EQ(sink_.allocator->GetProperties(&properties), S_OK);
  EXPECT_EQ(properties.cBuffers, 10);
  EXPECT_EQ(properties.cbBuffer, 8192);
  EXPECT_EQ(sink_.type.lSampleSize, 3u);
  EXPECT_EQ(sink_.format_bytes, 40u);
  EXPECT_EQ(filter_->pin()->Connect(&sink_, nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST_F(ReceiverFilterTest, PeerLookingForAPullReaderIsRefused) {
  ConfigurePcm24();
  sink_.ask_for_pull_reader = true;
  EXPECT_EQ(filter_->pin()->Connect(&sink_, nullptr), VFW_E_NO_TRANSPORT);
  EXPECT_FALSE(filter_->pin()->IsConnected());
  EXPECT_FALSE(sink_.connected());
  sink_.ask_for_pull_reader = false;
  EXPECT_EQ(filter_->pin()->Connect(&sink_, nullptr), S_OK);
}

TEST_F(ReceiverFilterTest, LevelsAreDecibelsOfThePeaksTruncatedTowardZero) {
  ConfigurePcm24();
  ConnectSink();
  int32_t left = 1, right = 1;
  EXPECT_EQ(filter_->GetLevels(&left, &right), S_FALSE);  // not running
  EXPECT_EQ(left, 1);
  ConfigureNetwork();
  ASSERT_EQ(filter_->Run(0), S_OK);

  Feed(Frame(0, 0));
  ASSERT_EQ(filter_->GetLevels(&left, &right), S_OK);
  EXPECT_EQ(left, -10000);
  EXPECT_EQ(right, -10000);

  Feed(Frame(0x7F000000, 0x10000000));
  ASSERT_EQ(filter_->GetLevels(&left, &right), S_OK);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(right, -179);  // -179.94
  ASSERT_EQ(filter_->GetLevels(&left, &right), S_OK);
  EXPECT_EQ(left, -10000);  // the peaks were reset by the previous call

  Feed(Frame(0x000A0100, 0x000A0000));  // just above, and at, the silence threshold
  ASSERT_EQ(filter_->GetLevels(&left, &right), S_OK);
  EXPECT_EQ(left, -702);
  EXPECT_EQ(right, -10000);
}

TEST_F(ReceiverFilterTest, AskingForStatisticsResetsThePeaks) {
  ConfigurePcm24();
  ConnectSink();
  Feed(Frame(0x40000000, 0x40000000));
  EXPECT_EQ(filter_->handler()->peaks().left, 0x40000000);
  void* stats = nullptr;
  ASSERT_EQ(filter_->QueryInterface(IID_INetworkReceiverStats, &stats), S_OK);
  EXPECT_EQ(filter_->handler()->peaks().left, 0);
  ReceiverStatistics statistics{};
  ASSERT_EQ(static_cast<INetworkReceiverStats*>(stats)->GetStatistics(&statistics), S_OK);
  EXPECT_EQ(statistics.packetsReceived, 1u);
  EXPECT_EQ(statistics.payloadBytesReceived, 6u);
  EXPECT_EQ(statistics.bytesPerSecond, 288000u);
  static_cast<INetworkReceiverStats*>(stats)->Release();
}

TEST_F(ReceiverFilterTest, SavedSettingsAre34BytesAndLoadBack) {
  ASSERT_EQ(filter_->SetGroup(Address("239.192.1.44"), htons(5004)), S_OK);
  ASSERT_EQ(filter_->SetInterfaceAddress(Address("10.1.2.3")), S_OK);
  MemoryStream stream;
  ASSERT_EQ(filter_->Save(&stream, true), S_OK);
  ASSERT_EQ(stream.bytes.size(), 34u);
  const char16_t version[] = u"00000000000 ";
  EXPECT_EQ(std::memcmp(stream.bytes.data(), version, 24), 0);  // UTF-16LE on this machine
  EXPECT_EQ(std::vector<uint8_t>(stream.bytes.begin() + 24, stream.bytes.end()),
            (std::vector<uint8_t>{239, 192, 1, 44, 0x13, 0x8C, 10, 1, 2, 3}));

  CNetworkReceiverFilter* other = nullptr;
  ASSERT_EQ(CNetworkReceiverFilter::Create(&other), S_OK);
  ASSERT_EQ(other->Load(&stream), S_OK);
  EXPECT_EQ(GroupOf(other), Address("239.192.1.44"));
  EXPECT_EQ(PortOf(other), htons(5004));
  EXPECT_EQ(InterfaceOf(other), Address("10.1.2.3"));
  other->Release();
}

TEST_F(ReceiverFilterTest, SettingsLoadOnlyAfterAWellFormedVersion) {
  const auto stream_of = [](std::u16string_view version, size_t settings_bytes) {
    MemoryStream stream;
    const auto* p = reinterpret_cast<const uint8_t*>(version.data());
    stream.bytes.assign(p, p + 2 * version.size());
    const uint8_t settings[10] = {239, 1, 2, 3, 0x13, 0x8C, 127, 0, 0, 1};
    stream.bytes.insert(stream.bytes.end(), settings, settings + settings_bytes);
    return stream;
  };
  MemoryStream bad = stream_of(u"0000000000x ", 10);
  EXPECT_EQ(filter_->Load(&bad), VFW_E_INVALID_FILE_FORMAT);
  MemoryStream short_settings = stream_of(u"-12\t", 6);
  EXPECT_EQ(filter_->Load(&short_settings), E_FAIL);
  EXPECT_EQ(GroupOf(filter_), CNetworkReceiverFilter::kNotSet);
  MemoryStream negative = stream_of(u"-12\t", 10);
  EXPECT_EQ(filter_->Load(&negative), S_OK);
  EXPECT_EQ(GroupOf(filter_), Address("239.1.2.3"));
}

TEST(ReceiverFilterCreateTest, FailsWhenTheSocketLibraryCannotStart) {
  const int users = SocketLibraryUsers();
  {
    SocketLibraryTestHook hook(ENETDOWN, kSocketVersion22);
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(CreateNetworkReceiverFilter(&filter), E_FAIL);
    EXPECT_EQ(filter, nullptr);
  }
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(CreateNetworkReceiverFilter(&filter), S_OK);
  EXPECT_EQ(SocketLibraryUsers(), users + 1);
  filter->Release();
  EXPECT_EQ(SocketLibraryUsers(), users);
}

}  // namespace
}  // namespace vqscw
