#include "app/services/feedback/FeedbackText.h"

#include "app/text/UserCharacters.h"

namespace zephro {

int FeedbackText::characterCount(const QString& text) const {
  return static_cast<int>(zephro::characterCount(text));
}

QString FeedbackText::firstCharacters(const QString& text, int count) const {
  return zephro::firstCharacters(text, count);
}

}  // namespace zephro
