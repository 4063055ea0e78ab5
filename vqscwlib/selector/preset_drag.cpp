#include "vqscwlib/selector/preset_drag.h"

#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "vqscwlib/selector/preset_transfer.h"

namespace vqscw {
namespace {

// The redirect in force, if any; used on the dialog's thread only.
DragHandler* g_drag_redirect = nullptr;

QString PresetFormat() { return QString::fromLatin1(kPresetFormat); }

}  // namespace

QMimeData* NewChannelMimeData(int32_t channel) {
  const PresetBlock block = EncodePresetBlock(channel);
  auto* data = new QMimeData;
  data->setData(PresetFormat(), QByteArray(block.data(), static_cast<qsizetype>(block.size())));
  return data;
}

void DragChannel(QWidget* source, int32_t channel) {
  if (g_drag_redirect != nullptr) {
    const std::unique_ptr<QMimeData> data(NewChannelMimeData(channel));
    (*g_drag_redirect)(*data);
    return;
  }
  // The drag owns its data and deletes itself once its loop has ended.
  auto* drag = new QDrag(source);
  drag->setMimeData(NewChannelMimeData(channel));
  drag->exec(Qt::CopyAction, Qt::CopyAction);
}

ScopedDragRedirect::ScopedDragRedirect(DragHandler handler) {
  g_drag_redirect = new DragHandler(std::move(handler));
}

ScopedDragRedirect::~ScopedDragRedirect() {
  delete g_drag_redirect;
  g_drag_redirect = nullptr;
}

PresetDropTarget::PresetDropTarget(QWidget* button, int index, DropHandler on_drop)
    : button_(button), index_(index), on_drop_(std::move(on_drop)) {
  button_->setAcceptDrops(true);
  button_->installEventFilter(this);
}

PresetDropTarget::~PresetDropTarget() {
  if (button_.isNull()) return;
  button_->removeEventFilter(this);
  button_->setAcceptDrops(false);
}

bool PresetDropTarget::eventFilter(QObject* watched, QEvent* event) {
  if (watched != button_) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter: {
      auto* enter = static_cast<QDragEnterEvent*>(event);
      accepting_ = enter->mimeData() != nullptr && enter->mimeData()->hasFormat(PresetFormat());
      [[fallthrough]];
    }
    case QEvent::DragMove: {
      auto* move = static_cast<QDragMoveEvent*>(event);
      if (accepting_) {
        move->setDropAction(Qt::CopyAction);
        move->accept();
      } else {
        move->ignore();
      }
      return true;
    }
    case QEvent::DragLeave:
      accepting_ = false;
      return true;
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const bool accepting = std::exchange(accepting_, false);
      if (!accepting || drop->mimeData() == nullptr) {
        drop->ignore();
        return true;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      const QByteArray bytes = drop->mimeData()->data(PresetFormat());
      const std::optional<int32_t> channel =
          DecodePresetBlock(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
      if (channel.has_value() && on_drop_) on_drop_(index_, *channel);
      return true;
    }
    default:
      return QObject::eventFilter(watched, event);
  }
}

}  // namespace vqscw
