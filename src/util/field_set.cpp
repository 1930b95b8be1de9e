#include "util/field_set.h"

#include <algorithm>

#include "util/charset.h"
#include "util/gbk_text.h"
#include "util/text_cut.h"

namespace newsbar {

RequestFieldSet::~RequestFieldSet() = default;

std::unique_ptr<RequestFieldSet> RequestFieldSet::Copy() const {
  return std::make_unique<RequestFieldSet>(*this);
}

void RequestFieldSet::AddField(std::string_view name, std::string_view value, bool toUtf8) {
  if (toUtf8) {
    names_.push_back(GbkToUtf8(name));
    values_.push_back(GbkToUtf8(value));
  } else {
    names_.emplace_back(name);
    values_.emplace_back(value);
  }
}

void RequestFieldSet::ParseFields(std::string_view text, bool toUtf8) {
  if (text.empty()) return;
  std::vector<Text> items = gbk::Split(text, "&");
  if (items.back().empty()) items.pop_back();  // "a=1&" has one item
  for (const Text& item : items) {
    // The value is everything after the first "=", so "sig=YWI=" keeps its padding; an item
    // without "=" is a name with an empty value.
    std::size_t at = gbk::Find(item, "=");
    if (at == gbk::npos) {
      AddField(item, "", toUtf8);
    } else {
      AddField(TextLeftOf(item, "="), std::string_view(item).substr(at + 1), toUtf8);
    }
  }
}

Text RequestFieldSet::GetField(std::string_view name) const {
  auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end()) return {};
  return values_[static_cast<std::size_t>(it - names_.begin())];
}

void RequestFieldSet::SetField(std::string_view name, std::string_view value) {
  auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end()) {
    AddField(name, value, false);
    return;
  }
  values_[static_cast<std::size_t>(it - names_.begin())] = Text(value);
}

Text RequestFieldSet::ToQueryText(bool urlEncode) const {
  Text out;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    out += urlEncode ? UrlEncode(names_[i]) : names_[i];
    out += '=';
    out += urlEncode ? UrlEncode(values_[i]) : values_[i];
    out += '&';
  }
  if (!out.empty()) out.pop_back();
  return out;
}

Text RequestFieldSet::ToHeaderText(bool urlEncodeValues) const {
  Text out;
  for (std::size_t i = 0; i < names_.size(); ++i) {
    out += names_[i];
    out += ": ";
    out += urlEncodeValues ? UrlEncode(values_[i]) : values_[i];
    out += "\r\n";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  return out;
}

std::vector<Text> RequestFieldSet::FieldNames(std::vector<Text>* out) const {
  if (out) *out = names_;
  return names_;
}

std::vector<Text> RequestFieldSet::FieldValues(std::vector<Text>* out) const {
  if (out) *out = values_;
  return values_;
}

void RequestFieldSet::ClearFields() {
  names_.clear();
  values_.clear();
}

void RequestFieldSet::RemoveField(std::string_view name) {
  auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end()) return;
  auto index = it - names_.begin();
  names_.erase(it);
  values_.erase(values_.begin() + index);
}

Text RequestFieldSet::ToJsonText() const {
  Text out = "{";
  for (std::size_t i = 0; i < names_.size(); ++i) {
    out += '"';
    out += names_[i];
    out += "\":\"";
    out += EscapeJsonValue(values_[i]);
    out += "\",";
  }
  TrimAffix(out, ",");
  out += '}';
  return out;
}

Text RequestFieldSet::EscapeJsonValue(std::string_view text) const {
  return gbk::ReplaceAll(text, "\"", "\\\"");
}

Text RequestFieldSet::TrimAffix(Text& text, std::string_view affix) const {
  if (affix.empty() || text.size() < affix.size()) return text;
  // Only whole characters count: the affix must not start on a trail byte.
  std::size_t tail = text.size() - affix.size();
  if (text.compare(tail, affix.size(), affix) == 0 && gbk::IsBoundary(text, tail)) {
    text.erase(tail);
  }
  if (text.starts_with(affix) && gbk::IsBoundary(text, affix.size())) {
    text.erase(0, affix.size());
  }
  return text;
}

Text GbkToUtf8(std::string_view text) {
  // The text ends at its first zero byte, as a zero-terminated string would.
  return GbkToUtf8Text(text.substr(0, text.find('\0')));
}

Text UrlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text out;
  out.reserve(text.size() * 3);
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    bool keep = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                std::string_view("-._'()*").find(c) != std::string_view::npos;
    if (keep) {
      out += c;
    } else if (b == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return out;
}

}  // namespace newsbar
