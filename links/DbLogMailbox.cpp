#include "links/DbLogMailbox.h"

bool DbLogMailbox::open() {
  // Whoever creates the mapping first gets it zero-filled: an empty ring.
  return block.open(DB_LOG_MAPPING, DB_LOG_BLOCK_SIZE, DB_LOG_MUTEX);
}

bool DbLogMailbox::post(WORD code, WORD arg1, WORD arg2, WORD arg3) {
  // A wait that times out or fails loses the event.
  if (!block.lock(DB_LOG_WAIT_MS, false)) return false;
  BYTE* view = block.data();
  // A head beyond the ring can only come from a corrupted block; it is taken
  // modulo the ring so that no write leaves its array.
  WORD old = dbLogWord(view, DB_LOG_HEAD_OFFSET) & (DB_LOG_SLOTS - 1);
  WORD head = (old + 1) & (DB_LOG_SLOTS - 1);
  bool posted = head != dbLogWord(view, DB_LOG_TAIL_OFFSET);
  if (posted) {
    setDbLogWord(view, DB_LOG_CODE_OFFSET + 2 * old, code);
    setDbLogWord(view, DB_LOG_ARG1_OFFSET + 2 * old, arg1);
    setDbLogWord(view, DB_LOG_ARG2_OFFSET + 2 * old, arg2);
    setDbLogWord(view, DB_LOG_ARG3_OFFSET + 2 * old, arg3);
    setDbLogWord(view, DB_LOG_HEAD_OFFSET, head);
  }
  // A full ring drops the newest event; head stays where it was.
  block.unlock();
  return posted;
}
