// A fresh folder per test for the file tests, with small helpers to write and read raw bytes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class TempFolderTest : public ::testing::Test {
 protected:
  explicit TempFolderTest(const char* prefix) : prefix_(prefix) {}
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / (prefix_ + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }
  static void put(const std::string& p, std::string_view bytes) {
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string get(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::filesystem::path dir_;

 private:
  std::string prefix_;
};
