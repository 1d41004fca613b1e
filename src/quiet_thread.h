// Helper threads that take no signals: a signal stays with the thread that
// acts on it (the main one, which checks its flags between lines).
#pragma once

#include <pthread.h>

#include <csignal>
#include <system_error>
#include <thread>
#include <utility>

namespace pairhits {

// Starts `body` on `thread`; false if the system has no thread to give.
template <typename Body>
bool start_quiet_thread(std::thread& thread, Body body) noexcept {
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  bool started = true;
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started;
}

}  // namespace pairhits
