#include "Corvane.Controls.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <memory>

namespace Corvane {

namespace {

// Sans-serif families close to "Segoe UI" in width, most similar first.
QStringList SansFamilies(const QString& aPreferred) {
  return {aPreferred,         QStringLiteral("Segoe UI"),         QStringLiteral("Selawik"),
          QStringLiteral("Open Sans"), QStringLiteral("Noto Sans"), QStringLiteral("Liberation Sans"),
          QStringLiteral("Arimo"),     QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
          QStringLiteral("Sans Serif")};
}

}  // namespace

QFont CorvaneFont(int aPixelSize, bool aBold) {
  QFont LFont;
  LFont.setFamilies(SansFamilies(QStringLiteral("Segoe UI")));
  LFont.setStyleHint(QFont::SansSerif);
  LFont.setPixelSize(aPixelSize);
  LFont.setBold(aBold);
  return LFont;
}

QFont CorvaneSemilightFont(int aPixelSize) {
  QFont LFont = CorvaneFont(aPixelSize);
  LFont.setFamilies(SansFamilies(QStringLiteral("Segoe UI Semilight")));
  return LFont;
}

void TClickReporter::Press(QWidget* aSelf, QMouseEvent* aEvent) {
  FLeftDown = aEvent->button() == Qt::LeftButton && aSelf->rect().contains(aEvent->position().toPoint());
  aEvent->accept();
}

bool TClickReporter::Release(QWidget* aSelf, QMouseEvent* aEvent) {
  aEvent->accept();
  if (aEvent->button() != Qt::LeftButton || !FLeftDown) return false;
  FLeftDown = false;
  return aSelf->rect().contains(aEvent->position().toPoint());
}

TPanel::TPanel(const QString& aName, QWidget* aParent, const QColor& aColor) : QWidget(aParent) {
  setObjectName(aName);
  setAutoFillBackground(true);
  SetColor(aColor);
}

void TPanel::SetColor(const QColor& aColor) {
  QPalette LPalette = palette();
  LPalette.setColor(QPalette::Window, aColor);
  setPalette(LPalette);
}

void TPanel::SetCaption(const QString& aCaption) {
  FCaption = aCaption;
  update();
}

void TPanel::mousePressEvent(QMouseEvent* aEvent) {
  FClick.Press(this, aEvent);
  emit MouseDown(aEvent);
}

void TPanel::mouseReleaseEvent(QMouseEvent* aEvent) {
  if (FClick.Release(this, aEvent)) emit Clicked();
}

void TPanel::paintEvent(QPaintEvent* aEvent) {
  QWidget::paintEvent(aEvent);
  if (FCaption.isEmpty()) return;
  QPainter LPainter(this);
  LPainter.setFont(font());
  LPainter.setPen(palette().color(QPalette::WindowText));
  LPainter.drawText(rect(), Qt::AlignCenter, FCaption);
}

TLabel::TLabel(const QString& aName, const QString& aText, QWidget* aParent) : QLabel(aText, aParent) {
  setObjectName(aName);
}

void TLabel::mousePressEvent(QMouseEvent* aEvent) {
  FClick.Press(this, aEvent);
  emit MouseDown(aEvent);
}

void TLabel::mouseReleaseEvent(QMouseEvent* aEvent) {
  if (FClick.Release(this, aEvent)) emit Clicked();
}

TImage::TImage(const QString& aName, const QPixmap& aPicture, QWidget* aParent)
    : QWidget(aParent), FPicture(aPicture) {
  setObjectName(aName);
}

void TImage::mousePressEvent(QMouseEvent* aEvent) { FClick.Press(this, aEvent); }

void TImage::mouseReleaseEvent(QMouseEvent* aEvent) {
  if (FClick.Release(this, aEvent)) emit Clicked();
}

void TImage::paintEvent(QPaintEvent*) {
  QPainter LPainter(this);
  LPainter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!isEnabled()) LPainter.setOpacity(0.5);
  LPainter.drawPixmap(rect(), FPicture);
}

QString TrimWhiteSpace(const QString& aText) {
  const auto LIsBlank = [](QChar aChar) { return aChar.unicode() <= 32 || aChar.isSpace(); };
  qsizetype LStart = 0, LEnd = aText.size();
  while (LStart < LEnd && LIsBlank(aText.at(LStart))) ++LStart;
  while (LEnd > LStart && LIsBlank(aText.at(LEnd - 1))) --LEnd;
  return aText.mid(LStart, LEnd - LStart);
}

