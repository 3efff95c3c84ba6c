// Runs a piece of the program with standard output captured.
#ifndef VOLMO_TESTS_UNIT_CAPTURE_H
#define VOLMO_TESTS_UNIT_CAPTURE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

struct CapturedRun {
  int result;
  std::string output;
};

template <typename Function>
CapturedRun RunCaptured(Function function) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  int result = function();
  std::fflush(stdout);
  return CapturedRun{result, testing::internal::GetCapturedStdout()};
}

// The entry function over an argument vector, written as a list of texts.
int DispatchCommand(int argc, char* argv[]);
inline CapturedRun RunVolmo(std::vector<std::string> args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("volmo"));
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return RunCaptured(
      [&] { return DispatchCommand(static_cast<int>(argv.size() - 1), argv.data()); });
}

#endif
