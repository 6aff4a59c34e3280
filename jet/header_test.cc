#include "jet/header.h"

#include <gtest/gtest.h>

#include <vector>

#include "jet/testdata/core_corpus.h"

namespace hvq::jet {
namespace {

using testing::CorpusFiles;
using testing::HaveCorpus;
using testing::MakeHeaderPage;
using testing::ReadFileBytes;

TEST(HeaderTest, EncodeThenParseRoundTrip) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    std::vector<uint8_t> page = MakeHeaderPage(v);
    // Bytes outside the owned fields must survive untouched.
    for (size_t i = 0x100; i < page.size(); ++i)
      page[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> before = page;
    auto h = ParseHeader(page);
    ASSERT_TRUE(h.ok()) << h.status().ToString();
    h->code_page = 1250;
    h->sort_order = v == JetVersion::kJet3 ? 0x40A : 0x1B0000;
    h->database_key = 0x12345678;
    h->creation_date = 40457.822309;
    h->password = v == JetVersion::kJet3 ? "secret" : "p\xC3\xA4ss";
    ASSERT_TRUE(EncodeHeader(*h, page).ok());
    auto back = ParseHeader(page);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->code_page, 1250);
    EXPECT_EQ(back->sort_order, h->sort_order);
    EXPECT_EQ(back->database_key, 0x12345678u);
    EXPECT_EQ(back->password, h->password);
    EXPECT_TRUE(VerifyPassword(*back, h->password));
    EXPECT_FALSE(VerifyPassword(*back, ""));
    if (v == JetVersion::kJet4) {
      EXPECT_DOUBLE_EQ(back->creation_date, 40457.822309);
    }
    for (size_t i = 0x100; i < page.size(); ++i) {
      ASSERT_EQ(page[i], before[i]) << "byte " << i << " changed";
    }
  }
}

TEST(HeaderTest, RefusesBadInput) {
  std::vector<uint8_t> page = MakeHeaderPage(JetVersion::kJet4);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    StatusCode code;
  };
  std::vector<uint8_t> ace = page, unknown = page, notheader = page;
  ace[kHeaderVersionOffset] = 0x02;
  unknown[kHeaderVersionOffset] = 0x41;
  notheader[0] = 0x01;
  const Case cases[] = {
      {"empty", {}, StatusCode::kCorruption},
      {"truncated in mask",
       std::vector<uint8_t>(page.begin(), page.begin() + 0x40),
       StatusCode::kCorruption},
      {"ace", ace, StatusCode::kNotSupported},
      {"unknown version", unknown, StatusCode::kNotSupported},
      {"not a header page", notheader, StatusCode::kCorruption},
  };
  for (const Case& c : cases) {
    auto h = ParseHeader(c.bytes);
    EXPECT_EQ(h.status().code(), c.code)
        << c.name << ": " << h.status().ToString();
  }
  Header h = *ParseHeader(page);
  h.password = std::string(21, 'x');
  EXPECT_EQ(EncodeHeader(h, page).code(), StatusCode::kInvalidArgument);
}

TEST(HeaderTest, EmptyPasswordAcceptsAnything) {
  auto h = ParseHeader(MakeHeaderPage(JetVersion::kJet3));
  ASSERT_TRUE(h.ok());
  EXPECT_FALSE(h->has_password());
  EXPECT_TRUE(VerifyPassword(*h, ""));
  EXPECT_TRUE(VerifyPassword(*h, "anything"));
}

TEST(HeaderTest, CorpusHeadersAndPasswords) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  int with_password = 0;
  for (const auto& c : CorpusFiles()) {
    SCOPED_TRACE(c.path);
    std::vector<uint8_t> bytes = ReadFileBytes(c.full_path);
    bytes.resize(std::min<size_t>(bytes.size(), 4096));
    auto h = ParseHeader(bytes);
    ASSERT_TRUE(h.ok()) << h.status().ToString();
    EXPECT_EQ(h->version(), c.version);
    EXPECT_EQ(h->format->page_size, c.page_size);
    EXPECT_EQ(h->encrypted(), c.encrypted);
    EXPECT_EQ(h->has_password(), c.has_password);
    if (c.has_password) {
      ++with_password;
      EXPECT_EQ(h->password, c.password);
      EXPECT_TRUE(VerifyPassword(*h, c.password));
      EXPECT_FALSE(VerifyPassword(*h, ""));
      EXPECT_FALSE(VerifyPassword(*h, c.password + "x"));
      EXPECT_FALSE(VerifyPassword(*h, c.password.substr(1)));
    } else {
      EXPECT_TRUE(VerifyPassword(*h, ""));
    }
    // Re-encoding the parsed fields reproduces page 0 exactly.
    std::vector<uint8_t> copy = bytes;
    ASSERT_TRUE(EncodeHeader(*h, copy).ok());
    EXPECT_EQ(copy, bytes);
  }
  EXPECT_EQ(with_password, 5);
}

}  // namespace
}  // namespace hvq::jet
