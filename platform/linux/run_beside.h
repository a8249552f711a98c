// Two pieces of work at once, one on a thread of its own and one on the
// caller's: reading a volume, the second core decodes (or waits for the
// device) while the first does.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

// Runs beside on a thread of its own while this thread runs here, and
// waits for it; without a thread to be had, beside runs after here. What
// either throws (a table that found no memory) is thrown here once both
// have ended, never from the other thread, where it would end the process.
template <typename TBeside, typename THere>
void RunBeside(TBeside beside, THere here) {
  std::exception_ptr besideFailed;  // written by the helper, read after the join
  const auto guarded = [&] {
    try {
      beside();
    } catch (...) {
      besideFailed = std::current_exception();
    }
  };
  std::thread helper;
  try {
    helper = std::thread(guarded);
  } catch (const std::system_error&) {
  }
  std::exception_ptr hereFailed;
  try {
    here();
  } catch (...) {
    hereFailed = std::current_exception();
  }
  if (helper.joinable()) {
    helper.join();
  } else if (!hereFailed) {
    guarded();
  }
  if (hereFailed) std::rethrow_exception(hereFailed);
  if (besideFailed) std::rethrow_exception(besideFailed);
}
