#include "Corvane.Scenario.NotaFiscal.h"

#include "Corvane.Errors.h"

namespace Corvane {

namespace {

}  // namespace

ISliceExporterPtr TNotaFiscalSlice::Configure(TDbConnection* aConnection) {
  // The order of the relations is the order in which each parent row's related rows are
  // written. In the COMISSAO_PAGAMENTO_INDIVID relation the parent row points to the related
  // row (GF_Y7_ID -> Y7_ID), unlike the two relations above it.
  return TSliceExporter::New(aConnection)
      ->Table("NOTAFI")
      ->IncludeChildren("NOTAPRO", "NOTANUM", "NOTANUM")
      ->IncludeChildren("PEDRES", "PEDNUM", "PEDNUM")
      ->IncludeChildren("DUPREC", "E9_PEDNUM", "PEDNUM")
      ->IncludeChildren("NOTA_ITEM", "NOTANUM", "NOTANUM")
      ->IncludeRelated("NOTAPRO", "DOC_FISCAL_ITEM", "ER_NOTANUM,ER_PROCOD", "NOTANUM,PROCOD", "")
      ->IncludeRelated("NOTAFI", "DEVOLUCAO_SAIDAS_ITEM", "DJ_ORIGEM_ID1", "NOTANUM", "DJ_ORIGEM = 'N'")
      ->IncludeRelated("NOTAFI", "COMISSAO_MOVIMENTOS", "Y3_ORIGEM_ID1", "NOTANUM", "Y3_ORIGEM = 'N'")
      ->IncludeRelated("NOTAFI", "ENTREGAFUTURA_CONTROLE", "BG_NOTANUM", "NOTANUM", "")
      ->IncludeRelated("COMISSAO_MOVIMENTOS", "COMISSAO_DEVOLUCAO_ABATER", "GE_Y3_ID", "Y3_ID", "")
      ->IncludeRelated("COMISSAO_DEVOLUCAO_ABATER", "COMISSAO_DEVOLUCAO_REFER", "GF_GE_ID", "GE_ID", "")
      ->IncludeRelated("COMISSAO_DEVOLUCAO_REFER", "COMISSAO_PAGAMENTO_INDIVID", "Y7_ID", "GF_Y7_ID", "")
      ->IncludeRelated("DEVOLUCAO_SAIDAS_ITEM", "DOCUMENTO_REFERENCIADO", "BH_BG_ID_ORIGEM,BH_PROCOD",
                       "DJ_ID,DJ_PROCOD", "BH_TIPO_ORIGEM = 'DV'")
      ->IncludeRelated("DOCUMENTO_REFERENCIADO", "DEVOLUCAO_ENTRADAS_ITEM", "DI_ID,DI_PROCOD",
                       "BH_BG_ID_DESTINO,BH_PROCOD", "")
      ->Dependencies(true);
}

ISliceExporterPtr TNotaFiscalSlice::New(TDbConnection* aConnection, const QString& aNotaNum) {
  const QString LNotaNum = TrimBlanks(aNotaNum);
  if (LNotaNum.isEmpty()) throw TArgumentError(QStringLiteral("Informe o NOTANUM."));
  return Configure(aConnection)->Key("NOTANUM", TValue::Text(LNotaNum));
}

}  // namespace Corvane
