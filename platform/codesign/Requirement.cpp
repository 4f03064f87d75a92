#include "platform/codesign/Requirement.h"

#include <cctype>
#include <optional>

namespace zephro::codesign {
namespace {

constexpr std::size_t kMaxRequirementLength = 4096;

struct Token {
  enum class Kind { word, string, punctuation };
  Kind kind;
  std::string text;
};

bool isWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
}

std::optional<std::vector<Token>> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
    } else if (c == '[' || c == ']' || c == '=') {
      tokens.push_back({Token::Kind::punctuation, std::string(1, c)});
      ++i;
    } else if (c == '"') {
      std::string value;
      for (++i;; ++i) {
        if (i >= text.size()) return std::nullopt;
        if (text[i] == '"') break;
        if (static_cast<unsigned char>(text[i]) < 0x20) return std::nullopt;
        if (text[i] == '\\') {
          if (++i >= text.size() || (text[i] != '"' && text[i] != '\\')) return std::nullopt;
        }
        value.push_back(text[i]);
      }
      ++i;
      tokens.push_back({Token::Kind::string, std::move(value)});
    } else if (isWordCharacter(c)) {
      const std::size_t start = i;
      while (i < text.size() && isWordCharacter(text[i])) ++i;
      tokens.push_back({Token::Kind::word, std::string(text.substr(start, i - start))});
    } else {
      return std::nullopt;
    }
  }
  return tokens;
}

class Parser {
 public:
  explicit Parser(const std::vector<Token>& tokens) : tokens_(tokens) {}

  std::optional<std::vector<Requirement::Clause>> requirement() {
    std::vector<Requirement::Clause> clauses;
    do {
      auto next = clause();
      if (!next) return std::nullopt;
      clauses.push_back(std::move(*next));
    } while (accept(Token::Kind::word, "and"));
    if (position_ != tokens_.size()) return std::nullopt;
    return clauses;
  }

 private:
  using Kind = Requirement::Clause::Kind;

  std::optional<Requirement::Clause> clause() {
    if (accept(Token::Kind::word, "anchor")) {
      if (accept(Token::Kind::word, "apple") && accept(Token::Kind::word, "generic")) {
        return Requirement::Clause{Kind::anchorGeneric, {}};
      }
      return std::nullopt;
    }
    if (accept(Token::Kind::word, "identifier")) {
      if (auto value = string()) return Requirement::Clause{Kind::identifier, std::move(*value)};
      return std::nullopt;
    }
    if (accept(Token::Kind::word, "certificate")) {
      if (accept(Token::Kind::word, "leaf") && accept(Token::Kind::punctuation, "[") &&
          accept(Token::Kind::word, "subject.OU") && accept(Token::Kind::punctuation, "]") &&
          accept(Token::Kind::punctuation, "=")) {
        if (auto value = string()) {
          return Requirement::Clause{Kind::leafOrganizationalUnit, std::move(*value)};
        }
      }
      return std::nullopt;
    }
    return std::nullopt;
  }

  bool accept(Token::Kind kind, std::string_view text) {
    if (position_ < tokens_.size() && tokens_[position_].kind == kind &&
        tokens_[position_].text == text) {
      ++position_;
      return true;
    }
    return false;
  }

  std::optional<std::string> string() {
    if (position_ < tokens_.size() && tokens_[position_].kind == Token::Kind::string) {
      return tokens_[position_++].text;
    }
    return std::nullopt;
  }

  const std::vector<Token>& tokens_;
  std::size_t position_ = 0;
};

std::string quoted(const std::string& value) {
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

}  // namespace

std::string Requirement::text() const {
  std::string out;
  for (const Clause& clause : clauses_) {
    if (!out.empty()) out += " and ";
    switch (clause.kind) {
      case Clause::Kind::anchorGeneric:
        out += "anchor apple generic";
        break;
      case Clause::Kind::identifier:
        out += "identifier " + quoted(clause.value);
        break;
      case Clause::Kind::leafOrganizationalUnit:
        out += "certificate leaf[subject.OU] = " + quoted(clause.value);
        break;
    }
  }
  return out;
}

OSStatus requirementCreateWithString(std::string_view text,
                                     std::unique_ptr<Requirement>& requirement) {
  requirement.reset();
  if (text.size() > kMaxRequirementLength) return errSecCSReqInvalid;
  const auto tokens = tokenize(text);
  if (!tokens) return errSecCSReqInvalid;
  auto clauses = Parser(*tokens).requirement();
  if (!clauses) return errSecCSReqInvalid;
  requirement = std::make_unique<Requirement>(std::move(*clauses));
  return errSecSuccess;
}

}  // namespace zephro::codesign
