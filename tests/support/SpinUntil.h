#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <thread>

namespace zephro::testing {

// The guard is far beyond any real wait: passing it fails the test, it is no timing assumption.
inline bool spinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds guard = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace zephro::testing
