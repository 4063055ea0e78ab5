// The element contract of the media graph: filters with states, pins that connect with one agreed
// type, allocators, and samples that are pushed downstream.
//
// All objects are reference counted (IUnknown). A pin's and a facet's reference count is that of
// the filter that owns it. Names and identifiers are UTF-16 strings; strings and media types that
// an interface hands out are task-allocator memory that the caller frees (CoTaskMemFree,
// DeleteMediaType).
//
// Threads: state changes and connections run on the graph's control thread; samples are pushed
// (IMemInputPin::Receive) on the source's own thread and may be released on any thread.
#ifndef VQSCWLIB_PREVIEW_MEDIA_INTERFACES_H_
#define VQSCWLIB_PREVIEW_MEDIA_INTERFACES_H_

#include <cstdint>

#include "vqscwlib/base/com.h"
#include "vqscwlib/preview/media_types.h"

struct IPin;
struct IFilterGraph;

// One block of media data lent by its source. GetTime and GetMediaTime report unset times with
// VFW_E_SAMPLE_TIME_NOT_SET and VFW_E_MEDIA_TIME_NOT_SET.
struct IMediaSample : IUnknown {
  virtual HRESULT GetPointer(uint8_t** buffer) = 0;
  virtual int32_t GetSize() = 0;
  virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
  virtual HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* stop) = 0;
  virtual HRESULT IsSyncPoint() = 0;
  virtual HRESULT SetSyncPoint(bool sync_point) = 0;
  virtual HRESULT IsPreroll() = 0;
  virtual HRESULT SetPreroll(bool preroll) = 0;
  virtual int32_t GetActualDataLength() = 0;
  virtual HRESULT SetActualDataLength(int32_t length) = 0;
  // *type receives a copy (free with DeleteMediaType), or null with S_FALSE when none is set.
  virtual HRESULT GetMediaType(AM_MEDIA_TYPE** type) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT IsDiscontinuity() = 0;
  virtual HRESULT SetDiscontinuity(bool discontinuity) = 0;
  virtual HRESULT GetMediaTime(int64_t* start, int64_t* stop) = 0;
  virtual HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) = 0;

 protected:
  ~IMediaSample() = default;
};

struct IMediaSample2 : IMediaSample {
  // Copies up to `size` bytes of the sample's AM_SAMPLE2_PROPERTIES record.
  virtual HRESULT GetProperties(uint32_t size, uint8_t* properties) = 0;
  virtual HRESULT SetProperties(uint32_t size, const uint8_t* properties) = 0;

 protected:
  ~IMediaSample2() = default;
};

struct IMemAllocator : IUnknown {
  virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request,
                                ALLOCATOR_PROPERTIES* actual) = 0;
  virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT Commit() = 0;
  virtual HRESULT Decommit() = 0;
  virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                            uint32_t flags) = 0;
  virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;

 protected:
  ~IMemAllocator() = default;
};

// A connection point of a filter. An output pin's Connect agrees a type with an input pin and
// calls its ReceiveConnection; both sides then hold a reference on each other until Disconnect.
// Connections change only while the filter is stopped.
struct IPin : IUnknown {
  virtual HRESULT Connect(IPin* receive_pin, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin** pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
  virtual HRESULT QueryId(char16_t** id) = 0;
  virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* type) = 0;

 protected:
  ~IPin() = default;
};

// The push side of an input pin. Receive runs on the upstream filter's thread; a receiver that
// keeps the sample past the call takes a reference of its own.
struct IMemInputPin : IUnknown {
  virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
  virtual HRESULT NotifyAllocator(IMemAllocator* allocator, bool read_only) = 0;
  virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) = 0;
  virtual HRESULT Receive(IMediaSample* sample) = 0;

 protected:
  ~IMemInputPin() = default;
};

struct IPersist : IUnknown {
  virtual HRESULT GetClassID(CLSID* class_id) = 0;

