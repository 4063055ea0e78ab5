// Dragging channels onto preset buttons with the window system's drag-and-drop: the drag of a
// channel out of the list, and the drop targets on the preset buttons. The data travels in the
// preset format (preset_transfer.h), so drags and drops work between selector processes too.
//
// Everything here runs on the dialog's thread; a drag runs its own event loop until the drop or
// the cancel (Escape, or releasing the button over a window that does not take the format).
#ifndef VQSCWLIB_SELECTOR_PRESET_DRAG_H_
#define VQSCWLIB_SELECTOR_PRESET_DRAG_H_

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>

class QMimeData;
class QWidget;

namespace vqscw {

// New drag data offering `channel` in the preset format and in no other. The caller owns it.
QMimeData* NewChannelMimeData(int32_t channel);

// Drags `channel` out of `source`, offering only the copy action, and returns when the drag
// ends. What the drop results in is of no concern to the source.
void DragChannel(QWidget* source, int32_t channel);

// What a drag is handed to instead of the window system: the drag's data, which the handler may
// read during the call only.
using DragHandler = std::function<void(const QMimeData& data)>;

// While one of these lives, DragChannel hands its data to `handler` instead of starting a drag
// (off-screen, the window system has no drag to run). Only one may exist at a time; create and
// destroy it on the dialog's thread.
class ScopedDragRedirect {
 public:
  explicit ScopedDragRedirect(DragHandler handler);
  ~ScopedDragRedirect();
  ScopedDragRedirect(const ScopedDragRedirect&) = delete;
  ScopedDragRedirect& operator=(const ScopedDragRedirect&) = delete;
};

// Receives the drops of channels on one preset button: data in the preset format is taken with
// the copy action, anything else is refused, and a dropped block whose text names a channel
// (DecodePresetBlock) is handed to the handler with the preset's index. Registered on the button
// for the target's lifetime: the constructor makes the button accept drops, the destructor
// revokes that. The button may be destroyed first.
class PresetDropTarget : public QObject {
  Q_OBJECT

 public:
  using DropHandler = std::function<void(int index, int32_t channel)>;

  PresetDropTarget(QWidget* button, int index, DropHandler on_drop);
  ~PresetDropTarget() override;

  // Whether the data over the button can be taken.
  bool accepting() const { return accepting_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> button_;
  const int index_;
  const DropHandler on_drop_;
  bool accepting_ = false;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_PRESET_DRAG_H_
