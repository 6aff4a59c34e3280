#include "driver/source_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/testing/temp_dir.h"

namespace hvq::driver {
namespace {

using hvq::testing::TempDir;
using hvq::testing::WriteFile;

// Another holder of a lock: a separate open file description, which
// conflicts with ours exactly as another process would.
class OtherHolder {
 public:
  explicit OtherHolder(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
  ~OtherHolder() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Flock() { return ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }
  // A Jet-style byte-range lock far past the end of the file.
  bool RangeLock() {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x10000000;
    fl.l_len = 1;
    return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
  }
  bool ReadLock() {
    struct flock fl = {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
  }

 private:
  int fd_;
};

TEST(LockFilePath, ReplacesOrAppends) {
  EXPECT_EQ(LockFilePath("/a b/data.mdb"), "/a b/data.ldb");
  EXPECT_EQ(LockFilePath("/x/DATA.MDB"), "/x/DATA.ldb");
  EXPECT_EQ(LockFilePath("/x/data"), "/x/data.ldb");
}

TEST(SourceLock, RefusesWhenInUse) {
  struct Case {
    const char* name;
    bool lock_file;  // lock the .ldb instead of the database
    std::function<bool(OtherHolder&)> take;
  };
  const Case cases[] = {
      {"flock on the database", false, &OtherHolder::Flock},
      {"record lock on the database", false, &OtherHolder::RangeLock},
      {"read lock on the database", false, &OtherHolder::ReadLock},
      {"flock on the lock file", true, &OtherHolder::Flock},
      {"record lock on the lock file", true, &OtherHolder::RangeLock},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string db = dir.path() + "data.mdb";
    WriteFile(db, "content");
    WriteFile(dir.path() + "data.ldb", "");
    OtherHolder other(c.lock_file ? dir.path() + "data.ldb" : db);
    ASSERT_TRUE(c.take(other));
    auto lock = SourceLock::Acquire(db);
    EXPECT_EQ(lock.status().code(), StatusCode::kBusy)
        << lock.status().ToString();
    EXPECT_NE(lock.status().message().find("in use"), std::string::npos);
  }
}

TEST(SourceLock, HoldsTheDatabaseUntilReleased) {
  TempDir dir;
  const std::string db = dir.path() + "data.mdb";
  WriteFile(db, "content");
  // An unlocked lock file is a left-over and does not block.
  WriteFile(dir.path() + "data.ldb", "stale");
  {
    auto lock = SourceLock::Acquire(db);
    ASSERT_TRUE(lock.ok()) << lock.status().ToString();
    OtherHolder other(db);
    EXPECT_FALSE(other.Flock());
    // Reopening the file meanwhile must not drop our locks.
    ::close(::open(db.c_str(), O_RDONLY));
    EXPECT_FALSE(other.Flock());
    EXPECT_EQ(SourceLock::Acquire(db).status().code(), StatusCode::kBusy);
  }
  OtherHolder after(db);
  EXPECT_TRUE(after.Flock());
}

TEST(SourceLock, ReportsMissingAndNonRegular) {
  TempDir dir;
  EXPECT_EQ(SourceLock::Acquire(dir.path() + "none.mdb").status().code(),
            StatusCode::kNotFound);
  EXPECT_EQ(SourceLock::Acquire(dir.MakeSubdir("sub.mdb")).status().code(),
            StatusCode::kInvalidArgument);
}

}  // namespace
}  // namespace hvq::driver