TDigitsEdit::TDigitsEdit(const QString& aName, QWidget* aParent) : QLineEdit(aParent) { setObjectName(aName); }

std::optional<QString> TDigitsEdit::Fitting(const QString& aText) const {
  if (aText.size() <= maxLength()) return aText;
  QString LTrimmed = TrimWhiteSpace(aText);
  if (LTrimmed.size() <= maxLength()) return LTrimmed;
  return std::nullopt;
}

void TDigitsEdit::insert(const QString& aText) {
  QString LCandidate = text();
  const qsizetype LAt = hasSelectedText() ? selectionStart() : cursorPosition();
  LCandidate.replace(LAt, selectedText().size(), aText);
  if (LCandidate.size() <= maxLength()) {
    QLineEdit::insert(aText);
  } else if (const auto LFitting = Fitting(LCandidate)) {
    // Through insert, not setText, so that undo and the edited signal work as for typing.
    selectAll();
    QLineEdit::insert(*LFitting);
  }
  // Otherwise refused: the text stays as it was.
}

void TDigitsEdit::paste() {
  if (!isReadOnly()) insert(QGuiApplication::clipboard()->text());
}

void TDigitsEdit::setText(const QString& aText) {
  if (const auto LFitting = Fitting(aText)) QLineEdit::setText(*LFitting);
}

