// The texts of the parameter-code files, from the family's own rows: the
// rows are the one place that says which file reads which code.
#ifndef QUENTA_TESTS_JS_VARS_PCODEEXPECTATIONS_H_
#define QUENTA_TESTS_JS_VARS_PCODEEXPECTATIONS_H_

#include <string>

#include "frame/Registry.h"
#include "js_vars/PCodeValues.h"

inline std::string expectedPCodeText(const PCodeRow& row, unsigned value) {
  return std::string("var ") + row.variable + " = {" + row.field + ":" + std::to_string(value) + "};\n";
}

inline std::string expectedDiagnostics(unsigned veyra, unsigned job, unsigned part, unsigned weld) {
  return "var WeldMonitorDiagnostics = {VeyraEnabled:" + std::to_string(veyra) + ",JobID:" + std::to_string(job) +
         ",PartID:" + std::to_string(part) + ",WeldID:" + std::to_string(weld) + "};\n";
}

// The weld-monitoring diagnostics file: registry entry 142.
inline const char* diagnosticsPath() { return dataFileEntries()[142 - 1].path; }

#endif  // QUENTA_TESTS_JS_VARS_PCODEEXPECTATIONS_H_
