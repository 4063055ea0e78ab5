// The receiver filter's configuration from outside: an SDP file named through the file-source
// interface, and its network settings saved to and loaded from a stream.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "vqscwlib/platform/sound_driver.h"
#include "vqscwlib/preview/receiver_filter.h"
#include "vqscwlib/preview/stream_description.h"

namespace {

constexpr off_t kMaxDescriptionBytes = 1 << 20;  // far beyond any SDP text
constexpr int kVersionChars = 12;                // "%011d " in UTF-16
constexpr uint32_t kPersistedVersion = 0;

// UTF-16 to UTF-8 for the file system. False for an unpaired surrogate.
bool Utf16ToUtf8(const char16_t* text, std::string* out) {
  for (const char16_t* p = text; *p != u'\0'; ++p) {
    uint32_t code = *p;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (p[1] < 0xDC00 || p[1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return true;
}

// The whole regular file at `path`, or false.
bool ReadWholeFile(const char* path, std::unique_ptr<uint8_t[]>* data, size_t* size) {
  // Non-blocking open: naming a FIFO must not hang the caller.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat status;
  bool ok =
      fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMaxDescriptionBytes;
  if (ok) {
    *size = static_cast<size_t>(status.st_size);
    data->reset(new (std::nothrow) uint8_t[*size + 1]);
    ok = *data != nullptr;
    size_t done = 0;
    while (ok && done < *size) {
      const ssize_t n = read(fd, data->get() + done, *size - done);
      if (n <= 0) ok = false;  // an error, or fewer bytes than the size
      if (n > 0) done += static_cast<size_t>(n);
    }
  }
  close(fd);
  return ok;
}

// Reads one UTF-16LE character.
bool ReadChar(ISequentialStream* stream, char16_t* c) {
  uint8_t bytes[2];
  uint32_t done = 0;
  if (FAILED(stream->Read(bytes, sizeof bytes, &done)) || done != sizeof bytes) return false;
  *c = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
  return true;
}

}  // namespace

bool CNetworkReceiverFilter::LoadStreamDescription(const char* path) {
  if (path == nullptr) return false;
  vqscw::FilterLockHolder lock(&mu_);
  // The receive thread reads everything this changes.
  if (state() != State_Stopped) return false;
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
  if (!ReadWholeFile(path, &data, &size)) return false;
  const StreamDescription description = ScanStreamDescription(data.get(), size);
  data.reset();

  header_mode_ = description.headerMode;
  pin_.SetType(description.majorType, description.subType);
  if (description.formatSet) {
    pin_.SetFormat(description.format.data());
    bytes_per_second_.store(pin_.wave_format().nAvgBytesPerSec, std::memory_order_relaxed);
  }
  ApplyFormatToHandler();
  // Refusals are not reported: the filter keeps its previous group or interface.
  SetGroupLocked(description.group, htons(description.port));
  SetInterfaceAddressLocked(GetDriverInterfaceAddress());
  if (description.subType == MEDIASUBTYPE_PCM && FAILED(CreatePcmPool())) return false;
  return true;
}

HRESULT CNetworkReceiverFilter::Load(const char16_t* file_name, const AM_MEDIA_TYPE*) {
  if (file_name == nullptr) return E_POINTER;
  std::string path;
  std::u16string name;
  try {
    if (!Utf16ToUtf8(file_name, &path)) return E_FAIL;
    name = file_name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  vqscw::FilterLockHolder lock(&mu_);
  if (state() != State_Stopped) return VFW_E_NOT_STOPPED;
  if (!LoadStreamDescription(path.c_str())) return E_FAIL;
  file_name_.swap(name);
  has_file_name_ = true;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::GetCurFile(char16_t** file_name, AM_MEDIA_TYPE* type) {
  if (file_name == nullptr || type == nullptr) return E_POINTER;
  vqscw::FilterLockHolder lock(&mu_);
  *file_name = nullptr;
  if (!has_file_name_) return S_OK;
  const size_t bytes = (file_name_.size() + 1) * sizeof(char16_t);
  auto* copy = static_cast<char16_t*>(CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, file_name_.c_str(), bytes);
  *file_name = copy;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::IsDirty() {
  vqscw::FilterLockHolder lock(&mu_);
  return dirty_ ? S_OK : S_FALSE;
}

HRESULT CNetworkReceiverFilter::GetSizeMax(uint64_t* size) {
  if (size == nullptr) return E_POINTER;
  *size = kPersistedSize;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::Save(ISequentialStream* stream, bool clear_dirty) {
  if (stream == nullptr) return E_POINTER;
  uint8_t record[kPersistedSize];
  char version[kVersionChars + 1];
  std::snprintf(version, sizeof version, "%011u ", kPersistedVersion);
  for (int i = 0; i < kVersionChars; ++i) {  // UTF-16LE
    record[2 * i] = static_cast<uint8_t>(version[i]);
    record[2 * i + 1] = 0;
  }
  vqscw::FilterLockHolder lock(&mu_);
  std::memcpy(record + 24, &group_, 4);
  std::memcpy(record + 28, &port_, 2);
  std::memcpy(record + 30, &interface_address_, 4);
  uint32_t done = 0;
  const HRESULT hr = stream->Write(record, sizeof record, &done);
  if (FAILED(hr)) return hr;
  if (done != sizeof record) return E_FAIL;
  if (clear_dirty) dirty_ = false;
  return S_OK;
}

HRESULT CNetworkReceiverFilter::Load(ISequentialStream* stream) {
  if (stream == nullptr) return E_POINTER;
  // The version: an optional "-" and decimal digits, ended by a NUL, tab, line feed, carriage
  // return or space. It is read and not checked.
  char16_t c = 0;
  int read = 0;
  if (!ReadChar(stream, &c)) return E_FAIL;
  ++read;
  if (c == u'-') {
    if (!ReadChar(stream, &c)) return E_FAIL;
    ++read;
  }
  while (c >= u'0' && c <= u'9') {
    if (read == kVersionChars) return VFW_E_INVALID_FILE_FORMAT;
    if (!ReadChar(stream, &c)) return E_FAIL;
    ++read;
  }
  if (c != u'\0' && c != u'\t' && c != u'\n' && c != u'\r' && c != u' ') {
    return VFW_E_INVALID_FILE_FORMAT;
  }
  uint8_t settings[10];
  uint32_t done = 0;
  const HRESULT hr = stream->Read(settings, sizeof settings, &done);
  if (FAILED(hr)) return hr;
  if (done != sizeof settings) return E_FAIL;
  vqscw::FilterLockHolder lock(&mu_);
  std::memcpy(&group_, settings, 4);
  std::memcpy(&port_, settings + 4, 2);
  std::memcpy(&interface_address_, settings + 6, 4);
  return S_OK;
}
