#include "json/json_grammar.h"

#include <vector>

namespace newsbar {

namespace {

class Checker {
 public:
  explicit Checker(std::u16string_view text) : text_(text) {}

  JsonGrammarResult Run() {
    // What the walk expects next, and the containers it is inside of.
    enum class Next { Value, ValueOrClose, MemberName, NameOrClose, Colon, CommaOrClose };
    std::vector<char16_t> open;
    Next next = Next::Value;
    while (true) {
      SkipSpace();
      if (next == Next::CommaOrClose && open.empty()) break;  // the one value is complete
      if (pos_ >= text_.size()) return Fault();
      const char16_t ch = text_[pos_];
      switch (next) {
        case Next::ValueOrClose:
        case Next::Value:
          if (next == Next::ValueOrClose && ch == u']') {
            ++pos_;
            open.pop_back();
            next = Next::CommaOrClose;
          } else if (ch == u'{') {
            ++pos_;
            open.push_back(u'}');
            next = Next::NameOrClose;
          } else if (ch == u'[') {
            ++pos_;
            open.push_back(u']');
            next = Next::ValueOrClose;
          } else {
            if (!Scalar()) return Fault();
            next = Next::CommaOrClose;
          }
          break;
        case Next::NameOrClose:
        case Next::MemberName:
          if (next == Next::NameOrClose && ch == u'}') {
            ++pos_;
            open.pop_back();
            next = Next::CommaOrClose;
          } else {
            if (ch != u'"' || !String()) return Fault();
            next = Next::Colon;
          }
          break;
        case Next::Colon:
          if (ch != u':') return Fault();
          ++pos_;
          next = Next::Value;
          break;
        case Next::CommaOrClose:
          if (ch == u',') {
            ++pos_;
            next = open.back() == u'}' ? Next::MemberName : Next::Value;
          } else if (ch == open.back()) {
            ++pos_;
            open.pop_back();
          } else {
            return Fault();
          }
          break;
      }
    }
    if (pos_ != text_.size()) return Fault();
    JsonGrammarResult result;
    result.valid = true;
    return result;
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == u' ' || text_[pos_] == u'\t' ||
                                   text_[pos_] == u'\n' || text_[pos_] == u'\r')) {
      ++pos_;
    }
  }

  bool Literal(std::u16string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool Scalar() {
    switch (text_[pos_]) {
      case u'"':
        return String();
      case u't':
        return Literal(u"true");
      case u'f':
        return Literal(u"false");
      case u'n':
        return Literal(u"null");
      default:
        return Number();
    }
  }

  static bool IsDigit(char16_t ch) { return ch >= u'0' && ch <= u'9'; }
  static bool IsHex(char16_t ch) {
    return IsDigit(ch) || (ch >= u'a' && ch <= u'f') || (ch >= u'A' && ch <= u'F');
  }

  bool Digits() {
    if (pos_ >= text_.size() || !IsDigit(text_[pos_])) return false;
    while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
    return true;
  }

  bool Number() {
    if (text_[pos_] == u'-') ++pos_;
    if (pos_ >= text_.size()) return false;
    if (text_[pos_] == u'0') {
      ++pos_;
    } else if (!Digits()) {
      return false;
    }
    if (pos_ < text_.size() && text_[pos_] == u'.') {
      ++pos_;
      if (!Digits()) return false;
    }
    if (pos_ < text_.size() && (text_[pos_] == u'e' || text_[pos_] == u'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == u'+' || text_[pos_] == u'-')) ++pos_;
      if (!Digits()) return false;
    }
    return true;
  }

  // At the opening quote; leaves pos_ after the closing one.
  bool String() {
    ++pos_;
    while (pos_ < text_.size()) {
      const char16_t ch = text_[pos_];
      if (ch == u'"') {
        ++pos_;
        return true;
      }
      if (ch < 0x20) return false;
      if (ch != u'\\') {
        ++pos_;
        continue;
      }
      ++pos_;
      if (pos_ >= text_.size()) return false;
      const char16_t escape = text_[pos_];
      if (escape == u'u') {
        for (int i = 1; i <= 4; ++i) {
          if (pos_ + i >= text_.size() || !IsHex(text_[pos_ + i])) {
            pos_ += i;
            return false;
          }
        }
        pos_ += 5;
      } else if (std::u16string_view(u"\"\\/bfnrt").find(escape) != std::u16string_view::npos) {
        ++pos_;
      } else {
        return false;
      }
    }
    return false;
  }

  JsonGrammarResult Fault() const {
    JsonGrammarResult result;
    result.offset = pos_ < text_.size() ? pos_ : text_.size();
    result.line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < result.offset; ++i) {
      if (text_[i] == u'\n') {
        ++result.line;
        lineStart = i + 1;
      }
    }
    result.column = static_cast<int>(result.offset - lineStart) + 1;
    return result;
  }

  std::u16string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

JsonGrammarResult CheckJsonText(std::u16string_view text) {
  return Checker(text).Run();
}

}  // namespace newsbar
