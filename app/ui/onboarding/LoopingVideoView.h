#pragma once

#include <QtQml/qqmlregistration.h>
#include <QMediaPlayer>
#include <QQuickItem>
#include <memory>

#include "app/ui/onboarding/PassiveVideoPlayerView.h"

namespace zephro {

// A silent video among the application's resources, looping without a seam inside a
// PassiveVideoPlayerView that fills this item. While shouldPlay is false the video stands
// still at its first frame. Without the resource the view stays empty and makes no player;
// the layout is the same either way. The player stops and goes with the view.
class LoopingVideoView : public QQuickItem {
  Q_OBJECT
  QML_ELEMENT

  Q_PROPERTY(QString resourceName READ resourceName WRITE setResourceName NOTIFY sourceChanged)
  Q_PROPERTY(QString fileExtension READ fileExtension WRITE setFileExtension NOTIFY sourceChanged)
  Q_PROPERTY(bool shouldPlay READ shouldPlay WRITE setShouldPlay NOTIFY shouldPlayChanged)
  /// The player of the found video; null while there is none.
  Q_PROPERTY(QMediaPlayer* player READ player NOTIFY playerChanged)
  Q_PROPERTY(PassiveVideoPlayerView* surface READ surface CONSTANT)

 public:
  explicit LoopingVideoView(QQuickItem* parent = nullptr);
  ~LoopingVideoView() override;

  [[nodiscard]] const QString& resourceName() const { return resourceName_; }
  void setResourceName(const QString& name);
  [[nodiscard]] const QString& fileExtension() const { return fileExtension_; }
  void setFileExtension(const QString& extension);
  [[nodiscard]] bool shouldPlay() const { return shouldPlay_; }
  void setShouldPlay(bool play);
  [[nodiscard]] QMediaPlayer* player() const { return player_.get(); }
  [[nodiscard]] PassiveVideoPlayerView* surface() const { return surface_.get(); }

 signals:
  void sourceChanged();
  void shouldPlayChanged();
  void playerChanged();

 protected:
  void componentComplete() override;
  void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

 private:
  void makePlayer();
  void releasePlayer();
  void stopPlayer();
  void applyShouldPlay();

  QString resourceName_;
  QString fileExtension_;
  bool shouldPlay_ = true;
  std::unique_ptr<PassiveVideoPlayerView> surface_;
  std::unique_ptr<QMediaPlayer> player_;
};

}  // namespace zephro
