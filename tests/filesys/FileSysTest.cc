// The real file system against real files, directories, FIFOs and devices,
// and the file system the PDF library is handed.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "outside/filesys/CPdfFileSysIf.h"
#include "support/PdfBuilder.h"

namespace {

using outside::DefaultFileSys;
using outside::File;

class RealFileSysTest : public ::testing::Test {
 protected:
  int open(const std::string& path) { return DefaultFileSys()->open(path, &file_); }
  pdftest::TempDir dir_;
  std::unique_ptr<File> file_;
};

TEST_F(RealFileSysTest, ReadsARegularFileAtOffsets) {
  std::string bytes = "0123456789abcdefghij";
  ASSERT_EQ(open(dir_.write("f.bin", bytes)), 0);
  ASSERT_NE(file_, nullptr);
  EXPECT_EQ(file_->size(), bytes.size());
  char buffer[32] = {};
  EXPECT_EQ(file_->readAt(10, buffer, 5), 5);
  EXPECT_EQ(std::string(buffer, 5), "abcde");
  EXPECT_EQ(file_->readAt(15, buffer, 32), 5);  // short near the end
  EXPECT_EQ(std::string(buffer, 5), "fghij");
  EXPECT_EQ(file_->readAt(20, buffer, 8), 0);   // at the end
  EXPECT_EQ(file_->readAt(1000, buffer, 8), 0);
  EXPECT_EQ(file_->readAt(UINT64_MAX, buffer, 8), -EINVAL);
}

TEST_F(RealFileSysTest, AnEmptyFileHasSizeZero) {
  ASSERT_EQ(open(dir_.write("empty", "")), 0);
  EXPECT_EQ(file_->size(), 0u);
}

TEST_F(RealFileSysTest, MissingFilesAndEmptyPathsAreNotFound) {
  EXPECT_EQ(open(dir_.file("missing.pdf")), ENOENT);
  EXPECT_EQ(file_, nullptr);
  EXPECT_EQ(open(""), ENOENT);
  EXPECT_EQ(open(dir_.file("missing/deeper.pdf")), ENOENT);
  std::string file = dir_.write("plain", "x");
  EXPECT_EQ(open(file + "/below"), ENOTDIR);
}

TEST_F(RealFileSysTest, OnlyRegularFilesAreOpened) {
  EXPECT_EQ(open(dir_.path()), EISDIR);
  std::string fifo = dir_.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(open(fifo), ENODEV);  // returns at once: no writer is waited for
  EXPECT_EQ(file_, nullptr);
  EXPECT_EQ(open("/dev/null"), ENODEV);
  std::string socketPath = dir_.file("sock");
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(open(socketPath), ENODEV);
  ::close(fd);
}

TEST_F(RealFileSysTest, SymlinksToRegularFilesAreFollowed) {
  std::string target = dir_.write("target", "abc");
  std::string link = dir_.file("link");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(open(link), 0);
  EXPECT_EQ(file_->size(), 3u);
  std::string toDir = dir_.file("dirlink");
  ASSERT_EQ(::symlink(dir_.path().c_str(), toDir.c_str()), 0);
  EXPECT_EQ(open(toDir), EISDIR);
}

TEST_F(RealFileSysTest, UnreadableFilesAreRefusedUnlessPrivileged) {
  std::string path = dir_.write("secret", "x");
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  EXPECT_EQ(open(path), EACCES);
}

TEST(FileSysHandleTest, CreateHandsOutTheInstalledFileSystem) {
  ASFileSys fileSys = CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead);
  EXPECT_EQ(outside::FileSysFromHandle(fileSys), DefaultFileSys());
  outside::FileSysWrapper wrapper(DefaultFileSys());
  outside::FileSys* previous = outside::SetFileSysForTesting(&wrapper);
  EXPECT_EQ(previous, DefaultFileSys());
  EXPECT_EQ(outside::FileSysFromHandle(CPdfFileSysIf::Create(CPdfFileSysIf::eModeRead)), &wrapper);
  EXPECT_EQ(outside::SetFileSysForTesting(nullptr), &wrapper);
  EXPECT_EQ(outside::FileSysFromHandle(CPdfFileSysIf::Create(CPdfFileSysIf::eModeDefault)), DefaultFileSys());
  CPdfFileSysIf::IgnorePool(true);
  EXPECT_TRUE(CPdfFileSysIf::PoolIgnored());
  CPdfFileSysIf::IgnorePool(false);
  EXPECT_FALSE(CPdfFileSysIf::PoolIgnored());
}

}  // namespace
