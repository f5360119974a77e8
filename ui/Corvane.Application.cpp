#include "Corvane.Application.h"

#include "Corvane.Dialogs.h"

namespace Corvane {

TCorvaneApplication::TCorvaneApplication(int& aArgc, char** aArgv) : QApplication(aArgc, aArgv) {
  setApplicationName(QStringLiteral("Corvane"));
  setApplicationVersion(QStringLiteral("1.0.0"));
}

bool TCorvaneApplication::notify(QObject* aReceiver, QEvent* aEvent) {
  try {
    return QApplication::notify(aReceiver, aEvent);
  } catch (...) {
    const QString LMessage = CurrentErrorMessage();
    TDialogs::Current().Error(activeWindow(), LMessage);
    return false;
  }
}

}  // namespace Corvane
