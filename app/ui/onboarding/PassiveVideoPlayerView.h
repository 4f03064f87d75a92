#pragma once

#include <QtQml/qqmlregistration.h>
#include <QImage>
#include <QQuickPaintedItem>
#include <QVideoSink>

namespace zephro {

// Draws the frames of a video sink inside a rounded clip. Each frame fills the view and
// keeps its aspect; it is drawn edgeBleed larger than the view on every side, so no edge
// of the video shows inside the rounded corners. The view takes no input: clicks and
// hovering pass through to what lies beneath.
class PassiveVideoPlayerView : public QQuickPaintedItem {
  Q_OBJECT
  QML_ELEMENT

  Q_PROPERTY(QVideoSink* videoSink READ videoSink CONSTANT)
  Q_PROPERTY(qreal edgeBleed READ edgeBleed WRITE setEdgeBleed NOTIFY edgeBleedChanged)
  Q_PROPERTY(qreal cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY cornerRadiusChanged)
  /// The frames shown since the view was made; a still picture stops counting.
  Q_PROPERTY(int framesShown READ framesShown NOTIFY framesShownChanged)

 public:
  explicit PassiveVideoPlayerView(QQuickItem* parent = nullptr);

  [[nodiscard]] QVideoSink* videoSink() { return &sink_; }
  [[nodiscard]] qreal edgeBleed() const { return edgeBleed_; }
  void setEdgeBleed(qreal bleed);
  [[nodiscard]] qreal cornerRadius() const { return cornerRadius_; }
  void setCornerRadius(qreal radius);
  [[nodiscard]] int framesShown() const { return framesShown_; }

  // Forgets the last frame, leaving the view empty.
  void clear();

  void paint(QPainter* painter) override;
  // Nothing inside the view is a target of the pointer.
  [[nodiscard]] bool contains(const QPointF& point) const override;

 signals:
  void edgeBleedChanged();
  void cornerRadiusChanged();
  void framesShownChanged();

 private:
  void show(const QVideoFrame& frame);

  QVideoSink sink_;
  QImage frame_;
  qreal edgeBleed_ = 2;
  qreal cornerRadius_ = 16;
  int framesShown_ = 0;
};

}  // namespace zephro
