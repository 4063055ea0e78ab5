#include "vqscwlib/selector/artwork.h"

#include <QBitmap>
#include <QFile>
#include <QPainter>
#include <QSvgRenderer>
#include <QtMath>

static void InitSelectorResources() { Q_INIT_RESOURCE(selector); }

namespace vqscw {
namespace {

constexpr char kHeaderPath[] = ":/vqscw/selector/header.bmp";
constexpr char kButtonsPath[] = ":/vqscw/selector/buttons.bmp";
constexpr char kIconPath[] = ":/vqscw/selector/selector.ico";
constexpr char kStringsPath[] = ":/vqscw/selector/strings.txt";
constexpr char kHeaderVectorPath[] = ":/vqscw/selector/header.svg";
constexpr char kButtonsVectorPath[] = ":/vqscw/selector/buttons.svg";
constexpr char kIconVectorPath[] = ":/vqscw/selector/selector.svg";

// Icon sizes drawn from the vector icon, beyond the 16, 32 and 48 pixels of the icon resource.
constexpr int kVectorIconSizes[] = {64, 96, 128, 256};

// The resources live in the library's archive; registering them once pulls them in.
void EnsureResources() {
  static const bool registered = (InitSelectorResources(), true);
  (void)registered;
}

// The part `view` of the vector drawing at `path`, rendered for `points` points at `ratio`
// device pixels per point; null when the drawing cannot be read.
QImage RenderVector(const char* path, const QRectF& view, QSize points, qreal ratio) {
  EnsureResources();
  QSvgRenderer renderer{QString::fromLatin1(path)};
  if (!renderer.isValid()) return {};
  renderer.setViewBox(view);
  QImage image(qCeil(points.width() * ratio), qCeil(points.height() * ratio),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(image.size())));
  }
  image.setDevicePixelRatio(ratio);
  return image;
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
  QIcon icon(kIconPath);
  for (int size : kVectorIconSizes) {
    const QImage image = RenderVector(kIconVectorPath, QRectF(0, 0, 48, 48), QSize(size, size), 1);
    if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

QImage HeaderImageAt(qreal ratio) {
  if (ratio <= 1) return HeaderImage();
  return RenderVector(kHeaderVectorPath, QRectF(0, 0, kHeaderWidth, kHeaderHeight),
                      QSize(kHeaderWidth, kHeaderHeight), ratio);
}

QPixmap ButtonCellAt(int cell, qreal ratio) {
  if (cell < 0 || cell >= kButtonCellCount) return {};
  if (ratio <= 1) return ButtonCell(ButtonStrip(), cell);
  const QImage image = RenderVector(
      kButtonsVectorPath, QRectF(cell * kButtonCellSize, 0, kButtonCellSize, kButtonCellSize),
      QSize(kButtonCellSize, kButtonCellSize), ratio);
  return QPixmap::fromImage(image);
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
