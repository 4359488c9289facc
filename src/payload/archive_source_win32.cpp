#include "payload/archive_source.h"

#include "payload/file_streams.h"

namespace kestrova::payload {

std::unique_ptr<ByteSource> OpenArchiveSource(const ArchiveLocation& location, std::string* error) {
  if (location.hasFromFile) return OpenFileSource(location.fromFile, error);
  if (location.hasDb && location.hasRow) return OpenMsiRowSource(location.db, location.row, error);
  *error = "give --db and --row, or --from-file";
  return nullptr;
}

}  // namespace kestrova::payload
