// The multipart parser and the form posts:
// - BM_FileUpload: a 10 MB file part read in 64 KiB pieces and written to the
//   temporary root's Temp folder, in MB/s (target: at least 1 GB/s);
// - BM_SkipUndeclared: a 100 MB part of an undeclared field, skipped, with the
//   peak resident size above the idle process (target: under 2 MB);
// - BM_SelfOverlappingBoundary: a value of "a" bytes under a boundary of "a"s
//   ending in "b", read 16 bytes at a time, for two boundary lengths: the rate
//   does not fall with the boundary's length (searches resume, never rescan);
// - BM_ManySmallParts: a window full of tiny undeclared parts;
// - BM_FormPost: one valid post of each form family in process (the setters'
//   transactions and the mailbox events included; target: under 2 ms each),
//   and the arc-error-limits post through quenta-httpd on 127.0.0.1 in
//   requests per second.
//
// Bodies are made while they are read (StreamedBody), so the benchmark itself
// never holds them whole.
#include <benchmark/benchmark.h>
#include <httpext.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QuentaPlatform.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/FormField.h"
#include "core/MimePart.h"
#include "core/PostParser.h"
#include "forms/PostResponse.h"
#include "frame/Registry.h"
#include "frame/StoredPage.h"
#include "sqlbridge/RecordReaders.h"
#include "sqlbridge/SettingsStore.h"
#include "tests/forms/FormSamples.h"
#include "tests/support/FakeEcb.h"

extern char** environ;

namespace {

const char kBoundary[] = "----WebKitFormBoundaryQ3xk9LmZ0pRt7YwA";
const DWORD kPiece = 64 * 1024;

void discardLine(const char*, void*) {}

// A device root with Temp/, the card's pages and a settings database holding
// the demo machine's records, bank configurations and the parameter codes the
// benchmarked forms write.
struct BenchRoot {
  BenchRoot() {
    // QUENTA_BENCH_DIR (default /tmp) holds the root: on tmpfs the form
    // posts' commits do not wait for the disk.
    const char* parent = getenv("QUENTA_BENCH_DIR");
    std::string pattern = std::string(parent != nullptr ? parent : "/tmp") + "/quenta-bench-parser-XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path = pattern;
    std::error_code ignored;
    std::filesystem::create_directories(path + "/Temp", ignored);
    // A second upload folder on tmpfs, where writes never wait for the disk.
    char shmPattern[] = "/dev/shm/quenta-bench-parser-XXXXXX";
    if (mkdtemp(shmPattern) != nullptr) {
      shmPath = shmPattern;
      std::filesystem::create_directory_symlink(shmPath, path + "/ShmTemp", ignored);
    }
    std::filesystem::create_directories(path + "/MMCMemory/www/wwwpub", ignored);
    std::filesystem::copy(QUENTA_SOURCE_DIR "/card", path + "/MMCMemory/www/wwwpub",
                          std::filesystem::copy_options::recursive, ignored);
    quenta::SettingsStore store;
    ok = store.open(quenta::SettingsStore::databasePath(path), true) && store.createSchema();
    for (WORD code : {125, 136, 139, 190, 390, 391, 392, 639, 650, 653, 654, 655, 656, 660, 665}) {
      ok = ok && store.putPCode(code, 0, true);
    }
    for (WORD bank : {1, 2}) {
      quenta::BankConfigRow row;
      row.bankConfigID = bank;
      ok = ok && store.putBankConfig(row, true);
    }
    ok = ok && quenta::RecordTables::storeDemo(store) && store.seedSetterTables();
    setenv("QUENTA_ROOT", path.c_str(), 1);
    quenta::setDebugSink(&discardLine, nullptr);
  }
  ~BenchRoot() {
    quenta::setDebugSink(nullptr, nullptr);
    quenta::removeNamedObjects(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    if (!shmPath.empty()) std::filesystem::remove_all(shmPath, ignored);
  }
  std::string path;
  std::string shmPath;
  bool ok = false;
};

BenchRoot& benchRoot() {
  static BenchRoot root;
  return root;
}

// A request whose body is a head, `fillerSize` bytes cycled from `filler`,
// and a tail, made while the parser reads it, at most `piece` bytes a read.
class StreamedBody {
 public:
  StreamedBody(const std::string& contentType, const std::string& headText, const std::string& fillerBlock,
               unsigned long long fillerBytes, const std::string& tailText, DWORD pieceSize)
      : type(contentType), head(headText), filler(fillerBlock), fillerSize(fillerBytes), tail(tailText),
        piece(pieceSize) {
    std::memset(&block, 0, sizeof block);
    block.cbSize = sizeof block;
    block.ConnID = this;
    block.lpszContentType = &type[0];
    block.cbTotalBytes = static_cast<DWORD>(head.size() + fillerSize + tail.size());
    block.ReadClient = &StreamedBody::readClient;
    block.ServerSupportFunction = &StreamedBody::serverSupport;
  }
  EXTENSION_CONTROL_BLOCK* ecb() { return &block; }
  void rewind() { offset = 0; }

