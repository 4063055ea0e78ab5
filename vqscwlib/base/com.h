// The small part of COM the library's media and drag-and-drop objects are built on: result codes,
// GUIDs, and an IUnknown-style interface with reference counting and QueryInterface by GUID.
//
// Result codes keep their platform values so callers and peers compare them as numbers.
#ifndef VQSCWLIB_BASE_COM_H_
#define VQSCWLIB_BASE_COM_H_

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vqscw/format.h"

using HRESULT = int32_t;

constexpr HRESULT MakeHResult(uint32_t value) { return static_cast<HRESULT>(value); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);

// Media results.
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHResult(0x8004020Du);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHResult(0x80040209u);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHResult(0x80040249u);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeHResult(0x80040251u);
constexpr HRESULT VFW_E_NO_TRANSPORT = MakeHResult(0x80040266u);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeHResult(0x8004022Fu);
constexpr HRESULT VFW_S_NO_STOP_TIME = MakeHResult(0x00040270u);
constexpr HRESULT VFW_S_NO_MORE_ITEMS = MakeHResult(0x00040103u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHResult(0x80040204u);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHResult(0x80040207u);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHResult(0x80040208u);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHResult(0x8004020Au);
constexpr HRESULT VFW_E_NOT_FOUND = MakeHResult(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHResult(0x80040218u);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeHResult(0x80040224u);
constexpr HRESULT VFW_E_WRONG_STATE = MakeHResult(0x80040227u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHResult(0x8004022Au);
constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeHResult(0x80040256u);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// A system or socket error as a result code: 0x80070000 OR its low 16 bits. A value that is zero
// or negative is already a result code and is returned unchanged.
constexpr HRESULT HResultFromError(int error) {
  return error > 0 ? MakeHResult(0x80070000u | (static_cast<uint32_t>(error) & 0xFFFFu))
                   : static_cast<HRESULT>(error);
}

// GUID is the format records' (vqscw/format.h), in the library's namespace.
using vqscw::GUID;

using IID = GUID;
using CLSID = GUID;

constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The root of every COM-style interface. Objects are reference counted: AddRef and Release return
// the new count, and the object deletes itself when Release brings the count to zero.
// QueryInterface stores an added reference in *object, or null with E_NOINTERFACE.
struct IUnknown {
  virtual HRESULT QueryInterface(const IID& iid, void** object) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The task allocator: memory that one side of an interface allocates and the other frees
// (names and media types handed out by media objects).
inline void* CoTaskMemAlloc(size_t size) { return std::malloc(size); }
inline void CoTaskMemFree(void* block) { std::free(block); }

#endif  // VQSCWLIB_BASE_COM_H_
