#include "app/ui/onboarding/LoopingVideoView.h"

#include "app/ui/onboarding/OnboardingPages.h"

namespace zephro {

LoopingVideoView::LoopingVideoView(QQuickItem* parent)
    : QQuickItem(parent), surface_(std::make_unique<PassiveVideoPlayerView>(this)) {}

LoopingVideoView::~LoopingVideoView() {
  stopPlayer();
}

void LoopingVideoView::setResourceName(const QString& name) {
  if (name == resourceName_) return;
  resourceName_ = name;
  emit sourceChanged();
  if (isComponentComplete()) makePlayer();
}

void LoopingVideoView::setFileExtension(const QString& extension) {
  if (extension == fileExtension_) return;
  fileExtension_ = extension;
  emit sourceChanged();
  if (isComponentComplete()) makePlayer();
}

void LoopingVideoView::setShouldPlay(bool play) {
  if (play == shouldPlay_) return;
  shouldPlay_ = play;
  emit shouldPlayChanged();
  applyShouldPlay();
}

void LoopingVideoView::componentComplete() {
  QQuickItem::componentComplete();
  makePlayer();
}

void LoopingVideoView::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
  QQuickItem::geometryChange(newGeometry, oldGeometry);
  surface_->setSize(newGeometry.size());
}

void LoopingVideoView::makePlayer() {
  releasePlayer();
  const QUrl source = OnboardingPages::videoUrl(resourceName_, fileExtension_);
  if (source.isEmpty()) return;
  // No audio output: the player is silent.
  player_ = std::make_unique<QMediaPlayer>();
  player_->setVideoSink(surface_->videoSink());
  player_->setLoops(QMediaPlayer::Infinite);
  player_->setSource(source);
  emit playerChanged();
  applyShouldPlay();
}

void LoopingVideoView::releasePlayer() {
  if (!player_) return;
  stopPlayer();
  player_.reset();
  surface_->clear();
  emit playerChanged();
}

void LoopingVideoView::stopPlayer() {
  if (!player_) return;
  player_->pause();
  player_->setLoops(1);
  player_->setVideoSink(nullptr);
}

// Playing or, with motion reduced, paused at the first frame.
void LoopingVideoView::applyShouldPlay() {
  if (!player_) return;
  if (shouldPlay_) {
    player_->play();
  } else {
    player_->pause();
    player_->setPosition(0);
  }
}

}  // namespace zephro
