// Another project's multipart test bodies (python-multipart's http cases): every
// body, whole, one byte per read, and split at every position, must parse to
// the same defined result without leaking. Where a case holds only plain
// fields laid out as this system's pages send them (CRLF line ends, the
// Content-Disposition line first and quoted, no boundary text inside a value),
// declaring those names must give the case's values.
//
// The corpus lies beside the repository, in ../shared/peer-corpora; the test
// is skipped, and says so, when it is not there.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"

using namespace parsertest;

namespace {

const char kCorpusDir[] = QUENTA_SOURCE_DIR "/../shared/peer-corpora/python-multipart-http";

struct ExpectedPart {
  std::string name;
  std::string type;
  std::string data;
};

struct CorpusCase {
  std::string name;
  std::string body;
  std::string boundary;
  bool expectsError = false;
  std::vector<ExpectedPart> parts;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string decodeBase64(const std::string& text) {
  static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned int bits = 0;
  int count = 0;
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

std::string unquote(std::string value) {
  if (value.size() >= 2 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

size_t indentOf(const std::string& line) { return line.find_first_not_of(' '); }

// The few shapes of YAML these cases use: "boundary:", "expected:" with a
// list of parts (name, type, data as "!!binary |" block) or with "error:".
bool readCase(const std::filesystem::path& httpFile, CorpusCase* out) {
  out->name = httpFile.stem().string();
  out->body = readFile(httpFile);
  std::filesystem::path yamlFile = httpFile;
  yamlFile.replace_extension(".yaml");
  std::istringstream yaml(readFile(yamlFile));
  std::vector<std::string> lines;
  for (std::string line; std::getline(yaml, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  for (size_t k = 0; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    size_t indent = indentOf(line);
    if (indent == std::string::npos) continue;
    std::string content = line.substr(indent);
    if (content.rfind("- ", 0) == 0) {
      out->parts.push_back(ExpectedPart());
      content = content.substr(2);
      indent += 2;
    }
    size_t colon = content.find(':');
    if (colon == std::string::npos) continue;
    std::string key = content.substr(0, colon);
    std::string value = colon + 1 < content.size() ? content.substr(content.find_first_not_of(' ', colon + 1)) : "";
    if (key == "boundary") {
      out->boundary = unquote(value);
    } else if (key == "error") {
      out->expectsError = true;
    } else if (!out->parts.empty() && key == "name") {
      out->parts.back().name = unquote(value);
    } else if (!out->parts.empty() && key == "type") {
      out->parts.back().type = value;
    } else if (!out->parts.empty() && key == "data" && value.rfind("!!binary", 0) == 0) {
      std::string encoded;
      while (k + 1 < lines.size() && (lines[k + 1].empty() || indentOf(lines[k + 1]) > indent)) {
        encoded += lines[++k];
      }
      out->parts.back().data = decodeBase64(encoded);
    }
  }
  return !out->boundary.empty();
}

// Plain fields, sent the way this system's parser reads them.
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

std::vector<CorpusCase> loadCorpus() {
  std::vector<CorpusCase> cases;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpusDir, error)) {
    if (entry.path().extension() != ".http") continue;
    CorpusCase c;
    if (readCase(entry.path(), &c)) cases.push_back(c);
  }
  std::sort(cases.begin(), cases.end(), [](const CorpusCase& a, const CorpusCase& b) { return a.name < b.name; });
  return cases;
}

class PeerCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kCorpusDir)) {
      GTEST_SKIP() << "peer corpus not found at " << kCorpusDir << "; the corpus tests are skipped";
    }
    cases = loadCorpus();
    ASSERT_EQ(30u, cases.size()) << "the corpus should hold 30 cases";
    char pattern[] = "/tmp/quenta-corpus-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root = pattern;
    std::filesystem::create_directories(root + "/Temp");
    setenv("QUENTA_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    if (!root.empty()) std::filesystem::remove_all(root, ignored);
  }

  std::vector<CorpusCase> cases;
  std::string root;
};

TEST_F(PeerCorpusTest, EveryBodyParsesAlikeInAnyPiecesWithoutLeaking) {
  DebugCapture quiet(false);
  for (const CorpusCase& c : cases) {
    // Every name the case mentions is declared, as a file field where it is a file.
    std::vector<std::string> plainNames;
    for (const ExpectedPart& part : c.parts) {
      if (part.type != "file") plainNames.push_back(part.name);
    }
    Fields fields(plainNames, 100000);
    for (const ExpectedPart& part : c.parts) {
      if (part.type == "file") fields.file(part.name, u"\\Temp", 100000);
    }
    parseBody(c.boundary, c.body, fields, 1);  // fills one-time caches (the handle table)
    long before = AllocFailure::liveAllocations();
    { parseBody(c.boundary, c.body, fields, 1); }
    EXPECT_EQ(before, AllocFailure::liveAllocations()) << c.name;
    ParseResult whole = parseBody(c.boundary, c.body, fields, 65536, static_cast<DWORD>(c.body.size()));
    const DWORD size = static_cast<DWORD>(c.body.size());
    ParseResult bytewise = parseBody(c.boundary, c.body, fields, 1);
    EXPECT_EQ(whole.ok, bytewise.ok) << c.name;
    EXPECT_EQ(whole.error, bytewise.error) << c.name;
    EXPECT_EQ(whole.values, bytewise.values) << c.name;
    for (DWORD split = 0; split <= size; ++split) {
      ParseResult pieces = parseBody(c.boundary, c.body, fields, size, split);
      ASSERT_EQ(whole.ok, pieces.ok) << c.name << " split at " << split;
      ASSERT_EQ(whole.error, pieces.error) << c.name << " split at " << split;
      ASSERT_EQ(whole.values, pieces.values) << c.name << " split at " << split;
    }
  }
}

TEST_F(PeerCorpusTest, PlainFieldCasesGiveTheirValues) {
  DebugCapture quiet(false);
  int checked = 0;
  for (const CorpusCase& c : cases) {
    if (!holdsOnlyPlainFieldsAsSent(c)) continue;
    ++checked;
    std::vector<std::string> names;
    std::map<std::string, std::string> expected;
    for (const ExpectedPart& part : c.parts) {
      names.push_back(part.name);
      expected[part.name] = part.data;
    }
    Fields fields(names, 100000);
    for (DWORD readSize : {1u, 2u, 3u, 65536u}) {
      ParseResult result = parseBody(c.boundary, c.body, fields, readSize);
      EXPECT_TRUE(result.ok) << c.name;
      EXPECT_EQ(0, result.error) << c.name;
      EXPECT_EQ(expected, result.values) << c.name << " read size " << readSize;
    }
  }
  // single_field, multiple_fields, single_field_longer,
  // single_field_with_leading_newlines, single_field_with_trailer.
  EXPECT_EQ(5, checked);
}

// Cases the peer rejects as malformed give no value at all here.
TEST_F(PeerCorpusTest, CasesThePeerRejectsGiveNoValues) {
  DebugCapture quiet(false);
  int checked = 0;
  for (const CorpusCase& c : cases) {
    if (!c.expectsError) continue;
    ++checked;
    Fields fields({"field"}, 100000);
    for (DWORD readSize : {1u, 65536u}) {
      ParseResult result = parseBody(c.boundary, c.body, fields, readSize);
      EXPECT_TRUE(result.values.empty()) << c.name;
    }
  }
  EXPECT_EQ(8, checked);
}

}  // namespace
