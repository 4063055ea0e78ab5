#include "vqscwlib/preview/stream_description.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/preview_helpers.h"

namespace vqscw {
namespace {

using testing::Address;

StreamDescription Scan(const std::string& text) {
  return ScanStreamDescription(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The text written for a heard source (stream id 258), with the given line end.
std::string GeneratedText(const char* encoding, int payload_type, const std::string& end) {
  const std::string pt = std::to_string(payload_type);
  return "v=0" + end + "o=Studio A 1 1 IN IP4 192.168.2.10" + end + "s=Mic 1" + end + "t=0 0" +
         end + "a=type:multicast" + end + "c=IN IP4 239.128.1.2" + end + "m=audio 5004 RTP/AVP " +
         pt + end + "a=rtpmap:" + pt + " " + encoding + end + "a=x-cws:FSID=1:2" + end;
}

void ExpectDefaults(const StreamDescription& d) {
  EXPECT_EQ(d.group, Address("239.128.128.128"));
  EXPECT_EQ(d.port, 5004);
  EXPECT_EQ(d.headerMode, HEADER_NONE);
  EXPECT_EQ(d.majorType, GUID_NULL);
  EXPECT_EQ(d.subType, GUID_NULL);
  EXPECT_FALSE(d.formatSet);
}

TEST(StreamDescriptionTest, GeneratedFilesDescribeTheirStreamWithEitherLineEnd) {
  for (const std::string end : {"\n", "\r\n"}) {
    const StreamDescription l24 = Scan(GeneratedText("L24/48000/2", 96, end));
    EXPECT_EQ(l24.group, Address("239.128.1.2"));
    EXPECT_EQ(l24.port, 5004);
    EXPECT_EQ(l24.headerMode, HEADER_RTP);
    EXPECT_EQ(l24.majorType, MEDIATYPE_Audio);
    EXPECT_EQ(l24.subType, MEDIASUBTYPE_PCM);
    ASSERT_TRUE(l24.formatSet);
    EXPECT_EQ(l24.format, Pcm24StereoFormat());

    const StreamDescription l16 = Scan(GeneratedText("L16/48000/2", 97, end));
    EXPECT_EQ(l16.subType, MEDIASUBTYPE_PCM);
    EXPECT_EQ(l16.format, Pcm16StereoFormat());
  }
}

TEST(StreamDescriptionTest, MpegTransportsSelectTheirHeaderAndTheMpegFormat) {
  const StreamDescription rtp = Scan("m=audio 5004 RTP/AVP 14\n");
  EXPECT_EQ(rtp.headerMode, HEADER_RTP_MPA);
  EXPECT_EQ(rtp.subType, MEDIASUBTYPE_MP3);
  EXPECT_EQ(rtp.format, MpegAudioFormat());
  const StreamDescription udp = Scan("m=audio  6000  UDP MPA\n");
  EXPECT_EQ(udp.headerMode, HEADER_UDP_MPA);
  EXPECT_EQ(udp.port, 6000);
  EXPECT_EQ(udp.subType, MEDIASUBTYPE_MP3);
  // A later rtpmap line with linear PCM replaces the MPEG format but not the header.
  const StreamDescription both = Scan("m=audio 5004 RTP/AVP 14\na=rtpmap:14 L16/48000/2\n");
  EXPECT_EQ(both.headerMode, HEADER_RTP_MPA);
  EXPECT_EQ(both.subType, MEDIASUBTYPE_PCM);
  EXPECT_EQ(both.format, Pcm16StereoFormat());
}

TEST(StreamDescriptionTest, NumbersMayBeHexadecimalOrOctal) {
  EXPECT_EQ(Scan("m=audio 0x138C RTP/AVP 96\n").port, 5004);
  EXPECT_EQ(Scan("m=audio 011614 RTP/AVP 96\n").port, 5004);
  EXPECT_EQ(Scan("m=audio 5004 RTP/AVP 0xE\n").headerMode, HEADER_RTP_MPA);
  EXPECT_EQ(Scan("m=audio 5004 RTP/AVP 65550\n").headerMode, HEADER_RTP_MPA);  // low 16 bits
  EXPECT_EQ(Scan("m=audio 5004 RTP/AVP 99999999999\n").headerMode, HEADER_RTP);
}

TEST(StreamDescriptionTest, ConnectionAddressEndsAtTheFirstOtherCharacter) {
  EXPECT_EQ(Scan("c=IN IP4 239.1.2.3/32\n").group, Address("239.1.2.3"));
  for (const std::string end : {"\n", "\r\n"}) {
    const StreamDescription d = Scan("c=IN IP4 239.1.2.3" + end + "m=audio 6000 RTP/AVP 96" + end);
    EXPECT_EQ(d.group, Address("239.1.2.3"));
    EXPECT_EQ(d.port, 6000);
    EXPECT_EQ(d.headerMode, HEADER_RTP);
  }
  EXPECT_EQ(Scan("c=IN IP4 239.1.2.3\nc=IN IP4 239.4.5.6\n").group, Address("239.4.5.6"));
  EXPECT_EQ(Scan("c=IN IP4 nowhere\n").group, INADDR_NONE);
}

TEST(StreamDescriptionTest, TextsWithoutUsableLinesKeepTheDefaults) {
  ExpectDefaults(Scan(""));
  ExpectDefaults(Scan("v=0\n"));
  ExpectDefaults(Scan("o=x 1 1 IN IP4 239.9.9.9\nx\n\n\nc\n=\nc IN IP4 239.1.1.1\n"));
  const StreamDescription other = Scan("m=audio 5004 RTP/AVP 96\na=rtpmap:96 L24/44100/2\n");
  EXPECT_EQ(other.majorType, MEDIATYPE_Audio);
  EXPECT_EQ(other.subType, GUID_NULL);
  EXPECT_FALSE(other.formatSet);
}

TEST(StreamDescriptionTest, TextCutShortEndsTheScanCleanly) {
  EXPECT_EQ(Scan("c=IN IP4 239.1.2.3\nm").group, Address("239.1.2.3"));
  EXPECT_EQ(Scan("m=audio 5004 RTP/A").headerMode, HEADER_NONE);
  EXPECT_EQ(Scan("m=audio 5004 RTP/A").majorType, MEDIATYPE_Audio);
  EXPECT_FALSE(Scan("a=rtpmap:96 L24/48000/").formatSet);
  EXPECT_EQ(Scan("c=IN IP4 239.1.2.3").group, Address("239.1.2.3"));
}

// Loading a file through the filter's file-source interface.
class StreamDescriptionFileTest : public testing::ReceiverFilterFixture {
 protected:
  void SetUp() override {
    ReceiverFilterFixture::SetUp();
    char pattern[] = "/tmp/vqscw-sdp-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const std::string& path : written_) unlink(path.c_str());
    rmdir(dir_.c_str());
    ReceiverFilterFixture::TearDown();
  }
  std::u16string Write(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    written_.push_back(path);
    return std::u16string(path.begin(), path.end());
  }
  std::string dir_;
  std::vector<std::string> written_;
};

TEST_F(StreamDescriptionFileTest, LoadConfiguresTheFilterAndRemembersTheName) {
  char16_t* name = reinterpret_cast<char16_t*>(1);
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(filter_->GetCurFile(&name, &type), S_OK);
  EXPECT_EQ(name, nullptr);

  const std::u16string path = Write("00258.sdp", GeneratedText("L24/48000/2", 96, "\r\n"));
  ASSERT_EQ(filter_->Load(path.c_str(), nullptr), S_OK);
  EXPECT_EQ(testing::GroupOf(filter_), Address("239.128.1.2"));
  EXPECT_EQ(testing::PortOf(filter_), htons(5004));
  // The sound driver's address, which is not set here.
  EXPECT_EQ(testing::InterfaceOf(filter_), Address("127.0.0.1"));
  EXPECT_EQ(filter_->pin()->wave_format().wBitsPerSample, 24);
  ASSERT_NE(filter_->handler()->pcm_pool(), nullptr);
  EXPECT_EQ(filter_->handler()->pcm_pool()->buffer_size(), 14400u);

  ASSERT_EQ(filter_->GetCurFile(&name, &type), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), path);
  CoTaskMemFree(name);
}

TEST_F(StreamDescriptionFileTest, FailedLoadChangesNothing) {
  const std::u16string good = Write("good.sdp", "c=IN IP4 239.1.2.3\nm=audio 6000 RTP/AVP 96\n");
  ASSERT_EQ(filter_->Load(good.c_str(), nullptr), S_OK);
  const std::u16string missing = std::u16string(dir_.begin(), dir_.end()) + u"/missing.sdp";
  EXPECT_EQ(filter_->Load(missing.c_str(), nullptr), E_FAIL);
  const std::u16string directory(dir_.begin(), dir_.end());
  EXPECT_EQ(filter_->Load(directory.c_str(), nullptr), E_FAIL);
  const std::string fifo = dir_ + "/fifo.sdp";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  written_.push_back(fifo);
  EXPECT_EQ(filter_->Load(std::u16string(fifo.begin(), fifo.end()).c_str(), nullptr), E_FAIL);
  const char16_t broken[] = {u'/', 0xD800, u'x', 0};  // an unpaired surrogate
  EXPECT_EQ(filter_->Load(broken, nullptr), E_FAIL);

  EXPECT_EQ(testing::GroupOf(filter_), Address("239.1.2.3"));
  EXPECT_EQ(testing::PortOf(filter_), htons(6000));
  char16_t* name = nullptr;
  AM_MEDIA_TYPE type{};
  filter_->GetCurFile(&name, &type);
  EXPECT_EQ(std::u16string(name), good);
  CoTaskMemFree(name);
}

TEST_F(StreamDescriptionFileTest, EmptyFileAppliesTheDefaultsWithoutAPcmPool) {
  const std::u16string empty = Write("empty.sdp", "");
  ASSERT_EQ(filter_->Load(empty.c_str(), nullptr), S_OK);
  EXPECT_EQ(testing::GroupOf(filter_), Address("239.128.128.128"));
  EXPECT_EQ(filter_->pin()->major_type(), GUID_NULL);
  EXPECT_EQ(filter_->handler()->pcm_pool(), nullptr);
}

TEST_F(StreamDescriptionFileTest, LoadIsRefusedWhileTheFilterRuns) {
  ConfigurePcm24();
  ASSERT_EQ(filter_->SetGroup(Address("239.192.0.7"), 0), S_OK);
  ASSERT_EQ(filter_->SetInterfaceAddress(Address("127.0.0.1")), S_OK);
  ASSERT_EQ(filter_->Pause(), S_OK);
  const std::u16string path = Write("l16.sdp", GeneratedText("L16/48000/2", 97, "\n"));
  EXPECT_EQ(filter_->Load(path.c_str(), nullptr), VFW_E_NOT_STOPPED);
  EXPECT_EQ(filter_->pin()->wave_format().wBitsPerSample, 24);
}

}  // namespace
}  // namespace vqscw
