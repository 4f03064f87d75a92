#pragma once

#include <QQuickWindow>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/settings/AppearanceMode.h"

namespace zephro::screenshots {

// Draws one scene (by its index in the list) in one appearance into the file at path;
// false when it could not.
using DrawScene = std::function<bool(qsizetype scene, Appearance appearance, const QString& path)>;

// The main function of a screenshot program ("PROGRAM OUTPUT_DIR"): stable rendering, a
// settings folder of its own and English texts, then every scene light and dark into
// OUTPUT_DIR/<prefix>-<scene>-<light|dark>.png. 0 when every picture was written.
int runScreenshots(int argc, char** argv, const QString& prefix, const QStringList& scenes,
                   const DrawScene& draw);

// Turns the event loop for the given time, so layouts and animations settle.
void settle(int milliseconds);

// Lets the window settle for the given time, then saves what it shows to path; false when
// nothing could be grabbed or written.
bool saveSettled(QQuickWindow& window, int milliseconds, const QString& path);

// The names of scenes that each carry a `name`, in their order.
template <typename Scenes>
QStringList sceneNames(const Scenes& scenes) {
  QStringList names;
  for (const auto& scene : scenes) names.append(QString::fromLatin1(scene.name));
  return names;
}

}  // namespace zephro::screenshots
