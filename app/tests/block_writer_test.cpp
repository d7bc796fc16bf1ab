// The writer of zefi's output on its own thread: blocks reach the descriptor in order (also
// when filled on several threads), and a descriptor that refuses bytes is a failure that
// finish() reports without blocking.
#include "app/block_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "formula/qdimacs_writer.hpp"

namespace ZEFI {
namespace {

// Many times the bytes of the blocks in circulation, and a clause longer than a block.
bool writeAll(QdimacsWriter& writer) {
  writer.header(7000000, 2000001);
  writer.quantifiers(Exists, 1, 400000);
  std::vector<Literal> longClause;
  for (std::uint32_t v = 1; v <= 300000; ++v) longClause.push_back(makeLiteral(v, v % 2 == 0));
  writer.clause(longClause);
  for (std::uint32_t v = 1; v <= 2000000; ++v) {
    const Literal line[3] = {makeLiteral(v, true), makeLiteral(v + 1, false),
                             makeLiteral(7000000 - v, v % 5 == 0)};
    writer.clause(line);
  }
  return writer.finish();
}

// Also into a file of its own, whose blocks on disk are reserved ahead: what was reserved
// past the end is handed back (on a file system that can reserve).
TEST(FileBlockWriter, WritesEveryBlockInOrder) {
  std::ostringstream expected;
  QdimacsWriter streamWriter(expected);
  ASSERT_TRUE(writeAll(streamWriter));
  ASSERT_GT(expected.str().size(), 4 * FileBlockWriter::kBlockCount * FileBlockWriter::kBlockSize);
  for (const bool ownFile : {false, true}) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
      FileBlockWriter blocks(fileno(file), {}, ownFile);
      QdimacsWriter writer(blocks);
      ASSERT_TRUE(writeAll(writer));
    }
    struct stat status;
    ASSERT_EQ(fstat(fileno(file), &status), 0);
    EXPECT_EQ(static_cast<std::size_t>(status.st_size), expected.str().size());
    EXPECT_LT(static_cast<std::size_t>(status.st_blocks) * 512, expected.str().size() + (64 << 10))
        << "own file: " << ownFile;
    std::string written(expected.str().size() + 1, '\0');
    std::rewind(file);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_TRUE(written == expected.str()) << "own file: " << ownFile;
  }
}

// Blocks filled on two threads, some put back late, reach the file in the order of their
// numbers; a block taken past the last one goes back unwritten.
TEST(FileBlockWriter, BlocksPutOutOfOrderAreWrittenInSequence) {
  constexpr std::size_t kBlocks = 300;
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    FileBlockWriter blocks(fileno(file), {});
    ASSERT_TRUE(blocks.threaded());
    const auto fill = [&blocks] {
      for (;;) {
        const FileBlockWriter::Taken taken = blocks.take();
        if (taken.sequence >= kBlocks) {
          blocks.giveBack(taken.block);
          return;
        }
        const std::string line = std::to_string(taken.sequence) + "\n";
        line.copy(taken.block, line.size());
        if (taken.sequence % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        blocks.put(taken.sequence, taken.block, line.size());
      }
    };
    std::thread other(fill);
    fill();
    other.join();
    EXPECT_TRUE(blocks.finish());
  }
  std::string expected;
  for (std::size_t k = 0; k < kBlocks; ++k) expected += std::to_string(k) + "\n";
  std::string written(expected.size() + 1, '\0');
  std::rewind(file);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  EXPECT_EQ(written, expected);
}

TEST(FileBlockWriter, RefusedBytesAreReportedByFinish) {
  for (const auto& [path, flags] :
       {std::pair{"/dev/full", O_WRONLY}, std::pair{"/dev/null", O_RDONLY}}) {
    const int fd = ::open(path, flags);
    ASSERT_GE(fd, 0) << path;
    {
      FileBlockWriter blocks(fd, {});
      QdimacsWriter writer(blocks);
      EXPECT_FALSE(writeAll(writer)) << path;
    }
    ::close(fd);
  }
}

}  // namespace
}  // namespace ZEFI
