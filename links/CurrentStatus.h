// CurrentStatus ("/current_status.js"): the live state of the power source as
// one JavaScript object. The control process publishes a 121-byte block in the
// shared memory "DNET_DATA" and writes it only while holding the named mutex
// "DNET_MMF_MUTEX"; refresh() copies the block into `snapshot` under that
// mutex (waiting at most 1000 ms) and getValue() formats the copy without any
// lock. The module never writes the block.
//
// The JSFile that lists the generator serialises refresh() and getValue(), so
// `snapshot` needs no lock of its own.
#ifndef QUENTA_LINKS_CURRENTSTATUS_H_
#define QUENTA_LINKS_CURRENTSTATUS_H_

#include <windows.h>

#include "core/JSVariable.h"
#include "links/SharedBlock.h"

#define CURRENT_STATUS_MAPPING TEXT("DNET_DATA")
#define CURRENT_STATUS_MUTEX TEXT("DNET_MMF_MUTEX")
#define CURRENT_STATUS_BLOCK_SIZE 121
#define CURRENT_STATUS_WAIT_MS 1000
#define CURRENT_STATUS_FIELD_COUNT 24

// How a field of the block is stored. Numbers are little-endian and need not
// be aligned; texts end at their first zero byte or at their width.
enum StatusFieldType { kStatusText, kStatusSigned16, kStatusUnsigned16, kStatusUnsigned8 };

struct StatusField {
  const char* key;  // the member name in the output
  WORD offset;
  WORD width;
  StatusFieldType type;
};

// The 24 members in output order (not block order), as the control process
// lays them out; its other bytes (14-21, 24-31, 34-39, 91-120) are not read.
// The machine simulator writes the block from this same table.
inline const StatusField kStatusFields[CURRENT_STATUS_FIELD_COUNT] = {
    {"processNameID", 44, 9, kStatusText},
    {"wireTypeID", 53, 5, kStatusText},
    {"wireSizeID", 63, 5, kStatusText},
    {"gasID", 68, 5, kStatusText},
    {"alloyID", 58, 5, kStatusText},
    {"name", 73, 9, kStatusText},
    {"current_actual", 0, 2, kStatusSigned16},
    {"voltage_actual", 2, 2, kStatusSigned16},
    {"wfs_actual", 4, 2, kStatusSigned16},
    {"arc_length_command", 6, 2, kStatusSigned16},
    {"voltage_command", 8, 2, kStatusSigned16},
    {"wfs_command", 10, 2, kStatusSigned16},
    {"inductance_fendral_command", 12, 2, kStatusSigned16},
    {"error_type", 22, 2, kStatusSigned16},
    {"dnetflags", 32, 2, kStatusUnsigned16},
    {"sequence_state", 40, 2, kStatusUnsigned16},
    {"voltage_or_trim", 82, 1, kStatusUnsigned8},
    {"bankandprogram", 42, 2, kStatusUnsigned16},
    {"inductance_or_fendral", 83, 1, kStatusUnsigned8},
    {"wfs_or_current", 84, 1, kStatusUnsigned8},
    {"volts_adc", 85, 2, kStatusUnsigned16},
    {"wfs_adc", 87, 2, kStatusUnsigned16},
    {"volts_analog", 89, 1, kStatusUnsigned8},
    {"wfs_analog", 90, 1, kStatusUnsigned8},
};

class CurrentStatus : public JSVariable {
 public:
  // Creates or opens the mapping, maps it, creates or opens the mutex.
  CurrentStatus();

  bool refresh() override;
  SafeCString* getValue() override;

 private:
  // Copies the block into `snapshot` if the mutex is had within the wait;
  // false (and `snapshot` unchanged) otherwise.
  bool copyBlock();

  SharedBlock block;  // "DNET_DATA" and "DNET_MMF_MUTEX"
  BYTE snapshot[CURRENT_STATUS_BLOCK_SIZE];
  // True from a copy made by refresh() until the getValue() that uses it.
  bool snapshotFresh;
};

JSVariable* createCurrentStatus(const void* row);

#endif  // QUENTA_LINKS_CURRENTSTATUS_H_
