// The multipart parser against good, split, truncated and malformed bodies.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/StatusName.h"
#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"

using namespace parsertest;

namespace {

const std::string kChromiumBoundary = "----WebKitFormBoundaryx8G2kQ4mZr7YpT0c";
const std::string kCurlBoundary = "------------------------d74496d66958873e";

class ParserTest : public ::testing::Test {
 protected:
  DebugCapture debug;
};

// A device root with an empty Temp folder, named by QUENTA_ROOT while it lives.
class TempRoot {
 public:
  TempRoot() {
    char pattern[] = "/tmp/quenta-parser-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root = pattern;
    std::filesystem::create_directories(root + "/Temp");
    setenv("QUENTA_ROOT", root.c_str(), 1);
  }
  ~TempRoot() {
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(root + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool exists(const std::string& relative) const { return std::filesystem::exists(root + "/" + relative); }
  std::string root;
};

TEST_F(ParserTest, ClosingDelimiterAloneYieldsNoParts) {
  Fields fields({"a"});
  ParseResult result = parseBody("xyz", "--xyz--\r\n", fields);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(0, result.error);
  EXPECT_TRUE(result.values.empty());
}

TEST_F(ParserTest, PlainFieldsOfChromiumAndCurlBodies) {
  Fields fields({"ase_time", "are_volts", "empty"});
  for (const std::string& boundary : {kChromiumBoundary, kCurlBoundary}) {
    std::string text = plainBody(boundary, {{"ase_time", "1.5"}, {"empty", ""}, {"are_volts", "22.7"}});
    ParseResult result = parseBody(boundary, text, fields);
    EXPECT_TRUE(result.ok) << boundary;
    EXPECT_EQ(0, result.error);
    EXPECT_EQ((std::map<std::string, std::string>{{"ase_time", "1.5"}, {"are_volts", "22.7"}, {"empty", ""}}),
              result.values);
    EXPECT_TRUE(result.serverLog.empty());
  }
  EXPECT_TRUE(debug.contains("PostParser: ok?\r\n"));
  EXPECT_TRUE(debug.contains("PostParser: running\r\n"));
}

TEST_F(ParserTest, ValueKeepsItsOwnLineBreaksAndDashes) {
  Fields fields({"a"}, 100);
  std::string value = "line one\r\nline two\r\n--not the boundary\r\n-";
  ParseResult result = parseBody("BOUNDARY", plainBody("BOUNDARY", {{"a", value}}), fields);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(value, result.values["a"]);
}

TEST_F(ParserTest, LaterPartOfTheSameNameReplacesTheEarlier) {
  Fields fields({"a"});
  std::string text = plainBody("b0", {{"a", "first"}, {"a", "second"}, {"a", "third"}});
  DebugCapture quiet(false);
  long before = AllocFailure::liveAllocations();
  {
    ParseResult result = parseBody("b0", text, fields);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ("third", result.values["a"]);
  }
  EXPECT_EQ(before, AllocFailure::liveAllocations());
}

TEST_F(ParserTest, UnknownPartIsSkippedAndTheNextStillParsed) {
  Fields fields({"a", "c"});
  ParseResult result = parseBody("b0", plainBody("b0", {{"a", "1"}, {"unknown", "zzz"}, {"c", "3"}}), fields);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ((std::map<std::string, std::string>{{"a", "1"}, {"c", "3"}}), result.values);
  EXPECT_EQ("\r\nPostResponse::post --> Unknown field recieved\r\n", result.serverLog);
  EXPECT_TRUE(debug.contains("PostParser: Bad field\r\n"));
  EXPECT_TRUE(debug.contains("PostParser: discard\r\n"));
}

TEST_F(ParserTest, FilePartNeverMatchesAPlainFieldOfTheSameName) {
  Fields fields({"upload", "after"});
  std::string text = body("b0", {filePart("upload", "a.txt", "text/plain", "data"), plainPart("after", "ok")});
  ParseResult result = parseBody("b0", text, fields);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ((std::map<std::string, std::string>{{"after", "ok"}}), result.values);
  EXPECT_EQ("\r\nPostResponse::post --> Unknown field recieved\r\n", result.serverLog);
}

TEST_F(ParserTest, ContentTypeThatIsNotMultipartStopsBeforeReading) {
  Fields fields({"a"});
  for (const char* type : {"application/x-www-form-urlencoded", "multipart/form-data", "multipart/form-data; boundary=",
                           "Multipart/Form-Data; boundary=b0"}) {
    ParseResult result = parseBody(type, plainBody("b0", {{"a", "1"}}), fields, 65536, 0, true);
    EXPECT_FALSE(result.ok) << type;
    EXPECT_EQ(ERROR_INVALID_MIME_FORMAT, result.error) << type;
    EXPECT_TRUE(result.values.empty());
    EXPECT_EQ(0, result.reads) << type;
  }
  EXPECT_TRUE(debug.contains("PostParser: Bad mime\r\n"));
  FakeEcb fake("POST", "/form");
  fake.setBody("", "", 0, 1);
  fake.ecb()->lpszContentType = nullptr;
  PostParser parser(fake.ecb(), fields.get());
  EXPECT_EQ(ERROR_INVALID_MIME_FORMAT, parser.getError());
}

TEST_F(ParserTest, ValueWholeInTheWindowIsTakenAtAnyLength) {
  Fields fields({"a", "b"}, 15);
  std::string longValue(40, 'x');
  ParseResult result = parseBody("b0", plainBody("b0", {{"a", longValue}, {"b", "2"}}), fields, 3);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(longValue, result.values["a"]);
  EXPECT_EQ("2", result.values["b"]);
}

TEST_F(ParserTest, ValueSpanningReadsBeyondItsMaximumFailsThePart) {
  Fields fields({"a", "b"}, 15);
  std::string text = plainBody("b0", {{"b", "1"}, {"a", std::string(20000, 'x')}, {"b", "2"}});
  ParseResult result = parseBody("b0", text, fields, 4096);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(ERROR_MIME_PART_TOO_LONG, result.error);
  EXPECT_EQ(0u, result.values.count("a"));
  EXPECT_EQ("1", result.values["b"]);  // the part before stays; the one after is never reached
  EXPECT_EQ("\r\nPostResponse::post Could not finish part.\r\n", result.serverLog);
  EXPECT_TRUE(debug.contains("PostParser: part not finished\r\n"));
  DebugCapture quiet(false);
  long before = AllocFailure::liveAllocations();
  { parseBody("b0", text, fields, 4096); }
  EXPECT_EQ(before, AllocFailure::liveAllocations());
}

TEST_F(ParserTest, LongValueSpanningReadsWithinItsMaximumIsWhole) {
  Fields fields({"a", "b"}, 100000);
  std::string value;
  for (int k = 0; value.size() < 50000; ++k) value += std::to_string(k) + (k % 7 == 0 ? "\r\n-" : " ");
  std::string text = plainBody(kChromiumBoundary, {{"a", value}, {"b", "tail"}});
  for (DWORD readSize : {1u, 2u, 13u, 4096u, 65536u}) {
    ParseResult result = parseBody(kChromiumBoundary, text, fields, readSize);
    EXPECT_TRUE(result.ok) << readSize;
    EXPECT_EQ(value, result.values["a"]) << readSize;
    EXPECT_EQ("tail", result.values["b"]) << readSize;
  }
}

// Every read size and every split between preloaded and read bytes gives the
// result of the body in one piece, also when the boundary is cut in two.
TEST_F(ParserTest, SplitAnywhereGivesTheResultOfOnePiece) {
  Fields fields({"ase_time", "arcerrortimepcode", "mwe_time", "resetsubmit"});
  std::string text = body(kChromiumBoundary, {plainPart("ase_time", "1.5"), plainPart("ignored", "9"),
                                              filePart("ignored_file", "x.bin", "application/octet-stream", "\r\n--"),
                                              plainPart("arcerrortimepcode", "390"), plainPart("mwe_time", ""),
                                              plainPart("resetsubmit", "Reset")});
  const std::map<std::string, std::string> expected = {
      {"ase_time", "1.5"}, {"arcerrortimepcode", "390"}, {"mwe_time", ""}, {"resetsubmit", "Reset"}};
  DebugCapture quiet(false);
  const DWORD size = static_cast<DWORD>(text.size());
  for (DWORD readSize = 1; readSize <= size; ++readSize) {
    ParseResult result = parseBody(kChromiumBoundary, text, fields, readSize);
    ASSERT_TRUE(result.ok) << "read size " << readSize;
    ASSERT_EQ(expected, result.values) << "read size " << readSize;
  }
  for (DWORD split = 0; split <= size; ++split) {
    for (DWORD readSize : {1u, 5u, size}) {
      ParseResult result = parseBody(kChromiumBoundary, text, fields, readSize, split);
      ASSERT_TRUE(result.ok) << "split " << split;
      ASSERT_EQ(expected, result.values) << "split " << split << " read size " << readSize;
    }
  }
}

// Bodies longer than the window refill: many skipped parts between the
// declared ones, read in pieces of every kind.
TEST_F(ParserTest, ManyPartsBeyondOneWindowParseAlike) {
  std::vector<std::string> names;
  std::vector<std::string> parts;
  std::map<std::string, std::string> expected;
  for (int k = 0; k < 400; ++k) {
    if (k % 40 == 0) {
      std::string name = "field" + std::to_string(k);
      names.push_back(name);
      parts.push_back(plainPart(name, std::to_string(k * 7)));
      expected[name] = std::to_string(k * 7);
    } else {
      parts.push_back(plainPart("other" + std::to_string(k), std::string(k % 90, 'q')));
    }
  }
  Fields fields(names);
  std::string text = body(kCurlBoundary, parts);
  ASSERT_GT(text.size(), 30000u);
  DebugCapture quiet(false);
  for (DWORD readSize : {1u, 3u, 64u, 1000u, 9999u, 10001u, 65536u}) {
    for (DWORD preloaded : {0u, 49u, 10000u}) {
      ParseResult result = parseBody(kCurlBoundary, text, fields, readSize, preloaded);
      EXPECT_TRUE(result.ok) << readSize << " " << preloaded;
      EXPECT_EQ(expected, result.values) << readSize << " " << preloaded;
    }
  }
}

TEST_F(ParserTest, MalformedPartStopsParsingButKeepsEarlierParts) {
  Fields fields({"a", "b"});
  struct Case {
    const char* what;
    std::string rest;  // everything after the second part's delimiter line
    HRESULT error;
  };
  const Case cases[] = {
      {"no header line end", "Content-Disposition: form-data; name=\"b\"", ERROR_BAD_MIME_PART},
      {"other first header",
       "Content-Type: text/plain\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n--b0--\r\n",
       ERROR_BAD_CONTENT_DISPOSITION},
      {"lower-case header", "content-disposition: form-data; name=\"b\"\r\n\r\n2\r\n--b0--\r\n",
       ERROR_BAD_CONTENT_DISPOSITION},
      {"unquoted name", "Content-Disposition: form-data; name=b\r\n\r\n2\r\n--b0--\r\n",
       ERROR_BAD_CONTENT_DISPOSITION},
      {"name without closing quote", "Content-Disposition: form-data; name=\"b\r\n\r\n2\r\n--b0--\r\n",
       ERROR_BAD_MIME_PART},
      {"file name without closing quote",
       "Content-Disposition: form-data; name=\"b\"; filename=\"x\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_MIME_PART},
      {"file part without content type",
       "Content-Disposition: form-data; name=\"b\"; filename=\"x\"\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_MIME_PART},
  };
  for (const Case& c : cases) {
    std::string text = "--b0\r\n" + plainPart("a", "1") + "\r\n--b0\r\n" + c.rest;
    ParseResult result = parseBody("b0", text, fields);
    EXPECT_TRUE(result.ok) << c.what;
    EXPECT_EQ(c.error, result.error) << c.what;
    EXPECT_EQ((std::map<std::string, std::string>{{"a", "1"}}), result.values) << c.what;
  }
  ParseResult noBoundary = parseBody("b0", "just text, no delimiter at all\r\n", fields);
  EXPECT_TRUE(noBoundary.ok);
  EXPECT_EQ(ERROR_BAD_MIME_PART, noBoundary.error);
  EXPECT_TRUE(debug.contains("Bad mime part.\r\n"));
  EXPECT_TRUE(debug.contains("PostParser::nextPart Bad content disposition.\r\n"));
}

TEST_F(ParserTest, MatchedPartWithoutHeaderEndCannotBeFinished) {
  Fields fields({"a"});
  ParseResult result = parseBody("b0", "--b0\r\nContent-Disposition: form-data; name=\"a\"\r\nvalue\r\n--b0--", fields);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(ERROR_BAD_MIME_PART, result.error);
  EXPECT_TRUE(debug.contains("PostParser: bad mime part\r\n"));
}

// Fewer than the 4 bytes CR, LF, "--" before the boundary that ends a value.
TEST_F(ParserTest, BoundaryTooCloseToTheValueStartIsMalformed) {
  Fields fields({"a"});
  for (const char* tail : {"--XYZ--\r\n", "-XYZ--", "XYZ--", "\r\nXYZ--"}) {
    std::string text = "--XYZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + std::string(tail);
    for (DWORD readSize : {1u, 65536u}) {
      ParseResult result = parseBody("XYZ", text, fields, readSize);
      EXPECT_FALSE(result.ok) << tail;
      EXPECT_EQ(ERROR_BAD_MIME_PART, result.error) << tail;
      EXPECT_TRUE(result.values.empty());
    }
  }
}

TEST_F(ParserTest, BodyCutShortEndsEveryLoop) {
  Fields fields({"a"}, 100000);
  std::string whole = plainBody("b0", {{"a", std::string(30000, 'v')}});
  std::string cut = whole.substr(0, 20000);
  {
    // Declared as sent: the next read is refused as past the end.
    ParseResult result = parseBody("b0", cut, fields, 4096);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(ERROR_NO_MORE_DATA, result.error);
  }
  {
    // Declared longer than sent: the server reports a read of no bytes.
    FakeEcb fake("POST", "/form");
    fake.setBody(contentTypeFor("b0"), cut, 0, 4096);
    fake.setDeclaredLength(static_cast<DWORD>(whole.size()));
    MimePartMap parts;
    PostParser parser(fake.ecb(), fields.get());
    EXPECT_FALSE(parser.parse(parts));
    EXPECT_EQ(ERROR_HANDLE_EOF, parser.getError());
    EXPECT_EQ(0u, parts.count());
  }
  {
    // The same while an unknown part is skipped.
    Fields other({"z"});
    FakeEcb fake("POST", "/form");
    fake.setBody(contentTypeFor("b0"), cut, 0, 4096);
    fake.setDeclaredLength(0xFFFFFFFFu);
    MimePartMap parts;
    PostParser parser(fake.ecb(), other.get());
    EXPECT_FALSE(parser.parse(parts));
    EXPECT_EQ(ERROR_HANDLE_EOF, parser.getError());
  }
  {
    // Cut before the first part's headers: nothing to apply, no failure.
    FakeEcb fake("POST", "/form");
    fake.setBody(contentTypeFor("b0"), whole.substr(0, 30), 0, 7);
    fake.setDeclaredLength(static_cast<DWORD>(whole.size()));
    MimePartMap parts;
    PostParser parser(fake.ecb(), fields.get());
    EXPECT_TRUE(parser.parse(parts));
    EXPECT_EQ(0u, parts.count());
    EXPECT_EQ(ERROR_HANDLE_EOF, parser.getError());
  }
}

TEST_F(ParserTest, FailedReadStopsWithTheServersErrorAndReleasesThePart) {
  Fields fields({"a"}, 100000);
  std::string text = plainBody("b0", {{"a", std::string(30000, 'v')}});
  DebugCapture quiet(false);
  long before = AllocFailure::liveAllocations();
  {
    FakeEcb fake("POST", "/form");
    fake.setBody(contentTypeFor("b0"), text, 0, 4096);
    fake.failReadAfter = 5;  // three fill the window, two more feed the value
    MimePartMap parts;
    PostParser parser(fake.ecb(), fields.get());
    EXPECT_FALSE(parser.parse(parts));
    EXPECT_EQ(ERROR_READ_FAULT, parser.getError());
    EXPECT_EQ(0u, parts.count());
  }
  EXPECT_EQ(before, AllocFailure::liveAllocations());
}

TEST_F(ParserTest, FailedReadBeforeTheFirstPartLeavesNothingToApply) {
  Fields fields({"a"});
  FakeEcb fake("POST", "/form");
  fake.setBody(contentTypeFor("b0"), plainBody("b0", {{"a", "1"}}), 0, 4096);
  fake.failReadAfter = 0;
  MimePartMap parts;
  PostParser parser(fake.ecb(), fields.get());
  EXPECT_TRUE(parser.parse(parts));
  EXPECT_EQ(0u, parts.count());
  EXPECT_EQ(ERROR_READ_FAULT, parser.getError());
  EXPECT_TRUE(debug.contains("PostParser::nextPart() readClient returned false.\r\n"));
}

TEST_F(ParserTest, ReadClientRefusesReadsPastTheEndAndIntoNoSpace) {
  Fields fields({"a"});
  FakeEcb fake("POST", "/form");
  fake.setBody(contentTypeFor("b0"), "--b0--", 6, 100);
  PostParser parser(fake.ecb(), fields.get());
  BYTE space[8];
  DWORD received = 99;
  EXPECT_FALSE(parser.readClient(space, sizeof space, &received));
  EXPECT_EQ(0u, received);
  EXPECT_EQ(ERROR_NO_MORE_DATA, parser.getError());
  EXPECT_TRUE(debug.contains("## PostParser::readClient\t6\t8\n"));

  FakeEcb more("POST", "/form");
  more.setBody(contentTypeFor("b0"), "--b0--", 0, 100);
  PostParser second(more.ecb(), fields.get());
  EXPECT_FALSE(second.readClient(space, 0, &received));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, second.getError());
  EXPECT_EQ(0, more.readCalls);
}

TEST_F(ParserTest, NextPartRefusesWhileAPartIsOpen) {
  Fields fields({"a"});
  FakeEcb fake("POST", "/form");
  std::string text = plainBody("b0", {{"a", "1"}});
  fake.setBody(contentTypeFor("b0"), text, static_cast<DWORD>(text.size()));
  PostParser parser(fake.ecb(), fields.get());
  MimePart* first = parser.nextPart();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, parser.nextPart());
  EXPECT_TRUE(debug.contains("PostParser::nextPart() called with current part not yet complete.\r\n"));
  EXPECT_TRUE(parser.finishPart(15));
  EXPECT_EQ("1", std::string(first->value.c_str()));
  EXPECT_FALSE(parser.finishPart(15));  // already complete; the parser still owns the part
}

TEST_F(ParserTest, UploadGoesToTheFieldsDirectoryUnderTheFieldsName) {
  TempRoot root;
  std::string content;
  for (int k = 0; k < 70000; ++k) content += static_cast<char>((k * 31) % 256);
  Fields fields({"note"});
  fields.file("upload", u"\\Temp", 1000000);
  std::string text = body(kChromiumBoundary, {filePart("upload", "..\\..\\evil/../x.bin", "application/octet-stream", content),
                                              plainPart("note", "n")});
  for (DWORD readSize : {7u, 4096u, 65536u}) {
    std::filesystem::remove(root.root + "/Temp/upload");
    ParseResult result = parseBody(kChromiumBoundary, text, fields, readSize);
    EXPECT_TRUE(result.ok) << readSize;
    EXPECT_EQ("FILE", result.values["upload"]);
    EXPECT_EQ("n", result.values["note"]);
    EXPECT_EQ(content, root.read("Temp/upload")) << readSize;
  }
  EXPECT_FALSE(root.exists("Temp/x.bin"));
  EXPECT_FALSE(root.exists("x.bin"));
}

TEST_F(ParserTest, UploadBeyondItsMaximumLeavesNoFileOfItsOwn) {
  TempRoot root;
  Fields fields({});
  fields.file("upload", u"\\Temp\\", 20000);
  std::string text = body("b0", {filePart("upload", "a.bin", "image/png", std::string(50000, 'p'))});
  // Past the maximum after some of it was written: the file goes.
  ParseResult result = parseBody("b0", text, fields, 4096);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(ERROR_MIME_PART_TOO_LONG, result.error);
  EXPECT_FALSE(root.exists("Temp/upload"));
  // Past the maximum before its file was opened: an earlier upload stays.
  ASSERT_TRUE(parseBody("b0", body("b0", {filePart("upload", "a.bin", "text/plain", "kept")}), fields).ok);
  Fields strict({});
  strict.file("upload", u"\\Temp", 1000);
  EXPECT_EQ(ERROR_MIME_PART_TOO_LONG, parseBody("b0", text, strict, 4096).error);
  EXPECT_EQ("kept", root.read("Temp/upload"));
}

TEST_F(ParserTest, UploadThatCannotBeWrittenFailsTheParse) {
  TempRoot root;
  Fields fields({});
  fields.file("upload", u"\\NoSuchFolder", 1000000);
  std::string small = body("b0", {filePart("upload", "a.bin", "text/plain", "abc")});
  ParseResult whole = parseBody("b0", small, fields);
  EXPECT_FALSE(whole.ok);
  EXPECT_NE(0, whole.error);
  EXPECT_TRUE(debug.contains("Could not write complete FileMimePart\r\n"));
  std::string large = body("b0", {filePart("upload", "a.bin", "text/plain", std::string(30000, 'a'))});
  ParseResult spanning = parseBody("b0", large, fields, 1024);
  EXPECT_FALSE(spanning.ok);
  EXPECT_EQ(ERROR_COULDNT_WRITE_FILE, spanning.error);
  EXPECT_TRUE(debug.contains("FileMimePart partial write failed\r\n"));
}

TEST_F(ParserTest, FilePartContentTypeClasses) {
  TempRoot root;
  const std::pair<const char*, DWORD> types[] = {
      {"text/plain", 0}, {"image/gif", 1}, {"program/x", 2}, {"library/y", 3}, {"configuration/z", 4},
      {"application/octet-stream", 5}, {"application/json", 6}, {"TEXT/plain", 6},
  };
  for (const auto& type : types) {
    Fields fields({});
    fields.file("f", u"\\Temp", 100);
    FakeEcb fake("POST", "/form");
    fake.setBody(contentTypeFor("b0"), body("b0", {filePart("f", "n.txt", type.first, "x")}), 0, 100);
    MimePartMap parts;
    PostParser parser(fake.ecb(), fields.get());
    ASSERT_TRUE(parser.parse(parts)) << type.first;
    FileMimePart* part = static_cast<FileMimePart*>(parts.lookup(SafeCString("f")));
    ASSERT_NE(nullptr, part);
    EXPECT_EQ(type.second, part->contentType) << type.first;
  }
  EXPECT_TRUE(debug.contains("PostParser: end of found file\r\n"));
}

// Every nothrow allocation of a parse fails in turn: no crash, no leak, and
// a parse that reports no failure has every part.
TEST_F(ParserTest, AllocationFailureAtAnyPointLeavesADefinedState) {
  TempRoot root;
  DebugCapture quiet(false);
  Fields fields({"a", "b"}, 100);
  fields.file("f", u"\\Temp", 100000);
  std::string text = body("b0", {plainPart("a", "1"), plainPart("x", "skip"),
                                 filePart("f", "n.bin", "text/plain", std::string(3000, 'f')),
                                 plainPart("b", std::string(60, 'b')), plainPart("a", "2")});
  for (DWORD readSize : {5u, 65536u}) {
    unsigned long allocations = AllocFailure::failEachAllocation([&](unsigned long n) {
      FakeEcb fake("POST", "/form");
      fake.setBody(contentTypeFor("b0"), text, 0, readSize);
      MimePartMap parts;
      PostParser parser(fake.ecb(), fields.get());
      bool ok = parser.parse(parts);
      AllocFailure::Suspend suspend;
      if (n == 0) {
        EXPECT_TRUE(ok);
      }
      if (!ok || parser.getError() != 0) {
        EXPECT_NE(0, parser.getError()) << "allocation " << n;
        return;
      }
      ASSERT_EQ(3u, parts.count()) << "allocation " << n;
      EXPECT_EQ("2", std::string(parts.lookup(SafeCString("a"))->value.c_str()));
      EXPECT_EQ(std::string(60, 'b'), std::string(parts.lookup(SafeCString("b"))->value.c_str()));
      EXPECT_EQ(std::string(3000, 'f'), root.read("Temp/f"));
    });
    EXPECT_GT(allocations, 10u);
  }
}

}  // namespace
