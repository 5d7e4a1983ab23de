#pragma once

#include <QString>

#include <exception>
#include <utility>
#include <variant>

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
  kErrRefused = 1007,              // the batch mode will not start: arguments, folders, list
  kErrUnusableValue = 1008,        // a value set in the environment cannot be read
  kErrWorkerLost = 1009,           // the worker process doing a pair ended without an answer
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
  bool operator==(const Failure &other) const {
    return number_ == other.number_ && description_ == other.description_;
  }

  // errno and its message, for file-system failures.
  static Failure fromErrno(int err, const QString &context = QString());

private:
  int number_;
  QString description_;
  QByteArray what_;
};

// The answer of a procedure for which failing is one of the answers: a
// value, or the failure that stands in its place. (std::expected needs a
// newer standard than the compilers this builds with.)
template <class T> class Expected {
public:
  Expected(T value) : held_(std::move(value)) {}
  Expected(Failure failure) : held_(std::move(failure)) {}

  bool has_value() const { return held_.index() == 0; }
  explicit operator bool() const { return has_value(); }
  const T &value() const { return std::get<0>(held_); }
  const T &operator*() const { return value(); }
  const T *operator->() const { return &value(); }
  const Failure &error() const { return std::get<1>(held_); }

private:
  std::variant<T, Failure> held_;
};

} // namespace varnholt
