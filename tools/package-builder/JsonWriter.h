// A small JSON emitter: objects, arrays, strings, numbers and truth values,
// written with two-space indentation. The caller keeps the nesting right.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/common/JsonString.h"

namespace packagebuilder {

class TJsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // Names the next value inside an object.
  void Key(const std::string& key);
  void String(const std::string& utf8);
  void Number(uint64_t value);
  void Bool(bool value);
  void Null();

  // The text written so far.
  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();
  void Close(char bracket);
  void NewLine();

  std::string out_;
  std::vector<bool> empty_;  // per open object or array: nothing in it yet
  bool afterKey_ = false;
};

using tooltext::JsonQuoted;

}  // namespace packagebuilder
