// Starting and joining the worker threads of itn_runner and itn_bench. A
// thread that the system cannot start (no memory for its stack, a process
// or thread limit) is the run's error, never an abort.
#pragma once

#include <iostream>
#include <system_error>
#include <thread>
#include <vector>

// Starts `count` threads, thread w running start(w) (which returns the
// std::thread it made), and joins every thread that started. Stops starting
// at the first thread that cannot start and returns its error; an empty
// error code when all ran.
template <typename Start>
std::error_code RunWorkers(int count, Start start) {
  std::vector<std::thread> threads;
  std::error_code failure;
  try {
    threads.reserve(count);
    for (int w = 0; w < count; ++w) threads.push_back(start(w));
  } catch (const std::system_error& error) {
    failure = error.code();
  } catch (const std::bad_alloc&) {
    failure = std::make_error_code(std::errc::not_enough_memory);
  }
  for (std::thread& thread : threads) thread.join();
  return failure;
}

// The error line for workers that could not all start; returns the exit
// status, 1.
inline int WorkersFailed(const std::error_code& failure) {
  std::cerr << "错误: 无法启动工作线程: " << failure.message() << std::endl;
  return 1;
}
