#include "vqscwlib/preview/media_types.h"

#include <cstring>

int PayloadHeaderBytes(PayloadHeaderMode mode) {
  switch (mode) {
    case HEADER_RTP:
      return 12;
    case HEADER_RTP_MPA:
      return 16;
    case HEADER_NONE:
    case HEADER_UDP_MPA:
      break;
  }
  return 0;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE& source) {
  *target = source;
  target->pUnk = nullptr;
  target->pbFormat = nullptr;
  target->cbFormat = 0;
  if (source.cbFormat == 0 || source.pbFormat == nullptr) return S_OK;
  auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(source.cbFormat));
  if (block == nullptr) return E_OUTOFMEMORY;
  std::memcpy(block, source.pbFormat, source.cbFormat);
  target->pbFormat = block;
  target->cbFormat = source.cbFormat;
  return S_OK;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  CoTaskMemFree(type.pbFormat);
  type.pbFormat = nullptr;
  type.cbFormat = 0;
  type.pUnk = nullptr;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& source) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (type == nullptr) return nullptr;
  if (FAILED(CopyMediaType(type, source))) {
    CoTaskMemFree(type);
    return nullptr;
  }
  return type;
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (type == nullptr) return;
  FreeMediaType(*type);
  CoTaskMemFree(type);
}