void TDigitsEdit::keyPressEvent(QKeyEvent* aEvent) {
  if (aEvent->matches(QKeySequence::Paste)) {
    paste();
    aEvent->accept();
    return;
  }
  const QString LText = aEvent->text();
  const bool LShortcut = aEvent->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier);
  if (!LShortcut && !LText.isEmpty() && LText.at(0).isPrint()) {
    if (FDigitsOnly) {
      for (const QChar LChar : LText) {
        if (LChar < u'0' || LChar > u'9') {
          aEvent->accept();  // swallowed: only digits can be typed
          return;
        }
      }
    }
    if (!isReadOnly()) {
      insert(LText);
      aEvent->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(aEvent);
}

void TDigitsEdit::contextMenuEvent(QContextMenuEvent* aEvent) {
  std::unique_ptr<QMenu> LMenu(createStandardContextMenu());
  if (QAction* LPaste = LMenu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
    disconnect(LPaste, &QAction::triggered, nullptr, nullptr);
    connect(LPaste, &QAction::triggered, this, &TDigitsEdit::paste);
  }
  LMenu->exec(aEvent->globalPos());
}

void TDigitsEdit::dropEvent(QDropEvent* aEvent) {
  if (isReadOnly() || !aEvent->mimeData()->hasText()) {
    QLineEdit::dropEvent(aEvent);
    return;
  }
  setCursorPosition(cursorPositionAt(aEvent->position().toPoint()));
  insert(aEvent->mimeData()->text());
  aEvent->acceptProposedAction();
}

void TDigitsEdit::mouseReleaseEvent(QMouseEvent* aEvent) {
  QClipboard* LClipboard = QGuiApplication::clipboard();
  if (aEvent->button() == Qt::MiddleButton && LClipboard->supportsSelection() && !isReadOnly()) {
    setCursorPosition(cursorPositionAt(aEvent->position().toPoint()));
    insert(LClipboard->text(QClipboard::Selection));
    aEvent->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(aEvent);
}

TAlignLayout::TAlignLayout(QWidget* aParent) : QLayout(aParent) {
  setContentsMargins(0, 0, 0, 0);
  setSpacing(0);
}

TAlignLayout::~TAlignLayout() {
  for (const TEntry& LEntry : FEntries) delete LEntry.Item;
}

void TAlignLayout::AddAligned(QWidget* aWidget, TAlign aAlign, int aSize, const QMargins& aMargins) {
  addChildWidget(aWidget);
  TEntry LEntry;
  LEntry.Item = new QWidgetItem(aWidget);
  LEntry.Align = aAlign;
  LEntry.Size = aSize;
  LEntry.Margins = aMargins;
  FEntries.append(LEntry);
  invalidate();
}

void TAlignLayout::AddAnchored(QWidget* aWidget, const QRect& aDesignRect, int aAnchors, const QSize& aDesignParent) {
  addChildWidget(aWidget);
  TEntry LEntry;
  LEntry.Item = new QWidgetItem(aWidget);
  LEntry.Anchored = true;
  LEntry.DesignRect = aDesignRect;
  LEntry.Anchors = aAnchors;
  LEntry.DesignParent = aDesignParent;
  FEntries.append(LEntry);
  aWidget->setGeometry(aDesignRect);
  invalidate();
}

void TAlignLayout::addItem(QLayoutItem* aItem) {
  TEntry LEntry;
  LEntry.Item = aItem;
  FEntries.append(LEntry);
}

QLayoutItem* TAlignLayout::itemAt(int aIndex) const {
  return aIndex >= 0 && aIndex < FEntries.size() ? FEntries.at(aIndex).Item : nullptr;
}

QLayoutItem* TAlignLayout::takeAt(int aIndex) {
  if (aIndex < 0 || aIndex >= FEntries.size()) return nullptr;
  return FEntries.takeAt(aIndex).Item;
}

int TAlignLayout::count() const { return FEntries.size(); }

QSize TAlignLayout::sizeHint() const {
  // The windows size themselves; the layout only follows.
  return parentWidget() ? parentWidget()->size() : QSize();
}

QSize TAlignLayout::minimumSize() const { return {0, 0}; }

void TAlignLayout::setGeometry(const QRect& aRect) {
  QLayout::setGeometry(aRect);
  QRect LFree = aRect;
  // Strips first, in the order of their kinds, then the client item, as in the form designer.
  for (const TAlign LKind : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
    for (const TEntry& LEntry : FEntries) {
      if (LEntry.Anchored || LEntry.Align != LKind) continue;
      // A strip hidden on purpose takes no room (the export's progress bar, say).
      const QWidget* LWidget = LEntry.Item->widget();
      if (LKind != TAlign::alClient && LWidget->testAttribute(Qt::WA_WState_ExplicitShowHide) &&
          LWidget->testAttribute(Qt::WA_WState_Hidden))
        continue;
      const QMargins& LM = LEntry.Margins;
      QRect LCell;
      switch (LKind) {
        case TAlign::alTop:
          LCell = QRect(LFree.left(), LFree.top(), LFree.width(), LEntry.Size + LM.top() + LM.bottom());
          LFree.setTop(LCell.bottom() + 1);
          break;
        case TAlign::alBottom:
          LCell = QRect(LFree.left(), LFree.bottom() + 1 - LEntry.Size - LM.top() - LM.bottom(), LFree.width(),
                        LEntry.Size + LM.top() + LM.bottom());
          LFree.setBottom(LCell.top() - 1);
          break;
        case TAlign::alLeft:
          LCell = QRect(LFree.left(), LFree.top(), LEntry.Size + LM.left() + LM.right(), LFree.height());
          LFree.setLeft(LCell.right() + 1);
          break;
        case TAlign::alRight:
          LCell = QRect(LFree.right() + 1 - LEntry.Size - LM.left() - LM.right(), LFree.top(),
                        LEntry.Size + LM.left() + LM.right(), LFree.height());
          LFree.setRight(LCell.left() - 1);
          break;
        case TAlign::alClient:
          LCell = LFree;
          break;
      }
      LEntry.Item->widget()->setGeometry(LCell.marginsRemoved(LM));
    }
  }
  for (const TEntry& LEntry : FEntries) {
    if (!LEntry.Anchored) continue;
    const QRect& D = LEntry.DesignRect;
    const int LRightGap = LEntry.DesignParent.width() - (D.x() + D.width());
    const int LBottomGap = LEntry.DesignParent.height() - (D.y() + D.height());
    int LLeft = D.x(), LWidth = D.width(), LTop = D.y(), LHeight = D.height();
    if ((LEntry.Anchors & akRight) && (LEntry.Anchors & akLeft))
      LWidth = aRect.width() - LRightGap - LLeft;
    else if (LEntry.Anchors & akRight)
      LLeft = aRect.width() - LRightGap - LWidth;
    if ((LEntry.Anchors & akBottom) && (LEntry.Anchors & akTop))
      LHeight = aRect.height() - LBottomGap - LTop;
    else if (LEntry.Anchors & akBottom)
      LTop = aRect.height() - LBottomGap - LHeight;
    LEntry.Item->widget()->setGeometry(aRect.x() + LLeft, aRect.y() + LTop, qMax(0, LWidth), qMax(0, LHeight));
  }
}

}  // namespace Corvane
