// An ordered name/value list with query, header and JSON forms.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "util/types.h"

namespace newsbar {

class RequestFieldSet {
 public:
  RequestFieldSet() = default;
  RequestFieldSet(const RequestFieldSet&) = default;
  RequestFieldSet& operator=(const RequestFieldSet&) = default;
  virtual ~RequestFieldSet();
  // Deep copy: an independent set with equal contents.
  virtual std::unique_ptr<RequestFieldSet> Copy() const;

  virtual void AddField(std::string_view name, std::string_view value, bool toUtf8 = false);
  // Appends one pair per "&"-separated part: the name before the first "=", the value
  // after it (a part without "=" is a name with an empty value). Nothing is decoded.
  virtual void ParseFields(std::string_view text, bool toUtf8 = false);
  virtual Text GetField(std::string_view name) const;
  virtual void SetField(std::string_view name, std::string_view value);
  virtual Text ToQueryText(bool urlEncode = false) const;
  virtual Text ToHeaderText(bool urlEncodeValues = false) const;
  // Copies of the names (values); the caller's list, when given, is replaced by the copy.
  virtual std::vector<Text> FieldNames(std::vector<Text>* out = nullptr) const;
  virtual std::vector<Text> FieldValues(std::vector<Text>* out = nullptr) const;
  virtual void ClearFields();
  virtual void RemoveField(std::string_view name);
  virtual Text ToJsonText() const;
  virtual Text EscapeJsonValue(std::string_view text) const;
  // Removes affix once from the end, then once from the start; writes back into text.
  virtual Text TrimAffix(Text& text, std::string_view affix) const;

 private:
  std::vector<Text> names_;
  std::vector<Text> values_;
};

// GBK text -> UTF-8 bytes (up to the first zero).
Text GbkToUtf8(std::string_view text);

// Byte-wise form encoding: A-Z a-z 0-9 - . _ ' ( ) * kept, space -> '+', else %XX.
Text UrlEncode(std::string_view text);

}  // namespace newsbar
