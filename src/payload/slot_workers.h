// Worker threads that take numbered slots from one queue and mark each slot done when its job is: the mechanism the
// pack's compression pipeline and the reader's decoding share. Every slot's state lives here, under one lock; what a
// slot holds and what a job does belong to the user, which owns the slots and lets a worker touch one only between
// Queue and the slot's kDone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrova::payload {

class SlotWorkers {
 public:
  // kGathering: the user fills the slot and no worker has it yet.
  enum class State { kFree, kGathering, kQueued, kDone };

  // `slots` slots, all free, and no threads yet.
  explicit SlotWorkers(size_t slots) : states_(slots, State::kFree) {}
  // Stops the threads once their current job is done; queued jobs are dropped. A user declares its SlotWorkers after
  // whatever the jobs use, so the threads stop before that goes.
  ~SlotWorkers();
  SlotWorkers(const SlotWorkers&) = delete;
  SlotWorkers& operator=(const SlotWorkers&) = delete;

  // Starts `threads` threads; thread t runs job(t, slot) for each slot it takes, then marks the slot done.
  void Start(size_t threads, std::function<void(size_t thread, size_t slot)> job);

  State state(size_t slot);
  void Set(size_t slot, State state);
  // The lowest free slot, or the slot count when none is.
  size_t FirstFree();
  // Marks the slot queued and hands it to the next free thread.
  void Queue(size_t slot);
  void WaitDone(size_t slot);

 private:
  void Work(size_t thread);

  std::vector<State> states_;
  std::function<void(size_t, size_t)> job_;
  std::deque<size_t> jobs_;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
};

}  // namespace kestrova::payload
