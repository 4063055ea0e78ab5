// Media type records and identifiers shared by the receiver filter, its samples and the audio
// renderer: the type a pin offers (AM_MEDIA_TYPE), allocator and sample property records, filter
// states, and the GUIDs of the media types and interfaces.
#ifndef VQSCWLIB_PREVIEW_MEDIA_TYPES_H_
#define VQSCWLIB_PREVIEW_MEDIA_TYPES_H_

#include <cstdint>

#include "vqscwlib/base/com.h"

// Stream times in 100 ns units.
using REFERENCE_TIME = int64_t;

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

// Header bytes to strip from the start of every received datagram.
enum PayloadHeaderMode : int32_t {
  HEADER_NONE = 0,     // payload starts at byte 0
  HEADER_RTP = 1,      // 12-byte RTP header
  HEADER_RTP_MPA = 2,  // RTP header plus the 4-byte MPEG audio payload header
  HEADER_UDP_MPA = 3,  // raw MPEG audio over UDP
};

// Bytes skipped at the start of a datagram in `mode` (0 for unknown modes).
int PayloadHeaderBytes(PayloadHeaderMode mode);

// The type of the data a pin carries. pbFormat (cbFormat bytes) is task-allocator memory owned by
// the record; pUnk is unused and always null here.
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  int32_t bFixedSizeSamples;
  int32_t bTemporalCompression;
  uint32_t lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  uint32_t cbFormat;
  uint8_t* pbFormat;
};

// Copies `source` into `*target` (which must not own a format block), with a format block of its
// own. E_OUTOFMEMORY when the block cannot be allocated: *target is then left without one.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE& source);
// Frees the format block of `type` and clears its format fields.
void FreeMediaType(AM_MEDIA_TYPE& type);
// A task-allocated copy of `source` (free with DeleteMediaType), or null without memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& source);
// Frees a record made by CreateMediaType, with its format block. Accepts null.
void DeleteMediaType(AM_MEDIA_TYPE* type);

struct ALLOCATOR_PROPERTIES {
  int32_t cBuffers;
  int32_t cbBuffer;
  int32_t cbAlign;
  int32_t cbPrefix;
};

// A sample's property record (IMediaSample2). Its size is that of this build.
struct AM_SAMPLE2_PROPERTIES {
  uint32_t cbData;
  uint32_t dwTypeSpecificFlags;
  uint32_t dwSampleFlags;
  int32_t lActual;
  REFERENCE_TIME tStart;
  REFERENCE_TIME tStop;
  uint32_t dwStreamId;
  AM_MEDIA_TYPE* pMediaType;
  uint8_t* pbBuffer;
  int32_t cbBuffer;
};

// dwSampleFlags bits.
constexpr uint32_t AM_SAMPLE_SPLICEPOINT = 0x01;
constexpr uint32_t AM_SAMPLE_PREROLL = 0x02;
constexpr uint32_t AM_SAMPLE_DATADISCONTINUITY = 0x04;
constexpr uint32_t AM_SAMPLE_TYPECHANGED = 0x08;
constexpr uint32_t AM_SAMPLE_TIMEVALID = 0x10;
constexpr uint32_t AM_SAMPLE_STOPVALID = 0x100;

// IAMFilterMiscFlags: the filter is a source.
constexpr uint32_t AM_FILTER_MISC_FLAGS_IS_SOURCE = 2;

constexpr GUID MEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// MPEG audio layer 3: the format tag 0x0055 in the audio subtype pattern.
constexpr GUID MEDIASUBTYPE_MP3 = {
    0x00000055, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID FORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

constexpr CLSID CLSID_NetworkReceiverFilter = {
    0x4E3B0ADC, 0x4FF2, 0x4CB7, {0x9D, 0xB3, 0xE1, 0xB9, 0x83, 0x85, 0x4A, 0x3B}};
constexpr IID IID_INetworkReceiverConfig = {
    0xD2CD6F59, 0x4E43, 0x4CED, {0x8E, 0xDC, 0x81, 0x42, 0x99, 0x27, 0x0B, 0x22}};
constexpr IID IID_INetworkReceiverStats = {
    0xD17B74D9, 0xD932, 0x4026, {0x8D, 0x96, 0x6E, 0xDA, 0x8E, 0xAB, 0x71, 0xBE}};

// The media graph's interfaces: most share one family of identifiers.
constexpr IID MediaGraphIid(uint32_t first) {
  return {first, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
}
constexpr IID IID_IPin = MediaGraphIid(0x56A86891);
constexpr IID IID_IBaseFilter = MediaGraphIid(0x56A86895);
constexpr IID IID_IMediaFilter = MediaGraphIid(0x56A86899);
constexpr IID IID_IMediaSample = MediaGraphIid(0x56A8689A);
constexpr IID IID_IMemAllocator = MediaGraphIid(0x56A8689C);
constexpr IID IID_IMemInputPin = MediaGraphIid(0x56A8689D);
constexpr IID IID_IFilterGraph = MediaGraphIid(0x56A8689F);
constexpr IID IID_IFileSourceFilter = MediaGraphIid(0x56A868A6);
constexpr IID IID_IGraphBuilder = MediaGraphIid(0x56A868A9);
constexpr IID IID_IAsyncReader = MediaGraphIid(0x56A868AA);
constexpr IID IID_IMediaControl = MediaGraphIid(0x56A868B1);
constexpr IID IID_IBasicAudio = MediaGraphIid(0x56A868B3);
constexpr IID IID_IMediaSample2 = {
    0x36B73884, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
constexpr IID IID_IPersist = {
    0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IPersistStream = {
    0x00000109, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_IAMovieSetup = {
    0xA3D8CEC0, 0x7E5A, 0x11CF, {0xBB, 0xC5, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x20}};
constexpr IID IID_IAMFilterMiscFlags = {
    0x2DD74950, 0xA890, 0x11D1, {0xAB, 0xE8, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
constexpr IID IID_IAMPushSource = {
    0xF185FE76, 0xE64E, 0x11D2, {0xB7, 0x6E, 0x00, 0xC0, 0x4F, 0xB6, 0xBD, 0x3D}};

#endif  // VQSCWLIB_PREVIEW_MEDIA_TYPES_H_