 protected:
  ~IPersist() = default;
};

struct IMediaFilter : IPersist {
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT GetState(uint32_t timeout_ms, FILTER_STATE* state) = 0;

 protected:
  ~IMediaFilter() = default;
};

constexpr int kMaxFilterName = 128;

struct FILTER_INFO {
  char16_t achName[kMaxFilterName];
  IFilterGraph* pGraph;  // with a reference the caller releases, or null
};

struct IBaseFilter : IMediaFilter {
  virtual HRESULT FindPin(const char16_t* id, IPin** pin) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  // The graph is not referenced by the filter (it references the filter); null leaves the graph.
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const char16_t* name) = 0;
  virtual HRESULT QueryVendorInfo(char16_t** info) = 0;

 protected:
  ~IBaseFilter() = default;
};

struct IFilterGraph : IUnknown {
  virtual HRESULT AddFilter(IBaseFilter* filter, const char16_t* name) = 0;
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;

 protected:
  ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
  // Connects whatever is needed from `output` to the audio output.
  virtual HRESULT Render(IPin* output) = 0;

 protected:
  ~IGraphBuilder() = default;
};

struct IMediaControl : IUnknown {
  virtual HRESULT Run() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(uint32_t timeout_ms, FILTER_STATE* state) = 0;

 protected:
  ~IMediaControl() = default;
};

// Volume in hundredths of a decibel, -10000 (silent) to 0 (full).
struct IBasicAudio : IUnknown {
  virtual HRESULT put_Volume(int32_t volume) = 0;
  virtual HRESULT get_Volume(int32_t* volume) = 0;

 protected:
  ~IBasicAudio() = default;
};

struct IFileSourceFilter : IUnknown {
  virtual HRESULT Load(const char16_t* file_name, const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT GetCurFile(char16_t** file_name, AM_MEDIA_TYPE* type) = 0;

 protected:
  ~IFileSourceFilter() = default;
};

// A byte stream that persistent objects save to and load from. Not reference counted: the caller
// owns it for the length of the call. Read and Write report the bytes moved in *done (optional);
// a short read is S_FALSE.
struct ISequentialStream {
  virtual HRESULT Read(void* data, uint32_t size, uint32_t* done) = 0;
  virtual HRESULT Write(const void* data, uint32_t size, uint32_t* done) = 0;

 protected:
  ~ISequentialStream() = default;
};

struct IPersistStream : IPersist {
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(ISequentialStream* stream) = 0;
  virtual HRESULT Save(ISequentialStream* stream, bool clear_dirty) = 0;
  virtual HRESULT GetSizeMax(uint64_t* size) = 0;

 protected:
  ~IPersistStream() = default;
};

struct IAMovieSetup : IUnknown {
  virtual HRESULT Register() = 0;
  virtual HRESULT Unregister() = 0;

 protected:
  ~IAMovieSetup() = default;
};

struct IAMFilterMiscFlags : IUnknown {
  virtual uint32_t GetMiscFlags() = 0;

 protected:
  ~IAMFilterMiscFlags() = default;
};

struct IAMPushSource : IUnknown {
  virtual HRESULT GetLatency(REFERENCE_TIME* latency) = 0;
  virtual HRESULT GetPushSourceFlags(uint32_t* flags) = 0;
  virtual HRESULT SetPushSourceFlags(uint32_t flags) = 0;
  virtual HRESULT SetStreamOffset(REFERENCE_TIME offset) = 0;
  virtual HRESULT GetStreamOffset(REFERENCE_TIME* offset) = 0;
  virtual HRESULT GetMaxStreamOffset(REFERENCE_TIME* offset) = 0;
  virtual HRESULT SetMaxStreamOffset(REFERENCE_TIME offset) = 0;

 protected:
  ~IAMPushSource() = default;
};

#endif  // VQSCWLIB_PREVIEW_MEDIA_INTERFACES_H_
