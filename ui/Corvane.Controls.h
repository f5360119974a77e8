#pragma once
// The few control kinds the windows are drawn with: panels, labels and images that report a
// mouse press and a click, and a layout that places children by alignment or by anchors.
#include <QColor>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QList>
#include <QMargins>
#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <optional>

namespace Corvane {

// Font of the windows: "Segoe UI" where installed, else a sans-serif close to it, always at
// the given pixel size so the layout holds whatever family is used.
QFont CorvaneFont(int aPixelSize, bool aBold = false);
QFont CorvaneSemilightFont(int aPixelSize);

inline const QColor clTitleBlue{21, 115, 178};  // #1573B2
inline const QColor clBorderBlue{20, 100, 151};  // #146497

// A press anywhere on the control reports MouseDown; a left press released over it reports
// Clicked. The events are accepted, so they do not reach the control's parent.
class TClickReporter {
public:
  void Press(QWidget* aSelf, QMouseEvent* aEvent);
  bool Release(QWidget* aSelf, QMouseEvent* aEvent);  // true when it completes a click

private:
  bool FLeftDown = false;
};

class TPanel : public QWidget {
  Q_OBJECT
public:
  TPanel(const QString& aName, QWidget* aParent, const QColor& aColor = Qt::white);
  void SetColor(const QColor& aColor);
  // Centred caption, as a caption strip shows it.
  void SetCaption(const QString& aCaption);
  QString Caption() const { return FCaption; }

signals:
  void MouseDown(QMouseEvent* aEvent);
  void Clicked();

protected:
  void mousePressEvent(QMouseEvent* aEvent) override;
  void mouseReleaseEvent(QMouseEvent* aEvent) override;
  void paintEvent(QPaintEvent* aEvent) override;

private:
  TClickReporter FClick;
  QString FCaption;
};

class TLabel : public QLabel {
  Q_OBJECT
public:
  TLabel(const QString& aName, const QString& aText, QWidget* aParent);

signals:
  void MouseDown(QMouseEvent* aEvent);
  void Clicked();

protected:
  void mousePressEvent(QMouseEvent* aEvent) override;
  void mouseReleaseEvent(QMouseEvent* aEvent) override;

private:
  TClickReporter FClick;
};

// A picture stretched to the control's area.
class TImage : public QWidget {
  Q_OBJECT
public:
  TImage(const QString& aName, const QPixmap& aPicture, QWidget* aParent);
  const QPixmap& Picture() const { return FPicture; }

signals:
  void Clicked();

protected:
  void mousePressEvent(QMouseEvent* aEvent) override;
  void mouseReleaseEvent(QMouseEvent* aEvent) override;
  void paintEvent(QPaintEvent* aEvent) override;

private:
  QPixmap FPicture;
  TClickReporter FClick;
};

// Blanks, control characters and other white space off both ends, as a copied number may
// carry them.
QString TrimWhiteSpace(const QString& aText);

// An edit box into which only digits can be typed. Pasted text is taken as it is, so a
// number copied with blanks around it still arrives; the reader trims it.
// The length limit applies to the value without the blanks around it: text that would
// exceed it loses those blanks first, and what still exceeds it is refused whole, so that
// a value is never cut into another one. Typing, pasting (keys, context menu, middle
// button), dropping and setText all take that road.
class TDigitsEdit : public QLineEdit {
  Q_OBJECT
public:
  TDigitsEdit(const QString& aName, QWidget* aParent);
  void SetDigitsOnly(bool aValue) { FDigitsOnly = aValue; }
  bool DigitsOnly() const { return FDigitsOnly; }

public slots:
  // Hide QLineEdit's own, which cut at the limit.
  void paste();
  void insert(const QString& aText);
  void setText(const QString& aText);

protected:
  void keyPressEvent(QKeyEvent* aEvent) override;
  void contextMenuEvent(QContextMenuEvent* aEvent) override;
  void dropEvent(QDropEvent* aEvent) override;
  void mouseReleaseEvent(QMouseEvent* aEvent) override;

private:
  // The text as it fits the limit (blanks around it dropped when needed), or nothing.
  std::optional<QString> Fitting(const QString& aText) const;

  bool FDigitsOnly = true;
};

enum class TAlign { alTop, alBottom, alLeft, alRight, alClient };

enum TAnchor { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

// Places children as aligned strips (top, bottom, left and right strips take their share in
// the order added, the client item fills what is left) or by anchors relative to the size
// the parent had at design time.
class TAlignLayout : public QLayout {
public:
  explicit TAlignLayout(QWidget* aParent);
  ~TAlignLayout() override;

  // aSize: the height of a top/bottom strip or the width of a left/right strip.
  void AddAligned(QWidget* aWidget, TAlign aAlign, int aSize = 0, const QMargins& aMargins = {});
  void AddAnchored(QWidget* aWidget, const QRect& aDesignRect, int aAnchors, const QSize& aDesignParent);

  void addItem(QLayoutItem* aItem) override;
  QLayoutItem* itemAt(int aIndex) const override;
  QLayoutItem* takeAt(int aIndex) override;
  int count() const override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& aRect) override;

private:
  struct TEntry {
    QLayoutItem* Item = nullptr;
    bool Anchored = false;
    TAlign Align = TAlign::alClient;
    int Size = 0;
    QMargins Margins;
    QRect DesignRect;
    int Anchors = akLeft | akTop;
    QSize DesignParent;
  };
  QList<TEntry> FEntries;
};

}  // namespace Corvane
