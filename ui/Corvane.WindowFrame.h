#pragma once
// The frame both windows draw themselves, since they are borderless: a dark-blue border, a
// blue title bar with the title and the maximise and close pictures, and the white content
// panel. Dragging the title bar moves the window as a system title bar would.
#include "Corvane.Controls.h"

#include <QWidget>

namespace Corvane {

class TFramedView : public QWidget {
  Q_OBJECT
public:
  enum class TPosition { poScreenCenter, poOwnerFormCenter };

  // aOwner: the window this one is shown over, or none for the main window.
  TFramedView(const QString& aCaption, QWidget* aOwner = nullptr);

  void SetPosition(TPosition aPosition) { FPosition = aPosition; }
  // Shows the window modal to the whole program and returns when it has closed.
  void ShowModal();

  // Frame handlers, the same in both windows.
  void pnlTituloMouseDown(QMouseEvent* aEvent);
  void MoverFormulario();
  void pnlMaximizarClick();
  void pnlSairClick();

  void setVisible(bool aVisible) override;

  TPanel* pnlPrincipalIndex;
  TPanel* pnlTitulo;
  TLabel* lblTitulo;
  TPanel* pnlSair;
  TImage* imgSair;
  TPanel* pnlMaximizar;
  TImage* imgMaximizar;
  TPanel* pnlPrincipal;

signals:
  void Closed();

protected:
  // Runs each time the window is shown.
  virtual void FormShow() {}
  // Whether the window may close now; every way of closing asks here.
  virtual bool CloseQuery() { return true; }

  void showEvent(QShowEvent* aEvent) override;
  void closeEvent(QCloseEvent* aEvent) override;

private:
  TPosition FPosition = TPosition::poScreenCenter;
  bool FPositioned = false;
};

}  // namespace Corvane
