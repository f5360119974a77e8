#pragma once
// The application object of the desktop program: an error that escapes any event handler is
// shown in a modal error box and the program goes on.
#include <QApplication>
#include <QTranslator>

namespace Corvane {

class TCorvaneApplication : public QApplication {
  Q_OBJECT
public:
  TCorvaneApplication(int& aArgc, char** aArgv);
  bool notify(QObject* aReceiver, QEvent* aEvent) override;
  // Whether Qt's own texts (dialogs, buttons, menus) were found in Brazilian Portuguese.
  bool Translated() const { return FTranslated; }

private:
  QTranslator FQtTexts;
  bool FTranslated = false;
};

}  // namespace Corvane