 private:
  static BOOL WINAPI readClient(HCONN conn, LPVOID buffer, LPDWORD size) {
    StreamedBody* self = static_cast<StreamedBody*>(conn);
    DWORD wanted = *size < self->piece ? *size : self->piece;
    char* out = static_cast<char*>(buffer);
    DWORD given = 0;
    while (given < wanted) {
      unsigned long long at = self->offset;
      unsigned long long headEnd = self->head.size();
      unsigned long long fillerEnd = headEnd + self->fillerSize;
      unsigned long long end = fillerEnd + self->tail.size();
      if (at >= end) break;
      const char* from;
      unsigned long long available;
      if (at < headEnd) {
        from = self->head.data() + at;
        available = headEnd - at;
      } else if (at < fillerEnd) {
        unsigned long long inBlock = (at - headEnd) % self->filler.size();
        from = self->filler.data() + inBlock;
        available = std::min<unsigned long long>(self->filler.size() - inBlock, fillerEnd - at);
      } else {
        from = self->tail.data() + (at - fillerEnd);
        available = end - at;
      }
      DWORD n = static_cast<DWORD>(std::min<unsigned long long>(available, wanted - given));
      std::memcpy(out + given, from, n);
      given += n;
      self->offset += n;
    }
    *size = given;
    return TRUE;
  }
  static BOOL WINAPI serverSupport(HCONN, DWORD, LPVOID, LPDWORD, LPDWORD) { return TRUE; }

  EXTENSION_CONTROL_BLOCK block;
  std::string type;
  std::string head;
  std::string filler;
  unsigned long long fillerSize;
  std::string tail;
  DWORD piece;
  unsigned long long offset = 0;
};

std::string randomBlock(size_t size) {
  std::string block(size, '\0');
  unsigned int state = 12345;
  for (char& c : block) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return block;
}

std::string partHead(const std::string& boundary, const std::string& name, const char* fileName) {
  std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
  if (fileName != nullptr) head += std::string("; filename=\"") + fileName + "\"\r\nContent-Type: application/octet-stream";
  return head + "\r\n\r\n";
}

std::string closing(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

long statusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
  }
  return -1;
}

// Resets the peak resident size to the current one (Linux 4.0 and later).
bool resetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  return static_cast<bool>(clear);
}

// Argument 0: the upload folder on the disk ("\Temp"); 1: on tmpfs.
void BM_FileUpload(benchmark::State& state) {
  if (!benchRoot().ok) {
    state.SkipWithError("no device root");
    return;
  }
  const bool onTmpfs = state.range(0) == 1;
  const unsigned long long size = 10ull * 1000 * 1000;
  FormFieldList fields;
  fields.append(new FormField(SafeCString("upload"), SafeWString(onTmpfs ? u"\\ShmTemp" : u"\\Temp"),
                              SafeWString(u""), 0xFFFFFFFFu));
  StreamedBody body("multipart/form-data; boundary=" + std::string(kBoundary),
                    partHead(kBoundary, "upload", "capture.bin"), randomBlock(kPiece), size, closing(kBoundary),
                    kPiece);
  for (auto _ : state) {
    body.rewind();
    MimePartMap parts;
    PostParser parser(body.ecb(), fields);
    if (!parser.parse(parts) || parts.count() != 1) state.SkipWithError("the upload did not parse");
  }
  std::error_code error;
  std::string stored = benchRoot().path + (onTmpfs ? "/ShmTemp/upload" : "/Temp/upload");
  if (std::filesystem::file_size(stored, error) != size) state.SkipWithError("the stored file has the wrong size");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}


