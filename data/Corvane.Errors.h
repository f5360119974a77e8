#pragma once
// The two families of failure: argument errors (a missing or bad argument of a call) and
// general errors (everything else, database errors included). Each carries one sentence
// that travels unchanged up to the front ends.
#include <QByteArray>
#include <QString>
#include <exception>

namespace Corvane {

class TCorvaneError : public std::exception {
public:
  explicit TCorvaneError(const QString& aMessage) : FMessage(aMessage), FUtf8(aMessage.toUtf8()) {}
  const QString& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FUtf8.constData(); }

private:
  QString FMessage;
  QByteArray FUtf8;
};

class TArgumentError : public TCorvaneError {
public:
  using TCorvaneError::TCorvaneError;
};

}  // namespace Corvane
