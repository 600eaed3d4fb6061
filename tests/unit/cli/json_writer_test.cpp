// The streamed JSON must read byte for byte as the json tree's dump(2) of
// the same document: scripts compare and parse the scan listing.
#include "cli/json_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravolin::cli {
namespace {

using nlohmann::json;

// Writes a json value through the writer, members in the tree's key order.
void writeValue(JsonWriter& writer, const json& value) {
  if (value.is_object()) {
    writer.beginObject();
    for (auto it = value.begin(); it != value.end(); ++it) {
      writer.key(it.key());
      writeValue(writer, it.value());
    }
    writer.endObject();
  } else if (value.is_array()) {
    writer.beginArray();
    for (const auto& element : value) writeValue(writer, element);
    writer.endArray();
  } else if (value.is_string()) {
    writer.value(value.get<std::string>());
  } else if (value.is_boolean()) {
    writer.value(value.get<bool>());
  } else if (value.is_null()) {
    writer.nullValue();
  } else {
    writer.value(value.get<std::uint64_t>());
  }
}

std::string streamed(const json& document) {
  std::string out;
  JsonWriter writer(out);
  writeValue(writer, document);
  return out;
}

TEST(JsonWriter, LaysOutDocumentsAsTheTreeDumpDoes) {
  const std::vector<json> documents = {
      json::object(),
      json::array(),
      json{{"entries", json::array()}, {"files", 0u}},
      json{{"a", json::object()}, {"b", json::array({json::object(), json::array()})}},
      json{{"directories", 2u},
           {"entries", json::array({json{{"deleted", false}, {"id", 18446744073709551615ull}, {"name", "a.txt"}},
                                    json{{"deleted", true}, {"id", 7u}, {"name", ""}}})},
           {"summary", "0.001 MB size in 2 Directories 1 Files"}},
      json::array({json::array({json::array({1u, 2u})}), true, "x"}),
      json{{"aborted", true}, {"covered", nullptr}, {"unreadable", json::array({json::array({100u, 108u})})}},
  };
  for (const json& document : documents) EXPECT_EQ(streamed(document), document.dump(2)) << document.dump();
}

TEST(JsonWriter, EscapesNamesAsTheLibraryDoes) {
  const std::vector<std::string> names = {
      "plain name.txt",
      "quote \" and back\\slash",
      std::string("controls \b\f\n\r\t \x01\x1f\x7f end"),
      std::string("nul \0 inside", 12),
      "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",  // UTF-8 passes through unescaped
      "mixed \xC3\xA9 and \"quote\" and \x02",
      "/",
  };
  for (const std::string& name : names) {
    const json document{{"name", name}, {"path", "/" + name}};
    EXPECT_EQ(streamed(document), document.dump(2)) << name;
  }
}

TEST(JsonWriter, RejectsInvalidUtf8AsTheLibraryDoes) {
  std::string out;
  JsonWriter writer(out);
  writer.beginObject();
  writer.key("name");
  EXPECT_THROW(writer.value(std::string_view("bad \xC3(")), json::type_error);
  EXPECT_THROW((void)json("bad \xC3(").dump(), json::type_error);
}

}  // namespace
}  // namespace dravolin::cli
