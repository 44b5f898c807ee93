#include "extract/writer_pipe.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace kv {
namespace {

// Keeps what reaches it, and whether any of it came on the test's thread.
class RecordingOutput final : public FolderOutput {
 public:
  void data(UInt32 folder, const Byte* data, size_t size) override {
    folders += std::to_string(folder);
    bytes.append(reinterpret_cast<const char*>(data), size);
    if (std::this_thread::get_id() == test) onCallersThread = true;
  }
  void folderEnd(UInt32, SRes) override {}
  void writerEnd() override {}

  std::thread::id test = std::this_thread::get_id();
  std::string bytes;
  std::string folders;
  bool onCallersThread = false;
};

// Pieces smaller and larger than the pipe's, ending within a piece: every
// byte arrives in order once finish() returns, on the pipe's own thread.
TEST(WriterPipeTest, HandsEveryByteOnInOrderBeforeFinishReturns) {
  RecordingOutput output;
  std::string sent;
  {
    WriterPipe pipe(output, 7);
    ASSERT_TRUE(pipe.start());
    const size_t sizes[] = {1, WriterPipe::kPieceSize - 1, WriterPipe::kPieceSize + 3,
                            5 * WriterPipe::kPieceSize, 7};
    for (size_t size : sizes) {
      std::string piece(size, '\0');
      for (size_t i = 0; i < size; ++i) piece[i] = static_cast<char>('a' + (sent.size() + i) % 23);
      pipe.data(reinterpret_cast<const Byte*>(piece.data()), piece.size());
      sent += piece;
    }
    pipe.finish();
    EXPECT_EQ(output.bytes.size(), sent.size());
    EXPECT_TRUE(output.bytes == sent);
  }
  EXPECT_EQ(output.folders.find_first_not_of('7'), std::string::npos);
  EXPECT_FALSE(output.onCallersThread);
}

}  // namespace
}  // namespace kv
