// The real file system against real files, links, directories, FIFOs and
// devices. (The PDF library reading through the installed one is the
// engine's test.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "outside/filesys/CPdfFileSysIf.h"
#include "pdfbuilder/PdfBuilder.h"

namespace pdfparse::test {
namespace {

TEST(RealFileSysTest, ReadsRegularFilesAtOffsetsAndRefusesEverythingElse) {
  pdfbuilder::TempDir dir;
  std::unique_ptr<outside::File> file;
  ASSERT_EQ(outside::DefaultFileSys()->open(dir.write("f.bin", "0123456789abcdefghij"), &file), 0);
  EXPECT_EQ(file->size(), 20u);
  char buffer[32] = {};
  EXPECT_EQ(file->readAt(10, buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "abcde");
  EXPECT_EQ(file->readAt(15, buffer, 32), 5);  // short near the end
  EXPECT_EQ(std::string(buffer, 5), "fghij");
  EXPECT_EQ(file->readAt(1000, buffer, 8), 0);
  EXPECT_EQ(file->readAt(UINT64_MAX, buffer, 8), -EINVAL);

  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(dir.file("f.bin").c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("dirlink").c_str()), 0);
  const std::pair<std::string, int> cases[] = {
      {dir.write("empty", ""), 0},
      {dir.file("link"), 0},
      {dir.file("missing.pdf"), ENOENT},
      {"", ENOENT},
      {dir.file("f.bin/below"), ENOTDIR},
      {dir.path(), EISDIR},
      {dir.file("dirlink"), EISDIR},
      {dir.file("fifo"), ENODEV},  // at once: no writer is waited for
      {"/dev/null", ENODEV},
  };
  for (const auto& [path, error] : cases) {
    file.reset();
    EXPECT_EQ(outside::DefaultFileSys()->open(path, &file), error) << path;
    EXPECT_EQ(file != nullptr, error == 0) << path;
  }
  if (::geteuid() != 0) {  // root reads every file
    ASSERT_EQ(::chmod(dir.file("empty").c_str(), 0), 0);
    EXPECT_EQ(outside::DefaultFileSys()->open(dir.file("empty"), &file), EACCES);
  }
}

}  // namespace
}  // namespace pdfparse::test
