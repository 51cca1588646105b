// The multipart parser against good, split, truncated and malformed bodies.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>

#include "core/StatusName.h"
#include "tests/parser/ParserTestSupport.h"
#include "tests/support/AllocFailure.h"
#include "tests/support/TestRoot.h"

using namespace parsertest;

namespace {

typedef std::map<std::string, std::string> Values;
const std::string kChromiumBoundary = "----WebKitFormBoundaryx8G2kQ4mZr7YpT0c";
const std::string kCurlBoundary = "------------------------d74496d66958873e";
const char kUnknownLog[] = "\r\nPostResponse::post --> Unknown field recieved\r\n";

// A second parse leaves no allocation behind (its debug lines are not kept).
void expectNoLeak(DebugCapture& debug, const std::function<void()>& parse) {
  debug.keepLines(false);
  long before = AllocFailure::liveAllocations();
  parse();
  EXPECT_EQ(before, AllocFailure::liveAllocations());
  debug.keepLines(true);
}

// Each body parses to its parts, error and server-log text, without leaking.
TEST(ParserTest, BodiesGiveTheirPartsErrorsAndLog) {
  struct Case {
    std::string what, boundary, text;
    std::vector<std::string> names;
    DWORD maxLength, readSize;
    bool ok;
    HRESULT error;
    Values values;
    const char* log;  // nullptr: not checked
  };
  std::string breaks = "line one\r\nline two\r\n--not the boundary\r\n-";
  std::vector<Case> cases = {
      {"closing delimiter alone", "xyz", "--xyz--\r\n", {"a"}, 15, 65536, true, 0, {}, ""},
      {"line breaks and dashes", "BOUNDARY", plainBody("BOUNDARY", {{"a", breaks}}), {"a"}, 100, 65536, true, 0,
       {{"a", breaks}}, ""},
      {"later part replaces", "b0", plainBody("b0", {{"a", "first"}, {"a", "second"}, {"a", "third"}}), {"a"}, 15,
       65536, true, 0, {{"a", "third"}}, ""},
      {"unknown part skipped", "b0", plainBody("b0", {{"a", "1"}, {"unknown", "zzz"}, {"c", "3"}}), {"a", "c"}, 15,
       65536, true, 0, {{"a", "1"}, {"c", "3"}}, kUnknownLog},
      {"file part never matches a plain field", "b0",
       body("b0", {filePart("upload", "a.txt", "text/plain", "data"), plainPart("after", "ok")}), {"upload", "after"},
       15, 65536, true, 0, {{"after", "ok"}}, kUnknownLog},
      {"value whole in the window", "b0", plainBody("b0", {{"a", std::string(40, 'x')}, {"b", "2"}}), {"a", "b"}, 15,
       3, true, 0, {{"a", std::string(40, 'x')}, {"b", "2"}}, ""},
      {"value spanning reads past its maximum", "b0",
       plainBody("b0", {{"b", "1"}, {"a", std::string(20000, 'x')}, {"b", "2"}}), {"a", "b"}, 15, 4096, false,
       ERROR_MIME_PART_TOO_LONG, {{"b", "1"}}, "\r\nPostResponse::post Could not finish part.\r\n"},
      {"matched part without header end", "b0", "--b0\r\nContent-Disposition: form-data; name=\"a\"\r\nvalue\r\n--b0--",
       {"a"}, 15, 65536, false, ERROR_BAD_MIME_PART, {}, nullptr},
      {"no delimiter at all", "b0", "just text, no delimiter at all\r\n", {"a"}, 15, 65536, true,
       ERROR_BAD_MIME_PART, {}, nullptr},
  };
  for (const std::string& boundary : {kChromiumBoundary, kCurlBoundary}) {
    cases.push_back({"browser and curl", boundary,
                     plainBody(boundary, {{"ase_time", "1.5"}, {"empty", ""}, {"are_volts", "22.7"}}),
                     {"ase_time", "are_volts", "empty"}, 15, 65536, true, 0,
                     {{"ase_time", "1.5"}, {"are_volts", "22.7"}, {"empty", ""}}, ""});
  }
  // A value spanning two reads is measured before the second: the first read
  // leaves the window less its head and the held-back boundary tail (its
  // length + 3) in the value, which may reach the maximum but not pass it.
  const std::string longValue(20000, 'x');
  const std::string longBody = plainBody("b0", {{"a", longValue}});
  const DWORD firstTaken = static_cast<DWORD>(12000 - (longBody.find("\r\n\r\n") + 4) - (2 + 3));
  cases.push_back({"value at its maximum before the second read", "b0", longBody, {"a"}, firstTaken, 12000, true, 0,
                   {{"a", longValue}}, ""});
  cases.push_back({"value past its maximum before the second read", "b0", longBody, {"a"}, firstTaken - 1, 12000,
                   false, ERROR_MIME_PART_TOO_LONG, {}, nullptr});
  // A malformed second part stops the parse; the first stays.
  const std::pair<const char*, HRESULT> malformed[] = {
      {"Content-Disposition: form-data; name=\"b\"", ERROR_BAD_MIME_PART},
      {"Content-Type: text/plain\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n--b0--\r\n",
       ERROR_BAD_CONTENT_DISPOSITION},
      {"content-disposition: form-data; name=\"b\"\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_CONTENT_DISPOSITION},
      {"Content-Disposition: form-data; name=b\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_CONTENT_DISPOSITION},
      {"Content-Disposition: form-data; name=\"b\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_MIME_PART},
      {"Content-Disposition: form-data; name=\"b\"; filename=\"x\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_MIME_PART},
      {"Content-Disposition: form-data; name=\"b\"; filename=\"x\"\r\n\r\n2\r\n--b0--\r\n", ERROR_BAD_MIME_PART},
  };
  for (const auto& m : malformed) {
    cases.push_back({m.first, "b0", "--b0\r\n" + plainPart("a", "1") + "\r\n--b0\r\n" + m.first, {"a", "b"}, 15,
                     65536, true, m.second, {{"a", "1"}}, nullptr});
  }
  // Fewer than the 4 bytes CR, LF, "--" before the boundary that ends a value.
  for (const char* tail : {"--XYZ--\r\n", "-XYZ--", "XYZ--", "\r\nXYZ--"}) {
    for (DWORD readSize : {1u, 65536u}) {
      cases.push_back({std::string("boundary too close: ") + tail, "XYZ",
                       "--XYZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n" + std::string(tail), {"a"}, 15,
                       readSize, false, ERROR_BAD_MIME_PART, {}, nullptr});
    }
  }
  DebugCapture debug;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fields fields(c.names, c.maxLength);
    ParseResult result = parseBody(c.boundary, c.text, fields, c.readSize);
    EXPECT_EQ(c.ok, result.ok);
    EXPECT_EQ(c.error, result.error);
    EXPECT_EQ(c.values, result.values);
    if (c.log != nullptr) {
      EXPECT_EQ(c.log, result.serverLog);
    }
    expectNoLeak(debug, [&]() { parseBody(c.boundary, c.text, fields, c.readSize); });
  }
  for (const char* line : {"PostParser: ok?\r\n", "PostParser: running\r\n", "PostParser: Bad field\r\n",
                           "PostParser: discard\r\n", "PostParser: part not finished\r\n", "Bad mime part.\r\n",
                           "PostParser::nextPart Bad content disposition.\r\n", "PostParser: bad mime part\r\n"}) {
    EXPECT_TRUE(debug.contains(line)) << line;
  }
}

// Requests that stop early: a content type the parser refuses, bodies cut
// short (declared as sent, or longer), failing reads. Nothing is kept that was
// not finished, and nothing leaks.
TEST(ParserTest, RefusedAndCutShortRequestsEndCleanly) {
  std::string small = plainBody("b0", {{"a", "1"}});
  std::string whole = plainBody("b0", {{"a", std::string(30000, 'v')}});
  std::string cut = whole.substr(0, 20000);
  const DWORD wholeSize = static_cast<DWORD>(whole.size());
  struct Case {
    std::string what;
    std::vector<std::string> names;
    std::string text;
    DWORD readSize;
    std::function<void(FakeEcb&)> tweak;
    bool ok;
    HRESULT error;
  };
  std::vector<Case> cases = {
      {"declared as sent: the read past the end is refused", {"a"}, cut, 4096, nullptr, false, ERROR_NO_MORE_DATA},
      {"declared longer: the server reads no bytes", {"a"}, cut, 4096,
       [=](FakeEcb& f) { f.setDeclaredLength(wholeSize); }, false, ERROR_HANDLE_EOF},
      {"the same while an unknown part is skipped", {"z"}, cut, 4096,
       [](FakeEcb& f) { f.setDeclaredLength(0xFFFFFFFFu); }, false, ERROR_HANDLE_EOF},
      {"cut before the first part's headers", {"a"}, whole.substr(0, 30), 7,
       [=](FakeEcb& f) { f.setDeclaredLength(wholeSize); }, true, ERROR_HANDLE_EOF},
      // Three reads fill the window, two more feed the value.
      {"read fails inside a value", {"a"}, whole, 4096, [](FakeEcb& f) { f.failReadAfter = 5; }, false,
       ERROR_READ_FAULT},
      {"read fails before the first part", {"a"}, small, 4096, [](FakeEcb& f) { f.failReadAfter = 0; }, true,
       ERROR_READ_FAULT},
      {"no content type", {"a"}, small, 65536, [](FakeEcb& f) { f.ecb()->lpszContentType = nullptr; }, false,
       ERROR_INVALID_MIME_FORMAT},
  };
  for (std::string type : {"application/x-www-form-urlencoded", "multipart/form-data",
                           "multipart/form-data; boundary=", "Multipart/Form-Data; boundary=b0"}) {
    cases.push_back({type, {"a"}, small, 65536, [=](FakeEcb& f) { f.setBody(type, small); }, false,
                     ERROR_INVALID_MIME_FORMAT});
  }
  DebugCapture debug;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fields fields(c.names, 100000);
    ParseResult result = parseBody("b0", c.text, fields, c.readSize, 0, c.tweak);
    EXPECT_EQ(c.ok, result.ok);
    EXPECT_EQ(c.error, result.error);
    EXPECT_TRUE(result.values.empty());
    if (c.error == ERROR_INVALID_MIME_FORMAT) {
      EXPECT_EQ(0, result.reads);
    }
    expectNoLeak(debug, [&]() { parseBody("b0", c.text, fields, c.readSize, 0, c.tweak); });
  }
  EXPECT_TRUE(debug.contains("PostParser: Bad mime\r\n"));
  EXPECT_TRUE(debug.contains("PostParser::nextPart() readClient returned false.\r\n"));
}

// Every read size and every split between preloaded and read bytes gives the
// result of the body in one piece, also when the boundary is cut in two.
TEST(ParserTest, SplitAnywhereGivesTheResultOfOnePiece) {
  Fields fields({"ase_time", "arcerrortimepcode", "mwe_time", "resetsubmit"});
  std::string text = body(kChromiumBoundary, {plainPart("ase_time", "1.5"), plainPart("ignored", "9"),
                                              filePart("ignored_file", "x.bin", "application/octet-stream", "\r\n--"),
                                              plainPart("arcerrortimepcode", "390"), plainPart("mwe_time", ""),
                                              plainPart("resetsubmit", "Reset")});
  const Values expected = {{"ase_time", "1.5"}, {"arcerrortimepcode", "390"}, {"mwe_time", ""}, {"resetsubmit", "Reset"}};
  DebugCapture quiet(false);
  const DWORD size = static_cast<DWORD>(text.size());
  for (DWORD split = 0; split <= size; ++split) {
    // (read size, preloaded): every read size from nothing preloaded, and every split.
    const std::pair<DWORD, DWORD> ways[] = {{split + 1, 0}, {1, split}, {5, split}, {size, split}};
    for (const auto& way : ways) {
      ParseResult result = parseBody(kChromiumBoundary, text, fields, way.first, way.second);
      ASSERT_TRUE(result.ok) << "read size " << way.first << " preloaded " << way.second;
      ASSERT_EQ(expected, result.values) << "read size " << way.first << " preloaded " << way.second;
    }
  }
}

// Bodies longer than the window: a long value with line breaks and dashes,
// many skipped parts between the declared ones.
TEST(ParserTest, LongBodiesParseAlikeInAnyPieces) {
  std::vector<std::string> names = {"long"}, parts;
  Values expected;
  for (int k = 0; expected["long"].size() < 50000; ++k) expected["long"] += std::to_string(k) + (k % 7 ? " " : "\r\n-");
  parts.push_back(plainPart("long", expected["long"]));
  for (int k = 0; k < 400; ++k) {
    std::string name = (k % 40 ? "other" : "field") + std::to_string(k);
    std::string value = k % 40 ? std::string(k % 90, 'q') : std::to_string(k * 7);
    parts.push_back(plainPart(name, value));
    if (k % 40 == 0) {
      names.push_back(name);
      expected[name] = value;
    }
  }
  Fields fields(names, 100000);
  std::string text = body(kCurlBoundary, parts);
  DebugCapture quiet(false);
  for (DWORD readSize : {1u, 2u, 13u, 64u, 1000u, 4096u, 9999u, 10001u, 65536u}) {
    for (DWORD preloaded : {0u, 49u, 10000u}) {
      ParseResult result = parseBody(kCurlBoundary, text, fields, readSize, preloaded);
      EXPECT_TRUE(result.ok) << readSize << " " << preloaded;
      EXPECT_EQ(expected, result.values) << readSize << " " << preloaded;
    }
  }
}

TEST(ParserTest, ReadClientAndNextPartRefuseMisuse) {
  DebugCapture debug;
  Fields fields({"a"});
  BYTE space[8];
  DWORD received = 99;
  FakeEcb unread("POST", "/form");
  unread.setBody(contentTypeFor("b0"), "--b0--", 0, 100);
  PostParser noSpace(unread.ecb(), fields.get());
  EXPECT_FALSE(noSpace.readClient(space, 0, &received));
  EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, noSpace.getError());
  EXPECT_EQ(0, unread.readCalls);

  FakeEcb fake("POST", "/form");
  std::string text = plainBody("b0", {{"a", "1"}});
  fake.setBody(contentTypeFor("b0"), text, static_cast<DWORD>(text.size()));
  PostParser parser(fake.ecb(), fields.get());
  MimePart* first = parser.nextPart();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(nullptr, parser.nextPart());  // the current part is not complete
  EXPECT_TRUE(parser.finishPart(15));
  EXPECT_EQ("1", std::string(first->value.c_str()));
  EXPECT_FALSE(parser.finishPart(15));  // already complete; the parser still owns the part
}

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUENTA_ROOT", root.path().c_str(), 1); }
  void TearDown() override { unsetenv("QUENTA_ROOT"); }
  bool exists(const std::string& relative) { return std::filesystem::exists(root.path() + "/" + relative); }
  TestRoot root;
  DebugCapture debug;
};

TEST_F(UploadTest, FileGoesToTheFieldsDirectoryUnderTheFieldsName) {
  std::string content;
  for (int k = 0; k < 70000; ++k) content += static_cast<char>((k * 31) % 256);
  Fields fields({"note"});
  fields.file("upload", u"\\Temp", 1000000);
  std::string text = body(kChromiumBoundary, {filePart("upload", "..\\..\\evil/../x.bin", "application/octet-stream",
                                                       content), plainPart("note", "n")});
  for (DWORD readSize : {7u, 4096u, 65536u}) {
    root.removeFile("Temp/upload");
    ParseResult result = parseBody(kChromiumBoundary, text, fields, readSize);
    EXPECT_TRUE(result.ok) << readSize;
    EXPECT_EQ((Values{{"upload", "FILE5"}, {"note", "n"}}), result.values);
    EXPECT_EQ(content, root.readFile("Temp/upload")) << readSize;
  }
  EXPECT_FALSE(exists("Temp/x.bin"));
  EXPECT_FALSE(exists("x.bin"));
  const std::pair<const char*, int> types[] = {
      {"text/plain", 0},       {"image/gif", 1},           {"program/x", 2},        {"library/y", 3},
      {"configuration/z", 4}, {"application/octet-stream", 5}, {"application/json", 6}, {"TEXT/plain", 6},
  };
  for (const auto& type : types) {
    EXPECT_EQ("FILE" + std::to_string(type.second),
              parseBody("b0", body("b0", {filePart("upload", "n.txt", type.first, "x")}), fields, 100).values["upload"])
        << type.first;
  }
  EXPECT_TRUE(debug.contains("PostParser: end of found file\r\n"));
}

TEST_F(UploadTest, FileBeyondItsMaximumLeavesNoFileOfItsOwn) {
  Fields fields({});
  fields.file("upload", u"\\Temp\\", 20000);
  std::string text = body("b0", {filePart("upload", "a.bin", "image/png", std::string(50000, 'p'))});
  // Past the maximum after some of it was written: the file goes.
  ParseResult result = parseBody("b0", text, fields, 4096);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(ERROR_MIME_PART_TOO_LONG, result.error);
  EXPECT_FALSE(exists("Temp/upload"));
  // Past the maximum before its file was opened: an earlier upload stays.
  ASSERT_TRUE(parseBody("b0", body("b0", {filePart("upload", "a.bin", "text/plain", "kept")}), fields).ok);
  Fields strict({});
  strict.file("upload", u"\\Temp", 1000);
  EXPECT_EQ(ERROR_MIME_PART_TOO_LONG, parseBody("b0", text, strict, 4096).error);
  EXPECT_EQ("kept", root.readFile("Temp/upload"));
}

TEST_F(UploadTest, FileThatCannotBeWrittenFailsTheParse) {
  Fields fields({});
  fields.file("upload", u"\\NoSuchFolder", 1000000);
  ParseResult small = parseBody("b0", body("b0", {filePart("upload", "a.bin", "text/plain", "abc")}), fields);
  EXPECT_FALSE(small.ok);
  EXPECT_NE(0, small.error);
  EXPECT_TRUE(debug.contains("Could not write complete FileMimePart\r\n"));
  std::string large = body("b0", {filePart("upload", "a.bin", "text/plain", std::string(30000, 'a'))});
  ParseResult spanning = parseBody("b0", large, fields, 1024);
  EXPECT_FALSE(spanning.ok);
  EXPECT_EQ(ERROR_COULDNT_WRITE_FILE, spanning.error);
  EXPECT_TRUE(debug.contains("FileMimePart partial write failed\r\n"));
}

// Every nothrow allocation of a parse fails in turn: no crash, no leak, and
// a parse that reports no failure has every part.
TEST_F(UploadTest, AllocationFailureAtAnyPointLeavesADefinedState) {
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
      EXPECT_TRUE(ok || n != 0);
      if (!ok || parser.getError() != 0) {
        EXPECT_NE(0, parser.getError()) << "allocation " << n;
        return;
      }
      ASSERT_EQ(3u, parts.count()) << "allocation " << n;
      EXPECT_EQ("2", std::string(parts.lookup(SafeCString("a"))->value.c_str()));
      EXPECT_EQ(std::string(60, 'b'), std::string(parts.lookup(SafeCString("b"))->value.c_str()));
      EXPECT_EQ(std::string(3000, 'f'), root.readFile("Temp/f"));
    });
    EXPECT_GT(allocations, 10u);
  }
}

}  // namespace
