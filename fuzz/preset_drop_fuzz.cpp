// Drops arbitrary data on a preset button, as another program may: the first input byte says
// whether the data is offered in the preset format (bit 0) and whether plain text is offered
// beside it (bit 1); the rest is the data. Aborts when the drop target takes data of another
// format, refuses the preset format, hands over a channel the text does not name (the number is
// read as the C library's string-to-long conversion reads it, saturated to 32 bits), or when the
// block the selector itself would drag for that channel does not carry it back.
#include <locale.h>

#include <QApplication>
#include <QByteArray>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vqscwlib/selector/preset_drag.h"
#include "vqscwlib/selector/preset_transfer.h"

namespace {

constexpr int kPresetIndex = 3;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "preset_drop_fuzz: %s\n", what);
  std::abort();
}

struct Drops {
  int count = 0;
  int index = -1;
  int32_t channel = 0;
};

QWidget* g_button = nullptr;
Drops g_drops;
locale_t g_c_locale = nullptr;

// The channel the dropped bytes name: the text up to the first zero byte must begin with
// "ChannelNumber="; the number after it is what strtol makes of it, held to 32 bits.
std::optional<int32_t> ExpectedChannel(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data),
                         strnlen(reinterpret_cast<const char*>(data), size));
  if (text.compare(0, vqscw::kChannelNumberPrefix.size(), vqscw::kChannelNumberPrefix) != 0) {
    return std::nullopt;
  }
  const long value =
      strtol_l(text.c_str() + vqscw::kChannelNumberPrefix.size(), nullptr, 10, g_c_locale);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Drags `data` over the button and drops it there; returns whether the drag was taken.
bool DragAndDrop(const QMimeData& data) {
  QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(g_button, &enter);
  QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(g_button, &drop);
  Check(enter.isAccepted() == drop.isAccepted(), "enter and drop disagree");
  return drop.isAccepted();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "preset_drop_fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
  g_c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
  g_button = new QWidget;
  new vqscw::PresetDropTarget(g_button, kPresetIndex, [](int index, int32_t channel) {
    ++g_drops.count;
    g_drops.index = index;
    g_drops.channel = channel;
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool preset_format = (data[0] & 1) != 0;
  const bool with_text = (data[0] & 2) != 0;
  const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

  QMimeData offered;
  if (preset_format) offered.setData(QString::fromLatin1(vqscw::kPresetFormat), bytes);
  if (with_text) offered.setData(QStringLiteral("text/plain"), bytes);
  g_drops = Drops{};
  const bool taken = DragAndDrop(offered);
  Check(taken == preset_format, "the drop target took another format or refused its own");
  const std::optional<int32_t> expected =
      preset_format ? ExpectedChannel(data + 1, size - 1) : std::nullopt;
  Check(g_drops.count == (expected.has_value() ? 1 : 0), "a drop named a channel it should not");
  if (expected.has_value()) {
    Check(g_drops.index == kPresetIndex, "preset index");
    Check(g_drops.channel == *expected, "the channel differs from what the text names");

    // What the selector drags for that channel carries it back.
    const vqscw::PresetBlock block = vqscw::EncodePresetBlock(*expected);
    char text[vqscw::kPresetBlockBytes + 1] = {};
    std::snprintf(text, sizeof text, "ChannelNumber=%ld\n", static_cast<long>(*expected));
    Check(std::memcmp(block.data(), text, block.size()) == 0, "preset block");
    const std::unique_ptr<QMimeData> own(vqscw::NewChannelMimeData(*expected));
    g_drops = Drops{};
    Check(DragAndDrop(*own), "the selector's own drag refused");
    Check(g_drops.count == 1 && g_drops.channel == *expected, "a channel did not come back");
  }
  return 0;
}
