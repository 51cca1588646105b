// The module's two fixed registries: the data files served on GET and the form
// handlers served on POST. Both are built once by GetExtensionVersion and only
// read while serving; requests scan them from the first entry and the first
// entry whose path matches wins.
//
// An entry whose generator or handler could not be made (not built into this
// module, or its allocation failed) stays null and is skipped while matching.
#ifndef QUENTA_FRAME_REGISTRY_H_
#define QUENTA_FRAME_REGISTRY_H_

#include "core/JSFile.h"
#include "core/JSVariable.h"

#define JS_FILE_COUNT 147
#define POST_RESPONSE_COUNT 30

class PostResponse;

// Makes the generator of a data file from its family's row (null for a
// generator class of its own).
typedef JSVariable* (*JSVariableFactory)(const void* row);
typedef PostResponse* (*PostResponseFactory)();

struct DataFileEntry {
  const char* path;
  JSVariableFactory create;  // null: not built into this module yet
  const void* row;
};

struct FormEntry {
  const char* path;
  PostResponseFactory create;
};

// The data files in registry order (JS_FILE_COUNT entries), assembled from
// the rows of the families, each of which knows its registry place: a path is
// written once, in its family's row, and the registry, the generators and the
// tests read it there.
const DataFileEntry* dataFileEntries();
extern const FormEntry kForms[POST_RESPONSE_COUNT];

extern JSVariable* JSVariableTable[JS_FILE_COUNT];
extern JSFile* JSFileTable[JS_FILE_COUNT];
extern PostResponse* PostResponseTable[POST_RESPONSE_COUNT];

// All generators first, then the data files, then the form handlers, in order.
void buildRegistries();
// Data files, then generators, then form handlers; the entries keep their
// (dangling) values, as no request may arrive after unloading.
void destroyRegistries();

#endif  // QUENTA_FRAME_REGISTRY_H_
