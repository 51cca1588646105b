// DbLogMailbox: the module's end of the system-log mailbox, a ring of 64 event
// records in the shared memory "DB_LOG_DATA" (516 bytes) that the machine's log
// process empties. The module only ever adds events at `head`; `tail` belongs
// to the reader. Every access to the block happens while holding the named
// mutex "DB_LOG_MMF_MUTEX", waited for at most 3000 ms.
//
// Layout, all words 16-bit unsigned little-endian:
//   0    code[64]   event code of each slot
//   128  arg1[64]   the key of the record that was written
//   256  arg2[64]
//   384  arg3[64]
//   512  head       the next slot the writer fills
//   514  tail       the reader's position
// The ring is empty when head == tail; one slot always stays free, so it
// holds at most 63 unread events.
//
// Each form handler holds one mailbox. post() may be called from several
// threads at once; the named mutex separates them.
#ifndef QUENTA_LINKS_DBLOGMAILBOX_H_
#define QUENTA_LINKS_DBLOGMAILBOX_H_

#include <windows.h>

#include "links/SharedBlock.h"

#define DB_LOG_MAPPING TEXT("DB_LOG_DATA")
#define DB_LOG_MUTEX TEXT("DB_LOG_MMF_MUTEX")
#define DB_LOG_BLOCK_SIZE 516
#define DB_LOG_SLOTS 64
#define DB_LOG_CODE_OFFSET 0
#define DB_LOG_ARG1_OFFSET 128
#define DB_LOG_ARG2_OFFSET 256
#define DB_LOG_ARG3_OFFSET 384
#define DB_LOG_HEAD_OFFSET 512
#define DB_LOG_TAIL_OFFSET 514
#define DB_LOG_WAIT_MS 3000

class DbLogMailbox {
 public:
  DbLogMailbox() = default;

  // Creates or opens the mapping, maps it, creates or opens the mutex. Callers
  // need not test the result: a mailbox that could not be opened posts nothing.
  bool open();
  // Adds one event; false when it was lost (mutex not had within 3000 ms,
  // ring full, or mailbox not open). Nothing else is reported.
  bool post(WORD code, WORD arg1, WORD arg2, WORD arg3);

 private:
  SharedBlock block;  // "DB_LOG_DATA" and "DB_LOG_MMF_MUTEX"

  DbLogMailbox(const DbLogMailbox&) = delete;
  DbLogMailbox& operator=(const DbLogMailbox&) = delete;
};

// Little-endian word access to the block, shared with the reading side.
inline WORD dbLogWord(const BYTE* block, DWORD offset) {
  return static_cast<WORD>(block[offset] | (block[offset + 1] << 8));
}
inline void setDbLogWord(BYTE* block, DWORD offset, WORD value) {
  block[offset] = static_cast<BYTE>(value & 0xFF);
  block[offset + 1] = static_cast<BYTE>(value >> 8);
}

#endif  // QUENTA_LINKS_DBLOGMAILBOX_H_
