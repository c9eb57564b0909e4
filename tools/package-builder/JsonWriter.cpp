#include "tools/package-builder/JsonWriter.h"

namespace packagebuilder {

void TJsonWriter::NewLine() {
  out_ += '\n';
  out_.append(2 * empty_.size(), ' ');
}

void TJsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!empty_.empty()) {
    if (!empty_.back()) out_ += ',';
    empty_.back() = false;
    NewLine();
  }
}

void TJsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  empty_.push_back(true);
}

void TJsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  empty_.push_back(true);
}

void TJsonWriter::Close(char bracket) {
  const bool wasEmpty = empty_.back();
  empty_.pop_back();
  if (!wasEmpty) NewLine();
  out_ += bracket;
}

void TJsonWriter::EndObject() { Close('}'); }
void TJsonWriter::EndArray() { Close(']'); }

void TJsonWriter::Key(const std::string& key) {
  BeforeValue();
  out_ += JsonQuoted(key);
  out_ += ": ";
  afterKey_ = true;
}

void TJsonWriter::String(const std::string& utf8) {
  BeforeValue();
  out_ += JsonQuoted(utf8);
}

void TJsonWriter::Number(uint64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void TJsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void TJsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

}  // namespace packagebuilder
