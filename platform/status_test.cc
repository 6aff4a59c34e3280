#include "platform/status.h"

#include <gtest/gtest.h>

#include <vector>

namespace hvq {
namespace {

TEST(Status, ToStringNamesCodePageAndOffset) {
  struct Case {
    Status status;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {Status::Ok(), "ok"},
      {Status::IoError("disk"), "I/O error: disk"},
      {Status::Corruption("bad row offset", 12, 0x1a),
       "corruption: bad row offset (page 12, offset 0x1a)"},
      {Status::NotFound("x").WithContext("open"), "not found: open: x"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.status.ToString(), c.expected);
}

Result<int> Half(int v) {
  if (v % 2) return Status::InvalidArgument("odd");
  return v / 2;
}

Result<int> Quarter(int v) {
  HVQ_ASSIGN_OR_RETURN(int h, Half(v));
  HVQ_ASSIGN_OR_RETURN(int q, Half(h));
  return q;
}

TEST(Result, PropagatesFirstError) {
  EXPECT_EQ(*Quarter(8), 2);
  Result<int> r = Quarter(6);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::kInvalidArgument);
  // An OK status cannot masquerade as a value.
  Result<int> bogus(Status::Ok());
  EXPECT_FALSE(bogus.ok());
  EXPECT_EQ(bogus.status().code(), StatusCode::kInternal);
}

}  // namespace
}  // namespace hvq
