#pragma once
// The covered-tables window: the tables that the NFSe and Nota Fiscal exports walk, with
// their number and how dependencies are found.
#include "Corvane.WindowFrame.h"

#include <QTextEdit>

namespace Corvane {

class TListaTabelasView : public TFramedView {
  Q_OBJECT
public:
  explicit TListaTabelasView(QWidget* aOwner = nullptr);

  // Builds the list from both scenarios on the shared connection and fills rdtAjuda. Catches
  // nothing: a failure leaves the window unfilled for its opener to discard.
  void ListarTabelas();

  QTextEdit* rdtAjuda;

protected:
  void FormShow() override;
};

}  // namespace Corvane