// Registered first, so that the idle size is that of a process that has not
// parsed anything yet.
void BM_SkipUndeclared(benchmark::State& state) {
  if (!benchRoot().ok) {
    state.SkipWithError("no device root");
    return;
  }
  const unsigned long long size = 100ull * 1000 * 1000;
  FormFieldList fields;
  fields.append(new FormField(SafeCString("declared"), 15));
  StreamedBody body("multipart/form-data; boundary=" + std::string(kBoundary),
                    partHead(kBoundary, "undeclared", nullptr), randomBlock(kPiece), size,
                    "\r\n--" + std::string(kBoundary) + "\r\n" +
                        "Content-Disposition: form-data; name=\"declared\"\r\n\r\n7" + closing(kBoundary),
                    kPiece);
  bool reset = resetPeakRss();
  long idle = statusKiB("VmRSS:");
  for (auto _ : state) {
    body.rewind();
    MimePartMap parts;
    PostParser parser(body.ecb(), fields);
    if (!parser.parse(parts) || parts.lookup(SafeCString("declared")) == nullptr) {
      state.SkipWithError("the body did not parse");
    }
  }
  long peak = statusKiB("VmHWM:");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["idle_rss_KiB"] = static_cast<double>(idle);
  if (reset) state.counters["peak_above_idle_KiB"] = static_cast<double>(peak - idle);
}

