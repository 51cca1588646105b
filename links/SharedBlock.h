// SharedBlock: a named block of shared memory and the named mutex that guards
// it, as the machine's processes share them ("DNET_DATA" with
// "DNET_MMF_MUTEX", "DB_LOG_DATA" with "DB_LOG_MMF_MUTEX"). Whoever creates
// the mapping first gets it zero-filled; later openers share the same block.
// The handles stay open until close() or destruction.
//
// Every read or write of the block happens between lock() and unlock().
#ifndef QUENTA_LINKS_SHAREDBLOCK_H_
#define QUENTA_LINKS_SHAREDBLOCK_H_

#include <windows.h>

class SharedBlock {
 public:
  SharedBlock();
  ~SharedBlock();

  // Creates or opens the mapping, maps it whole, creates or opens the mutex,
  // in that order. False at the first step that fails, with its error left in
  // GetLastError; the block is then not to be read.
  bool open(LPCWSTR mappingName, DWORD size, LPCWSTR mutexName);
  void close();

  // Waits for the mutex at most `milliseconds`; true with it held. An
  // abandoned wait hands over the mutex with a block its dead holder may have
  // left half-written: with takeAbandoned the caller keeps it (wasAbandoned()
  // says so); without, it is given back at once and false returned, so that a
  // dead writer never locks the other processes out for good.
  bool lock(DWORD milliseconds, bool takeAbandoned);
  void unlock();
  bool wasAbandoned() const { return abandoned; }

  BYTE* data() const { return view; }

 private:
  HANDLE mapping;
  BYTE* view;
  HANDLE mutex;
  bool abandoned;

  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;
};

#endif  // QUENTA_LINKS_SHAREDBLOCK_H_
