#include "payload/delta_pack.h"

#include <map>

#include "payload/archive_reader.h"
#include "payload/archive_writer.h"
#include "payload/delta_archive.h"
#include "payload/delta_patch.h"
#include "payload/manifest.h"
#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

enum class Kind { kWhole, kReference, kPatch };

struct Plan {
  Kind kind = Kind::kWhole;
  size_t base = 0;  // index into the base archive's entries
};

bool Fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

bool ReadBaseEntries(ByteSource& base, std::vector<Entry>* entries, std::string* error) {
  Reader reader(base);
  if (!reader.ReadHeader(error)) return Fail(error, "base: " + *error);
  for (;;) {
    Entry entry;
    const RecordOutcome outcome = reader.NextRecord(&entry, error);
    if (outcome == RecordOutcome::kEnd) return true;
    if (outcome != RecordOutcome::kEntry || !reader.ReadData(entry, nullptr, error)) return Fail(error, "base: " + *error);
    entries->push_back(std::move(entry));
  }
}

// The base files' content in archive order, read again from the start whenever a file lies behind.
class BaseContent {
 public:
  explicit BaseContent(ByteSource& base) : base_(base) {}

  bool Load(size_t index, std::vector<uint8_t>* content, std::string* error) {
    if (!reader_ || index < next_) {
      if (!base_.Rewind()) return Fail(error, "could not read the base again");
      reader_ = std::make_unique<Reader>(base_);
      next_ = 0;
      if (!reader_->ReadHeader(error)) return Fail(error, "base: " + *error);
    }
    for (;; ++next_) {
      Entry entry;
      if (reader_->NextRecord(&entry, error) != RecordOutcome::kEntry) return Fail(error, "base: " + *error);
      if (next_ < index) {
        if (!reader_->ReadData(entry, nullptr, error)) return Fail(error, "base: " + *error);
        continue;
      }
      content->clear();
      content->reserve(entry.size);
      const DataCallback append = [content](const uint8_t* data, size_t length) {
        content->insert(content->end(), data, data + length);
        return true;
      };
      ++next_;
      return reader_->ReadData(entry, append, error) || Fail(error, "base: " + *error);
    }
  }

 private:
  ByteSource& base_;
  std::unique_ptr<Reader> reader_;
  size_t next_ = 0;
};

bool LoadWhole(ByteSource& source, uint64_t size, std::vector<uint8_t>* content) {
  content->resize(size);
  size_t got = 0;
  return source.Read(content->data(), content->size(), &got) && got == size;
}

}  // namespace

bool WriteDeltaArchive(ByteSink& sink, ByteSource& base, const std::vector<Entry>& files, const OpenContent& open,
                       unsigned workers, DeltaCounts* counts, std::string* error) {
  std::vector<Entry> baseEntries;
  if (!ReadBaseEntries(base, &baseEntries, error)) return false;
  std::map<Sha256Digest, size_t> byContent;
  std::map<std::string, size_t> byPath;
  for (size_t i = 0; i < baseEntries.size(); ++i) {
    byContent.emplace(baseEntries[i].sha256, i);
    byPath.emplace(baseEntries[i].path, i);
  }

  // Equal content is taken from the base file of the same path when there is one, else from any with it.
  std::vector<Plan> plans(files.size());
  std::map<size_t, uint32_t> used;
  for (size_t i = 0; i < files.size(); ++i) {
    const auto samePath = byPath.find(files[i].path);
    const auto sameContent = byContent.find(files[i].sha256);
    if (samePath != byPath.end() && baseEntries[samePath->second].sha256 == files[i].sha256) {
      plans[i] = {Kind::kReference, samePath->second};
    } else if (sameContent != byContent.end()) {
      plans[i] = {Kind::kReference, sameContent->second};
    } else if (samePath != byPath.end() && files[i].size <= kMaxPatchedFileBytes &&
               baseEntries[samePath->second].size <= kMaxPatchedFileBytes) {
      plans[i] = {Kind::kPatch, samePath->second};
    } else {
      continue;
    }
    used.emplace(plans[i].base, 0);
  }
  std::vector<BaseFile> baseFiles;
  for (auto& [index, position] : used) {
    position = static_cast<uint32_t>(baseFiles.size());
    baseFiles.push_back(baseEntries[index]);
  }

  const std::string manifest = FormatManifest(baseEntries);
  Sha256 identity;
  identity.Add(manifest.data(), manifest.size());
  Sha256Digest baseId{};
  if (!identity.Finish(&baseId) || !WriteDeltaHeader(sink, baseId, baseFiles)) return Fail(error, "write failed");

  Writer writer(sink, workers);
  if (!writer.HasCompressor()) return Fail(error, "could not create the XPRESS_HUFF compressor");
  BaseContent baseContent(base);
  std::vector<uint8_t> old;
  std::vector<uint8_t> fresh;
  for (size_t i = 0; i < files.size(); ++i) {
    const Entry& file = files[i];
    if (plans[i].kind == Kind::kReference) {
      if (!writer.AddReference(file.path, file.size, file.sha256, used[plans[i].base], error)) return false;
      ++counts->references;
      continue;
    }
    const std::unique_ptr<ByteSource> content = open(i, error);
    if (!content) return false;
    if (plans[i].kind == Kind::kWhole) {
      if (!writer.AddFile(file.path, file.size, file.sha256, *content, error)) return false;
      ++counts->whole;
      continue;
    }
    if (!baseContent.Load(plans[i].base, &old, error)) return false;
    Sha256 check;
    Sha256Digest actual{};
    if (!LoadWhole(*content, file.size, &fresh)) return Fail(error, QuotedPath(file.path) + " is shorter than its size");
    check.Add(fresh.data(), fresh.size());
    if (!check.Finish(&actual) || actual != file.sha256) {
      return Fail(error, QuotedPath(file.path) + " changed while being packed");
    }
    const std::vector<uint8_t> patch = MakePatch(old.data(), old.size(), fresh.data(), fresh.size());
    if (!writer.AddPatch(file.path, file.size, file.sha256, used[plans[i].base], patch, error)) return false;
    ++counts->patches;
  }
  if (!writer.Finish(error)) return false;
  if (!WriteEndRecord(sink, writer.entriesWritten())) return Fail(error, "write failed");
  return true;
}

}  // namespace kestrova::payload
