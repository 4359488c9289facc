// What a command that writes a whole tree keeps from one file to the next: the folder the last write made sure of,
// and the proving of each written file, which runs on a thread of its own so that reading one file back overlaps
// writing the next. Windows only. It does not write files (write_entry.h does) and decides nothing about a failure
// beyond reporting the first one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "core/text.h"
#include "payload/archive_format.h"
#include "payload/hash_file.h"

namespace kestrova::payload {

class WriteSession {
 public:
  WriteSession();
  // Stops the proving thread once its current file is done; files still waiting are not proven.
  ~WriteSession();
  WriteSession(const WriteSession&) = delete;
  WriteSession& operator=(const WriteSession&) = delete;

  // Entries come sorted by path, so most files land where the one before did: this is the folder the last write
  // created or found, and the next write into it neither looks at it nor creates it again.
  WideString folder;

  // Queues the closed file `target` to be read back and compared with `entry`; waits while kMaxWaiting files wait.
  // The file is the session's `proven`th: the number of files queued before it.
  void Prove(const WideString& target, const Entry& entry);
  static constexpr size_t kMaxWaiting = 64;

  // Whether a proof has failed so far; then *provenBefore is the number of files queued before the first that failed
  // and *error says "<t> does not match the archive after writing" (t: the file's display form).
  bool Failed(uint64_t* provenBefore, std::string* error);
  // Waits until every queued file is proven; false as Failed says.
  bool Finish(uint64_t* provenBefore, std::string* error);

 private:
  struct Waiting {
    WideString target;
    Entry entry;
    uint64_t index = 0;
  };
  void Work();

  FileHasher hasher_;
  uint64_t queued_ = 0;
  std::deque<Waiting> waiting_;
  bool busy_ = false;
  bool stopping_ = false;
  bool failed_ = false;
  uint64_t failedIndex_ = 0;
  std::string failure_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable room_;
  std::thread thread_;
};

}  // namespace kestrova::payload
