#include "app/ui/onboarding/PassiveVideoPlayerView.h"

#include <QPainter>
#include <QPainterPath>
#include <QVideoFrame>

namespace zephro {
namespace {

// The part of an image of imageSize that covers target at the image's aspect: the middle,
// cut at the two edges that do not fit.
QRectF aspectFillSource(const QSizeF& imageSize, const QRectF& target) {
  const QSizeF covering = target.size().scaled(imageSize, Qt::KeepAspectRatio);
  return {QPointF((imageSize.width() - covering.width()) / 2,
                  (imageSize.height() - covering.height()) / 2),
          covering};
}

}  // namespace

PassiveVideoPlayerView::PassiveVideoPlayerView(QQuickItem* parent) : QQuickPaintedItem(parent) {
  setAcceptedMouseButtons(Qt::NoButton);
  setAcceptHoverEvents(false);
  setAntialiasing(true);
  connect(&sink_, &QVideoSink::videoFrameChanged, this, &PassiveVideoPlayerView::show);
}

void PassiveVideoPlayerView::setEdgeBleed(qreal bleed) {
  if (qFuzzyCompare(bleed, edgeBleed_)) return;
  edgeBleed_ = bleed;
  emit edgeBleedChanged();
  update();
}

void PassiveVideoPlayerView::setCornerRadius(qreal radius) {
  if (qFuzzyCompare(radius, cornerRadius_)) return;
  cornerRadius_ = radius;
  emit cornerRadiusChanged();
  update();
}

void PassiveVideoPlayerView::clear() {
  frame_ = QImage();
  update();
}

void PassiveVideoPlayerView::show(const QVideoFrame& frame) {
  if (!frame.isValid()) return;
  frame_ = frame.toImage();
  ++framesShown_;
  emit framesShownChanged();
  update();
}

void PassiveVideoPlayerView::paint(QPainter* painter) {
  if (frame_.isNull()) return;
  QPainterPath clip;
  clip.addRoundedRect(boundingRect(), cornerRadius_, cornerRadius_);
  painter->setRenderHint(QPainter::Antialiasing);
  painter->setRenderHint(QPainter::SmoothPixmapTransform);
  painter->setClipPath(clip);
  const QRectF target = boundingRect().adjusted(-edgeBleed_, -edgeBleed_, edgeBleed_, edgeBleed_);
  painter->drawImage(target, frame_, aspectFillSource(frame_.size(), target));
}

bool PassiveVideoPlayerView::contains(const QPointF& /*point*/) const {
  return false;
}

}  // namespace zephro
