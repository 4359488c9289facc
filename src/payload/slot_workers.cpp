#include "payload/slot_workers.h"

namespace kestrova::payload {

SlotWorkers::~SlotWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void SlotWorkers::Start(size_t threads, std::function<void(size_t thread, size_t slot)> job) {
  job_ = std::move(job);
  for (size_t t = 0; t < threads; ++t) threads_.emplace_back([this, t] { Work(t); });
}

void SlotWorkers::Work(size_t thread) {
  while (true) {
    size_t slot = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      slot = jobs_.front();
      jobs_.pop_front();
    }
    job_(thread, slot);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      states_[slot] = State::kDone;
    }
    done_.notify_all();
  }
}

SlotWorkers::State SlotWorkers::state(size_t slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  return states_[slot];
}

void SlotWorkers::Set(size_t slot, State state) {
  std::lock_guard<std::mutex> lock(mutex_);
  states_[slot] = state;
}

size_t SlotWorkers::FirstFree() {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t slot = 0;
  while (slot < states_.size() && states_[slot] != State::kFree) ++slot;
  return slot;
}

void SlotWorkers::Queue(size_t slot) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[slot] = State::kQueued;
    jobs_.push_back(slot);
  }
  work_.notify_one();
}

void SlotWorkers::WaitDone(size_t slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this, slot] { return states_[slot] == State::kDone; });
}

}  // namespace kestrova::payload
