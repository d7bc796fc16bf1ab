// The writer of zefi's output on its own thread: blocks reach the descriptor in order, and a
// descriptor that refuses bytes is a failure that finish() reports without blocking.
#include "app/block_writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
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

TEST(FileBlockWriter, WritesEveryBlockInOrder) {
  std::ostringstream expected;
  QdimacsWriter streamWriter(expected);
  ASSERT_TRUE(writeAll(streamWriter));
  ASSERT_GT(expected.str().size(), 4 * FileBlockWriter::kBlockCount * FileBlockWriter::kBlockSize);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  {
    FileBlockWriter blocks(fileno(file), {});
    QdimacsWriter writer(blocks);
    ASSERT_TRUE(writeAll(writer));
  }
  std::string written(expected.str().size() + 1, '\0');
  std::rewind(file);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  EXPECT_TRUE(written == expected.str());
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
