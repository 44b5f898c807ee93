#include "extract/threaded_source.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {
namespace {

// Hands out "0123456789" pieces, then fails or ends.
class CountingSource final : public ByteSource {
 public:
  CountingSource(int pieces, SRes end) : left_(pieces), end_(end) {}
  SRes next(const Byte** data, size_t* size) override {
    *size = 0;
    if (left_ == 0) return end_;
    --left_;
    *data = reinterpret_cast<const Byte*>(kDigits);
    *size = 10;
    ++calls_;
    return SZ_OK;
  }
  int calls() const { return calls_; }

 private:
  static constexpr const char* kDigits = "0123456789";
  int left_;
  SRes end_;
  int calls_ = 0;
};

// Everything `source` gives until its end; the result it ended with.
SRes drain(ByteSource& source, std::string* bytes) {
  for (;;) {
    const Byte* data = nullptr;
    size_t size = 0;
    const SRes result = source.next(&data, &size);
    if (result != SZ_OK || size == 0) return result;
    bytes->append(reinterpret_cast<const char*>(data), size);
  }
}

TEST(ThreadedSourceTest, PassesBytesInOrderThenTheEndOrTheFailure) {
  for (SRes end : {SZ_OK, SZ_ERROR_DATA}) {
    CountingSource inner(50, end);
    ThreadedSource threaded(&inner);
    ASSERT_TRUE(threaded.start());
    std::string bytes;
    EXPECT_EQ(drain(threaded, &bytes), end);
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += "0123456789";
    EXPECT_EQ(bytes, expected);
    // The end stays the end.
    const Byte* data = nullptr;
    size_t size = 1;
    EXPECT_EQ(threaded.next(&data, &size), end);
    EXPECT_EQ(size, 0u);
  }
}

TEST(ThreadedSourceTest, StopsAReaderThatGivesUpEarly) {
  // The consumer takes one piece and leaves; the producer waits for
  // buffers and must be stopped, not left hanging.
  CountingSource inner(1000, SZ_OK);
  {
    ThreadedSource threaded(&inner);
    ASSERT_TRUE(threaded.start());
    const Byte* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(threaded.next(&data, &size), SZ_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), "0123456789");
  }
  EXPECT_LT(inner.calls(), 1000);
}

}  // namespace
}  // namespace kv
