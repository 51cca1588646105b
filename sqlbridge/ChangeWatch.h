// ChangeWatch: tells a connection to the settings database, without a system
// call, whether anything was committed to the file since it last looked, so
// that answers read before may be given again.
//
// In WAL mode SQLite keeps a header at the start of the WAL index, the
// "-shm" file that every connection of every process maps; each commit
// rewrites it (its change counter, frame count and checksums), and readers
// learn the current state of the file from it. The header is written twice,
// the second copy first; a reader that finds both copies equal has read a
// whole one. Two equal readings with no different one between them therefore
// mean no commit in between. The layout is SQLite's documented WAL-index
// format; the mapping is the connection's own, reached through its VFS.
//
// A mark is only as good as its connection: it says nothing about a file
// that was replaced (the bridge looks up the path for that) or about the
// connection's own open transaction, whose writes are not in the header yet.
// One thread at a time uses a watch, as it does the connection.
#ifndef QUENTA_SQLBRIDGE_CHANGEWATCH_H_
#define QUENTA_SQLBRIDGE_CHANGEWATCH_H_

#include <cstdint>
#include <cstring>

struct sqlite3;

namespace quenta {

class ChangeWatch {
 public:
  // One whole reading of the header.
  struct Mark {
    uint32_t words[12];
    bool operator==(const Mark& other) const { return memcmp(words, other.words, sizeof words) == 0; }
  };

  // Once the connection has read from the file in WAL mode (its WAL index is
  // then open): finds the mapped header. Without one (the index kept in
  // private memory) the watch marks nothing.
  void attach(sqlite3* db);
  void detach() { header = nullptr; }

  // Reads the header now. False when the two copies differ (a commit is
  // being written) or the index is not initialised: no mark to trust.
  bool read(Mark* mark) const;

 private:
  const volatile uint32_t* header = nullptr;
};

}  // namespace quenta

#endif  // QUENTA_SQLBRIDGE_CHANGEWATCH_H_
