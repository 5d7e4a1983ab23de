#pragma once

#include <QString>

#include <exception>

namespace varnholt {

// Numbers of the failures this program raises itself. The small ones keep the
// meaning users of the older tool know from its reports (5, 6, 9, 13); the
// rest are ours and stay clear of errno values and ImageMagick's codes.
enum FailureCode : int {
  kErrInvalidCall = 5,             // a text piece with a negative length
  kErrOverflow = 6,                // a number outside its type
  kErrSubscript = 9,               // too few pieces in a text
  kErrTypeMismatch = 13,           // a stored value of the wrong kind
  kErrTargetIsSource = 1001,       // writing would replace the image being read
  kErrToolkit = 1002,              // ImageMagick failed without saying why
  kErrNoImageSize = 1003,          // the size query gave no "WxH"
  kErrSettingsStore = 1004,        // the settings file cannot be read or written
  kErrWrittenByAnotherPair = 1005, // another pair of the same run writes that file
  kErrNotAFile = 1006,             // a file to read is a FIFO, a device or far too large
};

// A failure as the program reports it: a number and a description. Thrown by
// the seams and the core procedures; turned into "number - description" text
// where a procedure returns an error text instead.
class Failure : public std::exception {
public:
  Failure(int number, QString description);

  int number() const { return number_; }
  const QString &description() const { return description_; }
  QString text() const;
  const char *what() const noexcept override { return what_.constData(); }

  // errno and its message, for file-system failures.
  static Failure fromErrno(int err, const QString &context = QString());

private:
  int number_;
  QString description_;
  QByteArray what_;
};

} // namespace varnholt
