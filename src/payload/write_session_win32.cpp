#include "payload/write_session.h"

#include "securefs/paths.h"

namespace kestrova::payload {

WriteSession::WriteSession() : thread_([this] { Work(); }) {}

WriteSession::~WriteSession() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  work_.notify_all();
  thread_.join();
}

void WriteSession::Prove(const WideString& target, const Entry& entry) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return waiting_.size() < kMaxWaiting || failed_; });
    // After a failure the command stops at its next check; proving more would only cost time.
    if (!failed_) waiting_.push_back({target, entry, queued_});
    ++queued_;
  }
  work_.notify_one();
}

void WriteSession::Work() {
  while (true) {
    Waiting next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      next = std::move(waiting_.front());
      waiting_.pop_front();
      busy_ = true;
    }
    room_.notify_all();
    // The name is the file the writer just created and closed: opening it answers whether it is still a file, with
    // no query beforehand.
    uint64_t length = 0;
    Sha256Digest digest{};
    const bool proven = hasher_.Hash(next.target, &length, &digest, next.entry.size) && length == next.entry.size &&
                        digest == next.entry.sha256;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      busy_ = false;
      if (!proven && !failed_) {
        failed_ = true;
        failedIndex_ = next.index;
        failure_ = WideToUtf8(securefs::DisplayPath(next.target)) + " does not match the archive after writing";
        waiting_.clear();
      }
    }
    room_.notify_all();
  }
}

bool WriteSession::Failed(uint64_t* provenBefore, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!failed_) return false;
  *provenBefore = failedIndex_;
  if (error) *error = failure_;
  return true;
}

bool WriteSession::Finish(uint64_t* provenBefore, std::string* error) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return (waiting_.empty() && !busy_) || failed_; });
  }
  return !Failed(provenBefore, error);
}

}  // namespace kestrova::payload
