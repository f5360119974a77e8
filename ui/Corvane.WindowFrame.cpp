#include "Corvane.WindowFrame.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace Corvane {

TFramedView::TFramedView(const QString& aCaption, QWidget* aOwner)
    : QWidget(aOwner, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(aCaption);
  setWindowTitle(aCaption);
  setFont(CorvaneFont(13));
  setAutoFillBackground(true);
  QPalette LPalette = palette();
  LPalette.setColor(QPalette::Window, Qt::white);
  setPalette(LPalette);
  resize(900, 700);

  pnlPrincipalIndex = new TPanel(QStringLiteral("pnlPrincipalIndex"), this, clBorderBlue);
  auto LWindowLayout = new TAlignLayout(this);
  LWindowLayout->AddAligned(pnlPrincipalIndex, TAlign::alClient);

  // The 1-px margin of pnlPrincipalIndex shows as the window's border.
  pnlTitulo = new TPanel(QStringLiteral("pnlTitulo"), pnlPrincipalIndex, clTitleBlue);
  pnlPrincipal = new TPanel(QStringLiteral("pnlPrincipal"), pnlPrincipalIndex, Qt::white);
  auto LIndexLayout = new TAlignLayout(pnlPrincipalIndex);
  LIndexLayout->AddAligned(pnlTitulo, TAlign::alTop, 25, QMargins(1, 1, 1, 0));
  LIndexLayout->AddAligned(pnlPrincipal, TAlign::alClient, 0, QMargins(1, 0, 1, 1));

  pnlSair = new TPanel(QStringLiteral("pnlSair"), pnlTitulo, clTitleBlue);
  pnlSair->setCursor(Qt::PointingHandCursor);
  imgSair = new TImage(QStringLiteral("imgSair"), QPixmap(QStringLiteral(":/corvane/sair.png")), pnlSair);
  imgSair->setCursor(Qt::PointingHandCursor);
  auto LSairLayout = new TAlignLayout(pnlSair);
  LSairLayout->AddAligned(imgSair, TAlign::alClient);

  pnlMaximizar = new TPanel(QStringLiteral("pnlMaximizar"), pnlTitulo, clTitleBlue);
  pnlMaximizar->setCursor(Qt::PointingHandCursor);
  imgMaximizar =
      new TImage(QStringLiteral("imgMaximizar"), QPixmap(QStringLiteral(":/corvane/maximizar.png")), pnlMaximizar);
  imgMaximizar->setCursor(Qt::PointingHandCursor);
  imgMaximizar->setToolTip(QStringLiteral("Deixar maximizado ou normal o formulário"));
  auto LMaximizarLayout = new TAlignLayout(pnlMaximizar);
  LMaximizarLayout->AddAligned(imgMaximizar, TAlign::alClient);

  lblTitulo = new TLabel(QStringLiteral("lblTitulo"), QStringLiteral("................"), pnlTitulo);
  lblTitulo->setFont(CorvaneFont(17, true));
  QPalette LTitlePalette = lblTitulo->palette();
  LTitlePalette.setColor(QPalette::WindowText, Qt::white);
  lblTitulo->setPalette(LTitlePalette);
  lblTitulo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // From the right: close, maximise, then the title over the rest.
  auto LTitleLayout = new TAlignLayout(pnlTitulo);
  LTitleLayout->AddAligned(pnlSair, TAlign::alRight, 20, QMargins(0, 2, 3, 2));
  LTitleLayout->AddAligned(pnlMaximizar, TAlign::alRight, 20, QMargins(0, 2, 3, 2));
  LTitleLayout->AddAligned(lblTitulo, TAlign::alClient, 0, QMargins(7, 3, 3, 0));

  connect(pnlTitulo, &TPanel::MouseDown, this, &TFramedView::pnlTituloMouseDown);
  connect(lblTitulo, &TLabel::MouseDown, this, &TFramedView::pnlTituloMouseDown);
  connect(pnlSair, &TPanel::Clicked, this, &TFramedView::pnlSairClick);
  connect(imgSair, &TImage::Clicked, this, &TFramedView::pnlSairClick);
  connect(pnlMaximizar, &TPanel::Clicked, this, &TFramedView::pnlMaximizarClick);
  connect(imgMaximizar, &TImage::Clicked, this, &TFramedView::pnlMaximizarClick);
  connect(pnlPrincipal, &TPanel::Clicked, this, &TFramedView::pnlSairClick);
}

void TFramedView::pnlTituloMouseDown(QMouseEvent*) {
  // Whatever the button, the modifier keys and the position.
  MoverFormulario();
}

void TFramedView::MoverFormulario() {
#ifdef Q_OS_WIN
  // Hand the drag to the system as a press on the caption would: move command 0xF010 plus
  // the caption hit-test code 2.
  ::ReleaseCapture();
  ::SendMessageW(reinterpret_cast<HWND>(winId()), WM_SYSCOMMAND, 0xF012, 0);
#else
  if (QWindow* LWindow = windowHandle()) LWindow->startSystemMove();
#endif
}

void TFramedView::pnlMaximizarClick() {
  if (isMinimized()) return;
  if (isMaximized())
    showNormal();
  else
    showMaximized();
}

void TFramedView::pnlSairClick() { close(); }

void TFramedView::setVisible(bool aVisible) {
  if (aVisible && !FPositioned && !isVisible()) {
    // Placed before the first show, so the window never flashes elsewhere.
    FPositioned = true;
    QWidget* LOwner = parentWidget() ? parentWidget()->window() : nullptr;
    QRect LArea;
    if (FPosition == TPosition::poOwnerFormCenter && LOwner && LOwner->isVisible())
      LArea = LOwner->frameGeometry();
    else if (QScreen* LScreen = LOwner ? LOwner->screen() : QGuiApplication::primaryScreen())
      LArea = LScreen->availableGeometry();
    if (LArea.isValid())
      move(LArea.topLeft() + QPoint((LArea.width() - width()) / 2, (LArea.height() - height()) / 2));
  }
  QWidget::setVisible(aVisible);
}

void TFramedView::ShowModal() {
  setWindowModality(Qt::ApplicationModal);
  QEventLoop LLoop;
  connect(this, &TFramedView::Closed, &LLoop, &QEventLoop::quit);
  show();
  if (isVisible()) LLoop.exec(QEventLoop::DialogExec);
}

void TFramedView::showEvent(QShowEvent* aEvent) {
  QWidget::showEvent(aEvent);
  if (!aEvent->spontaneous()) FormShow();
}

void TFramedView::closeEvent(QCloseEvent* aEvent) {
  if (!CloseQuery()) {
    aEvent->ignore();
    return;
  }
  QWidget::closeEvent(aEvent);
  if (aEvent->isAccepted()) emit Closed();
}

}  // namespace Corvane
