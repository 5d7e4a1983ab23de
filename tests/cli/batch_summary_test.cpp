#include "cli/batch.h"
#include "support/test_images.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace varnholt {
namespace {

QString Contents(std::FILE *file) {
  std::rewind(file);
  QByteArray bytes;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    bytes.append(buffer, qsizetype(n));
  return QString::fromUtf8(bytes);
}

// An image whose name is not UTF-8 cannot be processed: each of its pairs is
// a skip, and the run says so in its exit status.
TEST(BatchSummary, ImagesWhoseNamesCannotBeReadCountOneSkipPerOperation) {
  test::TempFolder in, lists;
  const QByteArray unreadable = QFile::encodeName(in.path()) + "/x\xff.png";
  ::close(::open(unreadable.constData(), O_CREAT | O_WRONLY, 0644));
  test::WriteBytes(lists.file("two.vop"), "1>Extract Whole Image Prefix: \"a_\" Quality: \"75\"\r\n"
                                          "1>Extract Whole Image Prefix: \"b_\" Quality: \"75\"\r\n");
  BatchOptions options;
  options.listFile = lists.file("two.vop");
  options.inputDir = in.path();
  options.quiet = true;
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  ASSERT_TRUE(out && err);
  EXPECT_EQ(RunBatch(options, {out, err, false}), 1);
  EXPECT_EQ(Contents(out), "0 written, 2 skipped, 0 failed\n") << Contents(err).toStdString();
  std::fclose(out);
  std::fclose(err);
  ::unlink(unreadable.constData()); // a name the temporary folder cannot remove
}

} // namespace
} // namespace varnholt
