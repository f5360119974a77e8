#include "Corvane.ListaTabelasView.h"

#include "Corvane.Connection.h"
#include "Corvane.Dialogs.h"
#include "Corvane.Documents.h"
#include "Corvane.Scenario.NFSe.h"
#include "Corvane.Scenario.NotaFiscal.h"

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>

namespace Corvane {

namespace {

// Repainting stays off for a batch of changes and comes back however the batch ends.
class TUpdatesSuspended {
public:
  explicit TUpdatesSuspended(QWidget* aWidget) : FWidget(aWidget) { FWidget->setUpdatesEnabled(false); }
  ~TUpdatesSuspended() { FWidget->setUpdatesEnabled(true); }
  TUpdatesSuspended(const TUpdatesSuspended&) = delete;
  TUpdatesSuspended& operator=(const TUpdatesSuspended&) = delete;

private:
  QWidget* FWidget;
};

}  // namespace

TListaTabelasView::TListaTabelasView(QWidget* aOwner) : TFramedView(QStringLiteral("ListaTabelasView"), aOwner) {
  SetPosition(TPosition::poOwnerFormCenter);
  rdtAjuda = new QTextEdit(pnlPrincipal);
  rdtAjuda->setObjectName(QStringLiteral("rdtAjuda"));
  rdtAjuda->setFrameShape(QFrame::StyledPanel);
  rdtAjuda->setFont(CorvaneSemilightFont(15));
  rdtAjuda->setLineWrapMode(QTextEdit::WidgetWidth);
  rdtAjuda->setAcceptRichText(false);
  // The 3-px white strip around the box is pnlPrincipal's: a click there closes the window.
  auto LLayout = new TAlignLayout(pnlPrincipal);
  LLayout->AddAligned(rdtAjuda, TAlign::alClient, 0, QMargins(3, 3, 3, 3));
}

void TListaTabelasView::FormShow() { lblTitulo->setText(QStringLiteral("Tabelas Contempladas - Versão 1.00")); }

void TListaTabelasView::ListarTabelas() {
  QStringList LTables;
  TNFSeSlice::Configure(&TSliceConnection::Instance().Connection())->ListTables(&LTables);
  TNotaFiscalSlice::Configure(&TSliceConnection::Instance().Connection())->ListTables(&LTables);

  rdtAjuda->setReadOnly(true);
  rdtAjuda->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  const TUpdatesSuspended LSuspended(rdtAjuda);
  rdtAjuda->clear();
  QTextCharFormat LPlain;
  LPlain.setFont(rdtAjuda->font());
  LPlain.setFontWeight(QFont::Normal);
  LPlain.setFontItalic(false);
  LPlain.clearForeground();
  rdtAjuda->setCurrentCharFormat(LPlain);

  QStringList LLines;
  LLines << QString();
  LLines << LTables;
  LLines << QString() << QStringLiteral("Total: ") + QString::number(LTables.size()) << QString();
  // The documents that support staff defined, each with its tables; nothing when there are none.
  QStringList LDocuments;
  try {
    const TDocumentRegistry LRegistry = TDocumentRegistry::Load(TDocumentRegistry::DefaultFile());
    for (const TDocument& LDocument : LRegistry.Documents())
      if (!LDocument.BuiltIn)
        LDocuments << LDocument.Name + QStringLiteral(" (") + LDocument.Title + QStringLiteral("): ") +
                          LDocument.Tables().join(QStringLiteral(", "));
  } catch (...) {
    LDocuments << CurrentErrorMessage();
  }
  if (!LDocuments.isEmpty())
    LLines << QStringLiteral("Documentos de documentos.ini:") << LDocuments << QString();
  LLines << QStringLiteral("Tabelas e filhas configuradas nos cenários NFSe e Nota Fiscal.");
  LLines << QStringLiteral("Dependências por FK são identificadas durante a exportação e aparecem no log.");

  QTextCursor LCursor(rdtAjuda->document());
  LCursor.movePosition(QTextCursor::Start);
  for (qsizetype I = 0; I < LLines.size(); ++I) {
    if (I > 0) LCursor.insertBlock();
    LCursor.insertText(LLines.at(I), LPlain);
  }

  // Only the last line stands out.
  QTextCursor LLast(rdtAjuda->document()->lastBlock());
  LLast.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  QTextCharFormat LStrong;
  LStrong.setForeground(QColor(0, 0, 255));
  LStrong.setFontWeight(QFont::Bold);
  LLast.mergeCharFormat(LStrong);

  QTextCursor LTop(rdtAjuda->document());
  LTop.movePosition(QTextCursor::Start);
  rdtAjuda->setTextCursor(LTop);
  rdtAjuda->ensureCursorVisible();
}

}  // namespace Corvane
