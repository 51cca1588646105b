#include "core/JSFile.h"

namespace {

// What clearOutput copies in. Being a constant with a buffer, it never fails
// as a source; copying it into `output` keeps output's buffer for reuse and
// resets its status.
const SafeCString kNoText("");

}  // namespace

JSFile::JSFile(const SafeCString& path)
    : variableTotal(0), path(path), lastProduced(GetTickCount()) {
  for (DWORD i = 0; i < kMaxVariables; ++i) {
    variables[i] = nullptr;
  }
  InitializeCriticalSection(&guard);
}

JSFile::~JSFile() {
  DeleteCriticalSection(&guard);
}

// The list is a fixed array: the registry gives each file one generator, and
// a full list refuses more rather than allocating.
bool JSFile::addVariable(JSVariable* variable) {
  if (variable == nullptr || variableTotal >= kMaxVariables) {
    return false;
  }
  variables[variableTotal++] = variable;
  return true;
}

bool JSFile::matches(const SafeCString& requestPath) {
  return path == requestPath;
}

bool JSFile::needsRebuild(const SafeCString& query) {
  if (output.getLength() == 0) {
    return true;
  }
  if (query != lastQuery) {
    return true;
  }
  // The first generator that asks for a rebuild decides; the rest are not
  // asked (a refresh() may have side effects, such as taking a lock).
  for (DWORD i = 0; i < variableTotal; ++i) {
    if (variables[i]->refresh()) {
      return true;
    }
  }
  return false;
}

void JSFile::clearOutput() {
  output = kNoText;
}

bool JSFile::rebuild(const SafeCString& query) {
  clearOutput();
  for (DWORD i = 0; i < variableTotal; ++i) {
    SafeCString* text = variables[i]->generate(query);
    if (text == nullptr) {
      return false;
    }
    HRESULT textStatus = text->getStatus();
    output.append(*text);
    delete text;
    // The text so far stays in `output` and is what gets sent.
    if (output.getStatus() < 0 || textStatus < 0) {
      return false;
    }
  }
  return true;
}

// No lock is taken here: the caller holds lock() from this call until it has
// copied the text out of `output`.
SafeCString* JSFile::produce(const SafeCString& query) {
  if (needsRebuild(query)) {
    rebuild(query);
  }
  lastProduced = GetTickCount();
  lastQuery = query;
  return &output;
}
