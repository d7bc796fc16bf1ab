#include "app/block_writer.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ZEFI {
namespace {

std::string contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TemporaryFile {
 public:
  TemporaryFile() {
    char name[] = "/tmp/zefi-block-writer-XXXXXX";
    fd = ::mkstemp(name);
    path = name;
  }
  ~TemporaryFile() {
    if (fd >= 0) ::close(fd);
    ::unlink(path.c_str());
  }
  int fd = -1;
  std::string path;
};

// Several times as many lines as the blocks in circulation hold, with a clause longer than
// a block: the file holds exactly what a stream would have been given, in order.
TEST(FileBlockWriterTest, WritesEveryBlockInOrder) {
  const auto writeAll = [](QdimacsWriter& writer) {
    writer.header(7000000, 3000001);
    writer.quantifiers(Exists, 1, 400000);
    std::vector<Literal> longClause;
    for (std::uint32_t v = 1; v <= 300000; ++v) longClause.push_back(makeLiteral(v, v % 2 == 0));
    writer.clause(longClause);
    for (std::uint32_t v = 1; v <= 3000000; ++v) {
      const Literal line[3] = {makeLiteral(v, true), makeLiteral(v + 1, false),
                               makeLiteral(7000000 - v, v % 5 == 0)};
      writer.clause(line);
    }
    return writer.finish();
  };
  std::ostringstream expected;
  {
    QdimacsWriter writer(expected);
    ASSERT_TRUE(writeAll(writer));
  }
  ASSERT_GT(expected.str().size(), 8 * FileBlockWriter::kBlockCount * FileBlockWriter::kBlockSize);

  TemporaryFile file;
  ASSERT_GE(file.fd, 0);
  {
    FileBlockWriter blocks(file.fd, {SIGINT});
    EXPECT_TRUE(blocks.threaded());
    QdimacsWriter writer(blocks);
    ASSERT_TRUE(writeAll(writer));
  }
  EXPECT_TRUE(contentsOf(file.path) == expected.str());
}

// A descriptor that refuses the bytes (a full device, one opened for reading only) is a
// failure that finish() reports; formatting goes on without blocking.
TEST(FileBlockWriterTest, FailedWritesAreReportedByFinish) {
  struct Target {
    const char* path;
    int flags;
  };
  for (const Target target : {Target{"/dev/full", O_WRONLY}, Target{"/dev/null", O_RDONLY}}) {
    SCOPED_TRACE(target.path);
    const int fd = ::open(target.path, target.flags);
    ASSERT_GE(fd, 0);
    {
      FileBlockWriter blocks(fd, {});
      QdimacsWriter writer(blocks);
      writer.header(1, 1);
      for (std::uint32_t v = 1; v <= 2000000; ++v) writer.quantifier(Forall, v);
      EXPECT_FALSE(writer.finish());
    }
    ::close(fd);
  }
}

// Nothing written at all is a success, and a writer dropped before finishing (as when an
// exception unwinds) leaves without waiting for blocks that were never handed over.
TEST(FileBlockWriterTest, EmptyAndAbandonedOutput) {
  TemporaryFile file;
  ASSERT_GE(file.fd, 0);
  {
    FileBlockWriter blocks(file.fd, {});
    QdimacsWriter writer(blocks);
    EXPECT_TRUE(writer.finish());
  }
  EXPECT_EQ(contentsOf(file.path), "");
  {
    FileBlockWriter blocks(file.fd, {});
    char* block = blocks.exchange(nullptr, 0);
    std::memcpy(block, "p cnf 1 0\n", 10);
    block = blocks.exchange(block, 10);
    EXPECT_NE(block, nullptr);
  }
}

// The signal masks of this process's threads, by thread name, from /proc.
std::multimap<std::string, unsigned long long> blockedSignalsByThreadName() {
  std::multimap<std::string, unsigned long long> masks;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string name;
    std::getline(comm, name);
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigBlk:", 0) == 0) {
        masks.emplace(name, std::stoull(line.substr(7), nullptr, 16));
      }
    }
  }
  return masks;
}

// The writing thread never takes the signals it was told to block, so that their handlers
// run on the thread that can block them around its own critical steps; the caller's own
// mask is as it was.
TEST(FileBlockWriterTest, WritingThreadBlocksTheNamedSignals) {
  TemporaryFile file;
  ASSERT_GE(file.fd, 0);
  sigset_t before;
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
  ASSERT_EQ(blockedSignalsByThreadName().count("zefi-write"), 0u);
  {
    FileBlockWriter blocks(file.fd, {SIGINT, SIGTERM, SIGHUP});
    ASSERT_TRUE(blocks.threaded());
    // The thread names itself first thing; give it a moment to have started.
    std::multimap<std::string, unsigned long long> threads;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      threads = blockedSignalsByThreadName();
      if (threads.count("zefi-write") != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(threads.count("zefi-write"), 1u);
    const unsigned long long mask = threads.find("zefi-write")->second;
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
      EXPECT_NE(mask & (1ull << (signalNumber - 1)), 0u) << "signal " << signalNumber;
    }
  }
  sigset_t after;
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    EXPECT_EQ(sigismember(&before, signalNumber), sigismember(&after, signalNumber));
  }
}

}  // namespace
}  // namespace ZEFI
