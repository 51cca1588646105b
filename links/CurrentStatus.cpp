#include "links/CurrentStatus.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Byte by byte: the 16-bit fields at odd offsets (85, 87) are not aligned.
int fieldNumber(const BYTE* block, const StatusField& field) {
  unsigned low = block[field.offset];
  switch (field.type) {
    case kStatusSigned16:
      return static_cast<int16_t>(static_cast<uint16_t>(low | (block[field.offset + 1] << 8)));
    case kStatusUnsigned16:
      return static_cast<int>(low | (block[field.offset + 1] << 8));
    case kStatusUnsigned8:
    default:
      return static_cast<int>(low);
  }
}

}  // namespace

CurrentStatus::CurrentStatus() : JSVariable(SafeCString("CurrentStatus")), snapshotFresh(false) {
  // Until the first copy the status reads as all zero.
  for (DWORD i = 0; i < CURRENT_STATUS_BLOCK_SIZE; ++i) {
    snapshot[i] = 0;
  }
  // Not checked: without the block or its mutex, every copy fails and the
  // status stays the all-zero snapshot.
  block.open(CURRENT_STATUS_MAPPING, CURRENT_STATUS_BLOCK_SIZE, CURRENT_STATUS_MUTEX);
}

bool CurrentStatus::copyBlock() {
  // The mutex is held only for the copy, never while formatting.
  if (!block.lock(CURRENT_STATUS_WAIT_MS, false)) return false;
  const BYTE* view = block.data();
  for (DWORD i = 0; i < CURRENT_STATUS_BLOCK_SIZE; ++i) {
    snapshot[i] = view[i];
  }
  block.unlock();
  return true;
}

bool CurrentStatus::refresh() {
  snapshotFresh = copyBlock();
  return snapshotFresh;
}

SafeCString* CurrentStatus::getValue() {
  // The first request, and any whose query changed, come here without a
  // refresh(); they copy the block themselves rather than show an old copy.
  if (!snapshotFresh) {
    copyBlock();
  }
  snapshotFresh = false;

  SafeCString* value = new (std::nothrow) SafeCString(JS_OPEN_BRACE);
  if (value == nullptr) {
    return nullptr;
  }
  for (DWORD i = 0; i < CURRENT_STATUS_FIELD_COUNT; ++i) {
    const StatusField& field = kStatusFields[i];
    if (i > 0) value->append(JS_COMMA);
    value->append(field.key, static_cast<DWORD>(strlen(field.key)));
    value->append(JS_COLON);
    if (field.type == kStatusText) {
      // Up to the first zero byte, never past the field's width.
      char text[CURRENT_STATUS_BLOCK_SIZE + 1];
      DWORD length = 0;
      while (length < field.width && snapshot[field.offset + length] != 0) {
        text[length] = static_cast<char>(snapshot[field.offset + length]);
        ++length;
      }
      value->append(JS_QUOTE);
      value->append(text, length);
      value->append(JS_QUOTE);
    } else {
      char number[16];
      int length = snprintf(number, sizeof number, "%i", fieldNumber(snapshot, field));
      value->append(number, static_cast<DWORD>(length));
    }
  }
  value->append(JS_CLOSE_BRACE);
  return value;
}

JSVariable* createCurrentStatus(const void*) {
  return new (std::nothrow) CurrentStatus();
}
