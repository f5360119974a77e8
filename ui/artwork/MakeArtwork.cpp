// Draws the program's pictures: the close and maximise icons of the title bar, the picture
// of the covered-tables button and the program icon. Run once; the PNGs are kept in the tree.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor clTitleBlue(21, 115, 178);
const QColor clBorderBlue(20, 100, 151);

QImage NewImage(int aSize) {
  QImage LImage(aSize, aSize, QImage::Format_ARGB32_Premultiplied);
  LImage.fill(Qt::transparent);
  return LImage;
}

// A white cross with round ends, for the blue title bar.
QImage CloseIcon() {
  QImage LImage = NewImage(20);
  QPainter LPainter(&LImage);
  LPainter.setRenderHint(QPainter::Antialiasing);
  LPainter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
  LPainter.drawLine(QPointF(5, 5), QPointF(15, 15));
  LPainter.drawLine(QPointF(15, 5), QPointF(5, 15));
  return LImage;
}

// A white window outline with a heavier top edge.
QImage MaximiseIcon() {
  QImage LImage = NewImage(24);
  QPainter LPainter(&LImage);
  LPainter.setRenderHint(QPainter::Antialiasing, false);
  LPainter.setPen(QPen(Qt::white, 2));
  LPainter.setBrush(Qt::NoBrush);
  LPainter.drawRect(QRect(6, 6, 12, 12));
  LPainter.fillRect(QRect(5, 5, 14, 4), Qt::white);
  return LImage;
}

// A small table: a blue header row over a grid of white cells.
QImage TablesPicture(int aSize) {
  QImage LImage = NewImage(aSize);
  QPainter LPainter(&LImage);
  LPainter.scale(aSize / 24.0, aSize / 24.0);
  LPainter.setRenderHint(QPainter::Antialiasing, false);
  const QRect LBody(2, 4, 20, 16);
  LPainter.fillRect(LBody, Qt::white);
  LPainter.fillRect(QRect(2, 4, 20, 5), clTitleBlue);
  LPainter.setPen(QPen(clBorderBlue, 1));
  LPainter.drawRect(LBody.adjusted(0, 0, -1, -1));
  for (const int LY : {9, 13, 17}) LPainter.drawLine(2, LY, 21, LY);
  LPainter.drawLine(9, 9, 9, 19);
  LPainter.drawLine(15, 9, 15, 19);
  // The rows that a slice takes along, marked.
  LPainter.fillRect(QRect(3, 14, 6, 3), QColor(255, 196, 0));
  LPainter.fillRect(QRect(10, 14, 5, 3), QColor(255, 196, 0));
  LPainter.fillRect(QRect(16, 14, 5, 3), QColor(255, 196, 0));
  return LImage;
}

// The program icon: the table picture on a rounded blue tile.
QImage ProgramIcon() {
  QImage LImage = NewImage(64);
  QPainter LPainter(&LImage);
  LPainter.setRenderHint(QPainter::Antialiasing);
  QPainterPath LTile;
  LTile.addRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
  LPainter.fillPath(LTile, clTitleBlue);
  LPainter.drawImage(QRect(8, 8, 48, 48), TablesPicture(48));
  return LImage;
}

bool Save(const QImage& aImage, const QString& aFile) {
  if (aImage.save(aFile, "PNG")) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(aFile));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const QString LFolder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(LFolder);
  const bool LOk = Save(CloseIcon(), LFolder + "/sair.png") && Save(MaximiseIcon(), LFolder + "/maximizar.png") &&
                   Save(TablesPicture(24), LFolder + "/tabelas.png") && Save(ProgramIcon(), LFolder + "/corvane.png");
  return LOk ? 0 : 1;
}
