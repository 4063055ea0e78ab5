#include "vqscwlib/selector/artwork.h"

#include <QBitmap>
#include <QFile>

static void InitSelectorResources() { Q_INIT_RESOURCE(selector); }

namespace vqscw {
namespace {

constexpr char kHeaderPath[] = ":/vqscw/selector/header.bmp";
constexpr char kButtonsPath[] = ":/vqscw/selector/buttons.bmp";
constexpr char kIconPath[] = ":/vqscw/selector/selector.ico";
constexpr char kStringsPath[] = ":/vqscw/selector/strings.txt";

// The resources live in the library's archive; registering them once pulls them in.
void EnsureResources() {
  static const bool registered = (InitSelectorResources(), true);
  (void)registered;
}

}  // namespace

QImage HeaderImage() {
  EnsureResources();
  return QImage(kHeaderPath);
}

QImage ButtonStrip() {
  EnsureResources();
  return QImage(kButtonsPath);
}

QIcon OwnIcon() {
  EnsureResources();
  return QIcon(kIconPath);
}

QString ResourceString(int id) {
  EnsureResources();
  QFile file(kStringsPath);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
  const QString prefix = QString::number(id) + QLatin1Char('\t');
  while (!file.atEnd()) {
    QString line = QString::fromUtf8(file.readLine());
    if (line.endsWith(QLatin1Char('\n'))) line.chop(1);
    if (line.startsWith(prefix)) return line.mid(prefix.size());
  }
  return {};
}

QColor BackgroundColourOf(const QImage& header) {
  if (header.isNull()) return QColor(Qt::white);
  return header.pixelColor(0, header.height() - 1);
}

QPixmap ButtonCell(const QImage& strip, int cell) {
  if (strip.isNull() || cell < 0 || (cell + 1) * kButtonCellSize > strip.width()) return {};
  const QImage image = strip.copy(cell * kButtonCellSize, 0, kButtonCellSize, kButtonCellSize)
                           .convertToFormat(QImage::Format_ARGB32);
  QPixmap pixmap = QPixmap::fromImage(image);
  const QImage mask = image.createMaskFromColor(strip.pixel(0, 0), Qt::MaskInColor);
  pixmap.setMask(QBitmap::fromImage(mask));
  return pixmap;
}

}  // namespace vqscw
