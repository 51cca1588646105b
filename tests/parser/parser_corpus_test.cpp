// Another project's multipart bodies (python-multipart's http cases, kept with
// their licence in tests/data/peer-corpora).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/TestRoot.h"

using namespace parsertest;

namespace {

const char kCorpusDir[] = QUENTA_SOURCE_DIR "/tests/data/peer-corpora/python-multipart-http";

struct ExpectedPart {
  std::string name, type, data;
};
struct CorpusCase {
  std::string name, body, boundary;
  bool expectsError = false;
  std::vector<ExpectedPart> parts;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string decodeBase64(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned int bits = 0, count = 0;
  for (char c : text) {
    size_t index = alphabet.find(c);
    if (index == std::string::npos) continue;  // blanks, line ends, padding
    bits = (bits << 6) | static_cast<unsigned int>(index);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// The few shapes of YAML these cases use: "boundary: B", "expected:" with
// "error: N" or a list of parts ("- name: N", "type: T", "data: !!binary |"
// followed by the more indented base64 lines).
CorpusCase readCase(const std::filesystem::path& httpFile) {
  CorpusCase out;
  out.name = httpFile.stem().string();
  out.body = readFile(httpFile);
  std::filesystem::path yamlFile = httpFile;
  std::istringstream yaml(readFile(yamlFile.replace_extension(".yaml")));
  std::string* binary = nullptr;
  for (std::string line; std::getline(yaml, line);) {
    size_t indent = line.find_first_not_of(' ');
    if (indent == std::string::npos) continue;
    if (binary != nullptr && indent > 4) {
      *binary += line;
      continue;
    }
    binary = nullptr;
    std::string content = line.substr(indent);
    if (content.rfind("- ", 0) == 0) {
      out.parts.push_back(ExpectedPart());
      content = content.substr(2);
    }
    size_t colon = content.find(": ");
    std::string key = content.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : content.substr(colon + 2);
    if (key == "boundary") out.boundary = value;
    if (key == "error") out.expectsError = true;
    if (out.parts.empty()) continue;
    if (key == "name") out.parts.back().name = value;
    if (key == "type") out.parts.back().type = value;
    if (key == "data") binary = &out.parts.back().data;
  }
  for (ExpectedPart& part : out.parts) part.data = decodeBase64(part.data);
  return out;
}

// Only plain fields, laid out as this system's pages send them: CRLF line ends,
// the Content-Disposition line first and quoted, no boundary text in a value.
bool holdsOnlyPlainFieldsAsSent(const CorpusCase& c) {
  if (c.expectsError || c.parts.empty()) return false;
  for (size_t k = 0; k < c.body.size(); ++k) {
    if (c.body[k] == '\n' && (k == 0 || c.body[k - 1] != '\r')) return false;
  }
  for (const ExpectedPart& part : c.parts) {
    if (part.type != "field") return false;
    std::string header = "--" + c.boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"\r\n";
    if (c.body.find(header) == std::string::npos) return false;
    if (part.data.find(c.boundary) != std::string::npos) return false;
  }
  return true;
}

// Every body, whole, one byte per read and split at every position, parses to
// the same result without leaking; plain-field cases give their values, and
// cases the peer rejects as malformed give none.
TEST(PeerCorpusTest, EveryBodyParsesAlikeInAnyPiecesAndAsThePeerExpects) {
  ASSERT_TRUE(std::filesystem::is_directory(kCorpusDir)) << "peer corpus missing: " << kCorpusDir;
  std::vector<CorpusCase> cases;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpusDir)) {
    if (entry.path().extension() == ".http") cases.push_back(readCase(entry.path()));
  }
  ASSERT_EQ(30u, cases.size()) << "the corpus should hold 30 cases";
  for (const CorpusCase& c : cases) ASSERT_FALSE(c.boundary.empty()) << c.name;
  TestRoot root;
  setenv("QUENTA_ROOT", root.path().c_str(), 1);
  DebugCapture quiet(false);
  int plainCases = 0, rejectedCases = 0;
  for (const CorpusCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Every name the case mentions is declared, as a file field where it is a file.
    std::vector<std::string> plainNames;
    std::map<std::string, std::string> expected;
    for (const ExpectedPart& part : c.parts) {
      if (part.type != "file") plainNames.push_back(part.name);
      expected[part.name] = part.data;
    }
    if (c.expectsError) plainNames.push_back("field");
    Fields fields(plainNames, 100000);
    for (const ExpectedPart& part : c.parts) {
      if (part.type == "file") fields.file(part.name, u"\\Temp", 100000);
    }
    parseBody(c.boundary, c.body, fields, 1);  // fills one-time caches (the handle table)
    long before = AllocFailure::liveAllocations();
    { parseBody(c.boundary, c.body, fields, 1); }
    EXPECT_EQ(before, AllocFailure::liveAllocations());
    const DWORD size = static_cast<DWORD>(c.body.size());
    ParseResult whole = parseBody(c.boundary, c.body, fields, 65536, size);
    for (DWORD split = 0; split <= size + 1; ++split) {
      // split size + 1: one byte per read.
      ParseResult pieces = split <= size ? parseBody(c.boundary, c.body, fields, size, split)
                                         : parseBody(c.boundary, c.body, fields, 1);
      ASSERT_EQ(whole.ok, pieces.ok) << "split at " << split;
      ASSERT_EQ(whole.error, pieces.error) << "split at " << split;
      ASSERT_EQ(whole.values, pieces.values) << "split at " << split;
    }
    if (holdsOnlyPlainFieldsAsSent(c)) {
      ++plainCases;
      EXPECT_TRUE(whole.ok);
      EXPECT_EQ(0, whole.error);
      EXPECT_EQ(expected, whole.values);
    }
    if (c.expectsError) {
      ++rejectedCases;
      EXPECT_TRUE(whole.values.empty());
    }
  }
  unsetenv("QUENTA_ROOT");
  // single_field, multiple_fields, single_field_longer,
  // single_field_with_leading_newlines, single_field_with_trailer.
  EXPECT_EQ(5, plainCases);
  EXPECT_EQ(8, rejectedCases);
}

}  // namespace
