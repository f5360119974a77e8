#include "Corvane.Application.h"

#include "Corvane.Dialogs.h"

#include <QLibraryInfo>
#include <QLocale>

namespace Corvane {

TCorvaneApplication::TCorvaneApplication(int& aArgc, char** aArgv) : QApplication(aArgc, aArgv) {
  setApplicationName(QStringLiteral("Corvane"));
  setApplicationVersion(QStringLiteral("1.0.0"));
  // Qt's own dialogs and buttons speak the program's language, whatever the system's: the
  // translations come with the distribution's Qt translations package. Without it they stay
  // in English, and the program works all the same.
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  FTranslated = FQtTexts.load(QStringLiteral("qtbase_pt_BR"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
  if (FTranslated) installTranslator(&FQtTexts);
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
