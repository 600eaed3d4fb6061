#pragma once
// Writes a JSON document straight into a text buffer, laid out exactly as
// nlohmann::json's dump(2) lays it out (two-space indent, "key": value,
// empty containers as {} and []). Listings of hundreds of thousands of
// entries are written this way instead of being built as a json tree
// first, which costs more than the search itself. Object keys are written in
// the order given: callers give them in the sorted order a json object uses.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace dravolin::cli {

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void beginObject() { open('{'); }
  void endObject() { close('}'); }
  void beginArray() { open('['); }
  void endArray() { close(']'); }

  // The key of the next member of the current object.
  void key(std::string_view name) {
    member();
    appendString(name);
    out_ += ": ";
    keyed_ = true;
  }

  void value(std::string_view text) {
    member();
    appendString(text);
  }
  void value(const char* text) { value(std::string_view(text)); }
  void value(bool flag) {
    member();
    out_ += flag ? "true" : "false";
  }
  void nullValue() {
    member();
    out_ += "null";
  }
  void value(std::uint64_t number) {
    member();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out_.append(digits, end);
  }

 private:
  void open(char bracket) {
    member();
    out_ += bracket;
    empty_.push_back(true);
  }

  void close(char bracket) {
    const bool wasEmpty = empty_.back();
    empty_.pop_back();
    if (!wasEmpty) {
      out_ += '\n';
      out_.append(2 * empty_.size(), ' ');
    }
    out_ += bracket;
  }

  // Starts a value or a key: after a key the value follows on the same
  // line; inside a container each member starts a new indented line.
  void member() {
    if (keyed_) {
      keyed_ = false;
      return;
    }
    if (empty_.empty()) return;
    out_ += empty_.back() ? "\n" : ",\n";
    empty_.back() = false;
    out_.append(2 * empty_.size(), ' ');
  }

  // Plain ASCII is escaped here as the library escapes it; any other text
  // goes through the library itself, so that its UTF-8 rules (and its error
  // on invalid UTF-8) stay exactly the same.
  void appendString(std::string_view text) {
    bool plain = true;
    for (char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte >= 0x80) {
        out_ += nlohmann::json(std::string(text)).dump();
        return;
      }
      if (byte < 0x20 || c == '"' || c == '\\') plain = false;
    }
    out_ += '"';
    if (plain) {
      out_ += text;
    } else {
      for (char c : text) appendEscaped(c);
    }
    out_ += '"';
  }

  void appendEscaped(char c) {
    switch (c) {
      case '"': out_ += "\\\""; break;
      case '\\': out_ += "\\\\"; break;
      case '\b': out_ += "\\b"; break;
      case '\f': out_ += "\\f"; break;
      case '\n': out_ += "\\n"; break;
      case '\r': out_ += "\\r"; break;
      case '\t': out_ += "\\t"; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out_ += "\\u00";
          out_ += kHex[byte >> 4];
          out_ += kHex[byte & 0xF];
        } else {
          out_ += c;
        }
      }
    }
  }

  std::string& out_;
  std::vector<bool> empty_;  // per open container: no member written yet
  bool keyed_ = false;
};

}  // namespace dravolin::cli