BENCHMARK(BM_SkipUndeclared)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_FileUpload)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_SelfOverlappingBoundary(benchmark::State& state) {
  const std::string boundary = std::string(static_cast<size_t>(state.range(0)) - 1, 'a') + "b";
  const unsigned long long size = 4ull * 1000 * 1000;
  FormFieldList fields;
  fields.append(new FormField(SafeCString("declared"), 15));
  StreamedBody body("multipart/form-data; boundary=" + boundary, partHead(boundary, "undeclared", nullptr),
                    std::string(kPiece, 'a'), size, closing(boundary), 16);
  for (auto _ : state) {
    body.rewind();
    MimePartMap parts;
    PostParser parser(body.ecb(), fields);
    if (!parser.parse(parts)) state.SkipWithError("the body did not parse");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_SelfOverlappingBoundary)->Arg(70)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ManySmallParts(benchmark::State& state) {
  std::string text;
  int parts = 0;
  while (text.size() < 500000) {
    text += "--b\r\nContent-Disposition: form-data; name=\"x" + std::to_string(parts++ % 100) + "\"\r\n\r\nv\r\n";
  }
  text += "--b--\r\n";
  FormFieldList fields;
  fields.append(new FormField(SafeCString("declared"), 15));
  for (auto _ : state) {
    FakeEcb fake("POST", "/form");
    fake.setBody("multipart/form-data; boundary=b", text, static_cast<DWORD>(text.size()));
    MimePartMap map;
    PostParser parser(fake.ecb(), fields);
    if (!parser.parse(map)) state.SkipWithError("the body did not parse");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["parts"] = parts;
}
BENCHMARK(BM_ManySmallParts)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string bodyOf(const formtest::Fields& fields) {
  std::string body;
  for (const auto& field : fields) body += partHead(kBoundary, field.first.c_str(), nullptr) + field.second + "\r\n";
  return body + "--" + kBoundary + "--\r\n";
}

// One post of each form family, in process: parse, apply, the setters'
// transactions with their journal rows, the mailbox events, the answer.
struct FamilyPost {
  const char* path;
  formtest::Fields fields;  // empty: the form's sample post
};
const FamilyPost kFamilyPosts[] = {
    {"/setup/error_edit.min.html",
     {{"ase_time", "2"}, {"arcstarterrorpcode", "190"}, {"mwe_time", "0.35"}, {"missedwelderrorpcode", "650"},
      {"arcerrortimepcode", "390"}, {"arcerrorvoltspcode", "391"}, {"arcerrorampspcode", "392"},
      {"are_volts", "22.7"}, {"are_amps", "400"}, {"are_time", "1.5"}}},
    {"/arc_management/time_sequence_adjust.min.html", {}},
    {"/arc_management/process_selection.html", {}},
    {"/arc_management/enables_locks.min.html", {}},
    {"/setup/weld_cable.min.html", {}},
    {"/setup/robot_options.html", {}},
};

void BM_FormPost(benchmark::State& state) {
  const FamilyPost& family = kFamilyPosts[state.range(0)];
  state.SetLabel(family.path);
  std::unique_ptr<PostResponse> form;
  for (const FormEntry& entry : kForms) {
    if (std::strcmp(entry.path, family.path) == 0) form.reset(createForm(entry));
  }
  if (!benchRoot().ok || !form) {
    state.SkipWithError("no device root or no form");
    return;
  }
  std::string body = bodyOf(family.fields.empty() ? formtest::sampleWith(family.path, {}) : family.fields);
  for (auto _ : state) {
    FakeEcb fake("POST", family.path);
    fake.setBody("multipart/form-data; boundary=" + std::string(kBoundary), body, 0, 1460);
    if (form->post(fake.ecb()) == errorPage400().content()) state.SkipWithError("the post was not applied");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormPost)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond)->UseRealTime();

// quenta-httpd as a child process on 127.0.0.1; its port is read from its
// first lines of output.
class Server {
 public:
  Server() {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string root = benchRoot().path;
    std::vector<std::string> args = {QUENTA_HTTPD, "--root", root,   "--listen", "127.0.0.1:0", "--module",
                                     WEBQUENTA_MODULE, "--access-log", "/dev/null"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    if (posix_spawn(&pid, QUENTA_HTTPD, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    char chunk[256];
    ssize_t n;
    while (pid > 0 && output.find("listening on http://127.0.0.1:") == std::string::npos &&
           (n = read(out[0], chunk, sizeof chunk)) > 0) {
      output.append(chunk, static_cast<size_t>(n));
    }
    size_t at = output.find("127.0.0.1:");
    if (at != std::string::npos) port = std::atoi(output.c_str() + at + 10);
    close(out[0]);
  }
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      int status;
      waitpid(pid, &status, 0);
    }
  }
  pid_t pid = -1;
  int port = 0;
};

// Sends the post on one kept-alive connection and reads the answer; false on
// any failure.
bool postOnce(int fd, const std::string& request, std::string* scratch) {
  if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return false;
  scratch->clear();
  size_t bodyStart = std::string::npos;
  size_t length = 0;
  char chunk[16384];
  for (;;) {
    if (bodyStart != std::string::npos && scratch->size() >= bodyStart + length) return true;
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    scratch->append(chunk, static_cast<size_t>(n));
    if (bodyStart == std::string::npos) {
      size_t end = scratch->find("\r\n\r\n");
      if (end == std::string::npos) continue;
      size_t at = scratch->find("Content-Length: ");
      if (at == std::string::npos || at > end) return false;
      length = std::strtoul(scratch->c_str() + at + 16, nullptr, 10);
      bodyStart = end + 4;
    }
  }
}

void BM_ErrorEditPostThroughServer(benchmark::State& state) {
  if (!benchRoot().ok) {
    state.SkipWithError("no device root");
    return;
  }
  static Server server;
  if (server.port == 0) {
    state.SkipWithError("quenta-httpd did not start");
    return;
  }
  std::string body = bodyOf(kFamilyPosts[0].fields);
  std::string request = "POST /setup/error_edit.min.html HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                        "Content-Type: multipart/form-data; boundary=" +
                        std::string(kBoundary) + "\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n" + body;
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    state.SkipWithError("cannot connect to quenta-httpd");
    return;
  }
  std::string answer;
  int refused = 0;
  for (auto _ : state) {
    if (!postOnce(fd, request, &answer) || answer.find("200 OK") == std::string::npos) {
      state.SkipWithError("the post was not answered");
      break;
    }
    // A write the settings database did not take answers the 400 page.
    if (answer.find("Arc error limits") == std::string::npos) ++refused;
  }
  close(fd);
  state.SetItemsProcessed(state.iterations());
  state.counters["answered_400"] = benchmark::Counter(refused, benchmark::Counter::kAvgThreads);
}
BENCHMARK(BM_ErrorEditPostThroughServer)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
