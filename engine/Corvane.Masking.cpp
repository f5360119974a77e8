#include "Corvane.Masking.h"

#include "Corvane.Errors.h"
#include "Corvane.IniFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

namespace Corvane {

namespace {

const QString CSection = QStringLiteral("Mascaramento");

struct TKindName {
  TMaskKind Kind;
  const char* Name;
};
constexpr TKindName CKinds[] = {
    {TMaskKind::mkCpf, "cpf"},           {TMaskKind::mkCnpj, "cnpj"},
    {TMaskKind::mkCpfCnpj, "cpf_cnpj"},  {TMaskKind::mkNome, "nome"},
    {TMaskKind::mkRazaoSocial, "razao_social"}, {TMaskKind::mkEmail, "email"},
    {TMaskKind::mkTelefone, "telefone"}, {TMaskKind::mkEndereco, "endereco"},
    {TMaskKind::mkTexto, "texto"},       {TMaskKind::mkNulo, "nulo"},
};

// Common Brazilian given names and surnames, written for this program.
const char* const CGivenNames[] = {
    "Maria", "José", "Ana", "João", "Antônio", "Francisca", "Francisco", "Adriana", "Carlos", "Juliana",
    "Paulo", "Márcia", "Pedro", "Fernanda", "Lucas", "Patrícia", "Luiz", "Aline", "Marcos", "Sandra",
    "Luís", "Camila", "Gabriel", "Amanda", "Rafael", "Bruna", "Daniel", "Jéssica", "Marcelo", "Letícia",
    "Bruno", "Júlia", "Eduardo", "Luciana", "Felipe", "Vanessa", "Raimundo", "Mariana", "Rodrigo", "Gabriela",
    "Manoel", "Vera", "Mateus", "Beatriz", "André", "Larissa", "Fernando", "Cláudia", "Fábio", "Rosângela",
    "Leonardo", "Simone", "Gustavo", "Helena", "Guilherme", "Raquel", "Leandro", "Tatiane", "Tiago", "Sônia",
};
const char* const CSurnames[] = {
    "Silva", "Santos", "Oliveira", "Souza", "Rodrigues", "Ferreira", "Alves", "Pereira", "Lima", "Gomes",
    "Costa", "Ribeiro", "Martins", "Carvalho", "Almeida", "Lopes", "Soares", "Fernandes", "Vieira", "Barbosa",
    "Rocha", "Dias", "Nascimento", "Andrade", "Moreira", "Nunes", "Marques", "Machado", "Mendes", "Freitas",
    "Cardoso", "Ramos", "Gonçalves", "Santana", "Teixeira", "Araújo", "Pinto", "Correia", "Cavalcante", "Monteiro",
    "Moura", "Batista", "Campos", "Barros", "Castro", "Rezende", "Fonseca", "Farias", "Medeiros", "Azevedo",
};
const char* const CCompanyWords[] = {
    "Comercial", "Distribuidora", "Transportes", "Indústria", "Mercado", "Construtora", "Auto Peças",
    "Farmácia", "Padaria", "Papelaria", "Serviços", "Materiais de Construção", "Atacadista", "Confecções",
};
const char* const CCompanySuffixes[] = {"Ltda", "S.A.", "ME", "EIRELI", "Ltda ME", "EPP"};
const char* const CStreetTypes[] = {"Rua", "Avenida", "Travessa", "Alameda", "Praça", "Estrada"};
const char* const CWords[] = {
    "cliente", "pedido", "entrega", "pagamento", "prazo", "contato", "retorno", "conferir", "cadastro",
    "atendimento", "horario", "combinado", "observacao", "setor", "financeiro", "nota", "volume", "saida",
    "recebimento", "semana", "portaria", "agendar", "aviso", "previsto", "liberado", "pendente", "valor",
};

template <std::size_t N>
QString Pick(const char* const (&aList)[N], quint32 aNumber) {
  return QString::fromUtf8(aList[aNumber % N]);
}

// Numbers drawn from the seed, two bytes each; past its end, the seed is hashed again, so a
// long text still draws from it alone.
class TDraw {
public:
  explicit TDraw(const QByteArray& aSeed) : FBlock(aSeed) {}
  quint32 Next() {
    if (FAt + 2 > FBlock.size()) {
      FBlock = QCryptographicHash::hash(FBlock, QCryptographicHash::Sha256);
      FAt = 0;
    }
    const quint32 LValue = quint32(quint8(FBlock[FAt])) << 8 | quint8(FBlock[FAt + 1]);
    FAt += 2;
    return LValue;
  }
  int Digit() { return int(Next() % 10); }

private:
  QByteArray FBlock;
  qsizetype FAt = 0;
};

QString DigitsOf(const QString& aText) {
  QString LDigits;
  for (QChar LChar : aText)
    if (LChar >= u'0' && LChar <= u'9') LDigits += LChar;
  return LDigits;
}

int CheckDigit(const QList<int>& aDigits, const QList<int>& aWeights) {
  int LSum = 0;
  for (qsizetype I = 0; I < aWeights.size(); ++I) LSum += aDigits[I] * aWeights[I];
  const int LRest = LSum % 11;
  return LRest < 2 ? 0 : 11 - LRest;
}

const QList<int> CCnpjWeights1 = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
const QList<int> CCnpjWeights2 = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};

QList<int> CpfDigits(TDraw& aDraw) {
  QList<int> LDigits;
  for (int I = 0; I < 9; ++I) LDigits << aDraw.Digit();
  // Nine equal digits are refused by every validator.
  if (std::all_of(LDigits.begin(), LDigits.end(), [&](int aDigit) { return aDigit == LDigits[0]; }))
    LDigits[8] = (LDigits[8] + 1) % 10;
  LDigits << CheckDigit(LDigits, {10, 9, 8, 7, 6, 5, 4, 3, 2});
  LDigits << CheckDigit(LDigits, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2});
  return LDigits;
}

QList<int> CnpjDigits(TDraw& aDraw) {
  QList<int> LDigits;
  for (int I = 0; I < 8; ++I) LDigits << aDraw.Digit();
  if (std::all_of(LDigits.begin(), LDigits.end(), [&](int aDigit) { return aDigit == LDigits[0]; }))
    LDigits[7] = (LDigits[7] + 1) % 10;
  LDigits << 0 << 0 << 0 << 1;  // the head office, as most CNPJs are
  LDigits << CheckDigit(LDigits, CCnpjWeights1);
  LDigits << CheckDigit(LDigits, CCnpjWeights2);
  return LDigits;
}

// aSource with its digits replaced, in order, by aDigits (by drawn digits when aDigits is
// shorter): the punctuation and the length stay.
QString WithDigits(const QString& aSource, const QList<int>& aDigits, TDraw& aDraw) {
  QString LResult = aSource;
  qsizetype LNext = 0;
  for (QChar& LChar : LResult) {
    if (LChar < u'0' || LChar > u'9') continue;
    const int LDigit = LNext < aDigits.size() ? aDigits[LNext] : aDraw.Digit();
    ++LNext;
    LChar = QChar(u'0' + LDigit);
  }
  return LResult;
}

bool AllUpper(const QString& aText) {
  bool LLetters = false;
  for (QChar LChar : aText) {
    if (!LChar.isLetter()) continue;
    LLetters = true;
    if (LChar.isLower()) return false;
  }
  return LLetters;
}

// Words joined by blanks, dropping words after the first until it fits, then cut.
QString FitWords(QStringList aWords, int aMaxChars) {
  if (aMaxChars <= 0) return aWords.join(u' ');
  while (aWords.size() > 2 && aWords.join(u' ').size() > aMaxChars) aWords.removeAt(aWords.size() - 2);
  QString LText = aWords.join(u' ');
  if (LText.size() > aMaxChars) LText = LText.left(aMaxChars).trimmed();
  return LText;
}

QString AsciiFolded(const QString& aText) {
  QString LResult;
  for (QChar LChar : aText.normalized(QString::NormalizationForm_D))
    if (LChar.unicode() < 128) LResult += LChar;
  return LResult;
}

QString Name(TDraw& aDraw, int aMaxChars) {
  QStringList LWords{Pick(CGivenNames, aDraw.Next())};
  const int LSurnames = 1 + int(aDraw.Next() % 2);
  for (int I = 0; I < LSurnames; ++I) LWords << Pick(CSurnames, aDraw.Next());
  return FitWords(LWords, aMaxChars);
}

QString Company(TDraw& aDraw, int aMaxChars) {
  QStringList LWords{Pick(CCompanyWords, aDraw.Next()), Pick(CSurnames, aDraw.Next())};
  if (aDraw.Next() % 3 == 0) LWords << QStringLiteral("e") << Pick(CSurnames, aDraw.Next());
  LWords << Pick(CCompanySuffixes, aDraw.Next());
  QString LText = LWords.join(u' ');
  if (aMaxChars > 0 && LText.size() > aMaxChars) LText = FitWords({LWords[1], LWords.last()}, aMaxChars);
  return LText;
}

QString Email(TDraw& aDraw, int aMaxChars) {
  const QString LDomain = QStringLiteral("@example.com");
  const QString LGiven = AsciiFolded(Pick(CGivenNames, aDraw.Next())).toLower();
  const QString LSurname = AsciiFolded(Pick(CSurnames, aDraw.Next())).toLower();
  const QString LNumber = QString::number(aDraw.Next() % 100);
  QString LLocal = LGiven + u'.' + LSurname + LNumber;
  if (aMaxChars > 0 && LLocal.size() + LDomain.size() > aMaxChars) LLocal = LGiven + LNumber;
  if (aMaxChars > 0 && LLocal.size() + LDomain.size() > aMaxChars) LLocal = LLocal.left(aMaxChars - LDomain.size());
  return LLocal + LDomain;
}

QString Address(TDraw& aDraw, const QString& aSource, int aMaxChars) {
  QStringList LWords{Pick(CStreetTypes, aDraw.Next())};
  if (aDraw.Next() % 2 == 0) LWords << Pick(CGivenNames, aDraw.Next());
  LWords << Pick(CSurnames, aDraw.Next());
  QString LText = LWords.join(u' ');
  // A number only where the source had one.
  if (!DigitsOf(aSource).isEmpty()) {
    const QString LNumbered = LText + QStringLiteral(", ") + QString::number(1 + aDraw.Next() % 2999);
    if (aMaxChars <= 0 || LNumbered.size() <= aMaxChars) return LNumbered;
  }
  return FitWords(LWords, aMaxChars);
}

// Neutral words of about the source's length: what a note looked like, none of what it said.
QString FreeText(TDraw& aDraw, int aLength) {
  QString LText;
  while (LText.size() < aLength) {
    if (!LText.isEmpty()) LText += u' ';
    LText += Pick(CWords, aDraw.Next());
  }
  LText = LText.left(aLength);
  if (LText.endsWith(u' ')) LText.back() = u'.';  // the length stays the source's
  if (!LText.isEmpty()) LText[0] = LText[0].toUpper();
  return LText;
}

QString SplitName(const QString& aName) {
  const QString LName = aName.trimmed();
  if (LName.size() >= 2 && LName.startsWith(u'"') && LName.endsWith(u'"'))
    return LName.mid(1, LName.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
  return LName.toUpper();
}

QString ColumnKey(const QString& aTable, const QString& aColumn) { return aTable + QChar(0) + aColumn; }

}  // namespace

QString MaskKindName(TMaskKind aKind) {
  for (const TKindName& LKind : CKinds)
    if (LKind.Kind == aKind) return QString::fromLatin1(LKind.Name);
  return {};
}

// ---------------------------------------------------------------------------------------
// The rules file

TMaskRulesPtr TMaskRules::Load(const QString& aFileName) {
  QFile LFile(aFileName);
  if (!LFile.open(QIODevice::ReadOnly))
    throw TCorvaneError("Arquivo de regras de mascaramento nao encontrado ou ilegivel: " + aFileName);
  return Parse(LFile.readAll(), aFileName);
}

TMaskRulesPtr TMaskRules::Parse(const QByteArray& aBytes, const QString& aFileName) {
  const TIniFile LIni = TIniFile::Parse(aBytes);
  auto LRules = std::make_shared<TMaskRules>();
  LRules->FFileName = aFileName;
  const QString LWhere = " em " + aFileName + " [" + CSection + "]";
  if (!LIni.HasSection(CSection)) throw TCorvaneError("Secao [" + CSection + "] ausente em " + aFileName + ".");
  for (const QString& LKey : LIni.Keys(CSection)) {
    const QString LValue = LIni.ReadString(CSection, LKey).trimmed();
    if (LKey.compare(QStringLiteral("Chave"), Qt::CaseInsensitive) == 0) {
      LRules->FKey = LValue;
      continue;
    }
    TMaskRule LRule;
    bool LKnown = false;
    for (const TKindName& LKind : CKinds)
      if (LValue.compare(QLatin1String(LKind.Name), Qt::CaseInsensitive) == 0) {
        LRule.Kind = LKind.Kind;
        LKnown = true;
      }
    if (!LKnown) {
      QStringList LNames;
      for (const TKindName& LKind : CKinds) LNames << QString::fromLatin1(LKind.Name);
      throw TCorvaneError("Tipo de mascaramento desconhecido '" + LValue + "' para " + LKey + LWhere +
                          ". Tipos: " + LNames.join(QStringLiteral(", ")) + ".");
    }
    // TABELA.COLUNA, or *.COLUNA; a dot inside double quotes belongs to the name.
    qsizetype LDot = -1;
    bool LQuoted = false;
    for (qsizetype I = 0; I < LKey.size() && LDot < 0; ++I) {
      if (LKey[I] == u'"') LQuoted = !LQuoted;
      else if (LKey[I] == u'.' && !LQuoted) LDot = I;
    }
    const QString LTable = LDot < 0 ? QString() : LKey.left(LDot).trimmed();
    const QString LColumn = LDot < 0 ? QString() : SplitName(LKey.mid(LDot + 1));
    if (LTable.isEmpty() || LColumn.isEmpty())
      throw TCorvaneError("Regra de mascaramento '" + LKey + "'" + LWhere + " deve ter a forma TABELA.COLUNA ou *.COLUNA.");
    LRule.Table = LTable == QStringLiteral("*") ? QString() : SplitName(LTable);
    LRule.Column = LColumn;
    LRules->FRules.append(LRule);
  }
  if (LRules->FRules.isEmpty()) throw TCorvaneError("Nenhuma coluna a mascarar" + LWhere + ".");
  return LRules;
}

// ---------------------------------------------------------------------------------------
// Generators

namespace Masking {

QByteArray Seed(const QByteArray& aKey, TMaskKind aKind, const QString& aSource, int aSize) {
  // Trailing blanks do not count, as the server compares CHAR values.
  qsizetype LEnd = aSource.size();
  while (LEnd > 0 && aSource[LEnd - 1] == u' ') --LEnd;
  const QByteArray LMessage = MaskKindName(aKind).toUtf8() + '\0' + aSource.left(LEnd).toUtf8();
  QByteArray LSeed;
  for (int LBlock = 0; LSeed.size() < aSize; ++LBlock)
    LSeed += QMessageAuthenticationCode::hash(char(LBlock) + LMessage, aKey, QCryptographicHash::Sha256);
  return LSeed.left(aSize);
}

QString Generate(TMaskKind aKind, const QString& aSource, const QByteArray& aSeed, int aMaxChars) {
  if (aSource.trimmed().isEmpty()) return aSource;  // empty stays empty
  TDraw LDraw(aSeed);
  const QString LDigits = DigitsOf(aSource);
  TMaskKind LKind = aKind;
  if (LKind == TMaskKind::mkCpfCnpj) LKind = LDigits.size() == 14 ? TMaskKind::mkCnpj : TMaskKind::mkCpf;
  QString LResult;
  switch (LKind) {
    case TMaskKind::mkCpf:
      return WithDigits(aSource, LDigits.size() == 11 ? CpfDigits(LDraw) : QList<int>{}, LDraw);
    case TMaskKind::mkCnpj:
      return WithDigits(aSource, LDigits.size() == 14 ? CnpjDigits(LDraw) : QList<int>{}, LDraw);
    case TMaskKind::mkTelefone:
      return WithDigits(aSource, {}, LDraw);
    case TMaskKind::mkNome:
      LResult = Name(LDraw, aMaxChars);
      break;
    case TMaskKind::mkRazaoSocial:
      LResult = Company(LDraw, aMaxChars);
      break;
    case TMaskKind::mkEmail:
      return Email(LDraw, aMaxChars);
    case TMaskKind::mkEndereco:
      LResult = Address(LDraw, aSource, aMaxChars);
      break;
    case TMaskKind::mkTexto: {
      const int LLength = int(aSource.trimmed().size());
      LResult = FreeText(LDraw, aMaxChars > 0 ? qMin(LLength, aMaxChars) : LLength);
      break;
    }
    case TMaskKind::mkCpfCnpj:
    case TMaskKind::mkNulo:
      return {};
  }
  return AllUpper(aSource) ? LResult.toUpper() : LResult;
}

bool ValidCpf(const QString& aText) {
  const QString LText = DigitsOf(aText);
  if (LText.size() != 11) return false;
  QList<int> LDigits;
  for (QChar LChar : LText) LDigits << LChar.digitValue();
  return CheckDigit(LDigits, {10, 9, 8, 7, 6, 5, 4, 3, 2}) == LDigits[9] &&
         CheckDigit(LDigits, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2}) == LDigits[10];
}

bool ValidCnpj(const QString& aText) {
  const QString LText = DigitsOf(aText);
  if (LText.size() != 14) return false;
  QList<int> LDigits;
  for (QChar LChar : LText) LDigits << LChar.digitValue();
  return CheckDigit(LDigits, CCnpjWeights1) == LDigits[12] && CheckDigit(LDigits, CCnpjWeights2) == LDigits[13];
}

int MinimumChars(TMaskKind aKind) { return aKind == TMaskKind::mkEmail ? 13 : 1; }

}  // namespace Masking

// ---------------------------------------------------------------------------------------
// One run's masker

namespace {

// Reads one query's rows as texts and integers, in order.
QList<QList<TValue>> ReadRows(TDbConnection& aConnection, const QString& aSQL) {
  TDbQuery LQuery(aConnection);
  LQuery.SetSQL(aSQL);
  QList<QList<TValue>> LRows;
  for (LQuery.Open(); !LQuery.Eof(); LQuery.Next()) {
    QList<TValue> LRow;
    for (int I = 0; I < LQuery.FieldCount(); ++I) LRow << LQuery.Field(I).Value();
    LRows << LRow;
  }
  return LRows;
}

QString TextOf(const TValue& aValue) { return aValue.IsNull() ? QString() : aValue.TextForm().trimmed(); }
int IntOf(const TValue& aValue) { return aValue.IsNull() ? 0 : int(aValue.AsInteger()); }

}  // namespace

TMasker::TMasker(const TMaskRulesPtr& aRules, TDbConnection& aConnection, const QString& aConnectionCharset)
    : FRules(aRules) {
  if (!FRules) throw TArgumentError("Informe as regras de mascaramento.");
  const QString LEnvironment = qEnvironmentVariable("CORVANE_CHAVE_MASCARA");
  const QString LKey = LEnvironment.isEmpty() ? FRules->Key() : LEnvironment;
  if (LKey.isEmpty()) {
    FRandomKey = true;
    for (int I = 0; I < 8; ++I) {
      const quint32 LWord = QRandomGenerator::system()->generate();
      FKey.append(reinterpret_cast<const char*>(&LWord), sizeof LWord);
    }
  } else {
    FKey = LKey.toUtf8();
  }
  const QString LFile = " (regras em " + FRules->FileName() + ")";

  // Every column of the user's tables (views are never exported) with what it can hold.
  const auto LColumns = ReadRows(
      aConnection,
      QStringLiteral("SELECT RF.RDB$RELATION_NAME, RF.RDB$FIELD_NAME, F.RDB$FIELD_TYPE, F.RDB$FIELD_SUB_TYPE, "
                     "F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_LENGTH, F.RDB$CHARACTER_SET_ID, "
                     "COALESCE(RF.RDB$NULL_FLAG, F.RDB$NULL_FLAG, 0), F.RDB$COMPUTED_BLR IS NOT NULL "
                     "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                     "JOIN RDB$RELATIONS R ON R.RDB$RELATION_NAME = RF.RDB$RELATION_NAME "
                     "WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0 AND R.RDB$VIEW_BLR IS NULL"));
  // Columns of primary, unique and foreign keys.
  QSet<QString> LKeyColumns;
  for (const auto& LRow : ReadRows(aConnection, QStringLiteral(
           "SELECT C.RDB$RELATION_NAME, S.RDB$FIELD_NAME FROM RDB$RELATION_CONSTRAINTS C "
           "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = C.RDB$INDEX_NAME "
           "WHERE C.RDB$CONSTRAINT_TYPE IN ('PRIMARY KEY', 'UNIQUE', 'FOREIGN KEY')")))
    LKeyColumns.insert(ColumnKey(TextOf(LRow[0]), TextOf(LRow[1])));

  QSet<QString> LMatched;
  for (const auto& LRow : LColumns) {
    const QString LTable = TextOf(LRow[0]);
    const QString LName = TextOf(LRow[1]);
    const TMaskRule* LRule = nullptr;
    for (const TMaskRule& LCandidate : FRules->Rules()) {
      if (LCandidate.Column != LName) continue;
      if (LCandidate.Table == LTable) {
        LRule = &LCandidate;
        LMatched.insert(ColumnKey(LTable, LName));
        break;
      }
      if (LCandidate.Table.isEmpty() && !LRule) LRule = &LCandidate;
    }
    if (!LRule) continue;
    const QString LWhat = LTable + "." + LName;
    if (IntOf(LRow[8]) != 0) continue;  // computed: never written
    TColumn LColumn;
    LColumn.Table = LTable;
    LColumn.Column = LName;
    LColumn.Kind = LRule->Kind;
    LColumn.Key = LKeyColumns.contains(ColumnKey(LTable, LName));
    const int LType = IntOf(LRow[2]);
    const int LCharset = IntOf(LRow[6]);
    const bool LText = (LType == 14 || LType == 37 || (LType == 261 && IntOf(LRow[3]) == 1)) && LCharset != 1;
    if (LColumn.Kind == TMaskKind::mkNulo) {
      if (IntOf(LRow[7]) != 0)
        throw TCorvaneError("A coluna " + LWhat + " nao aceita NULL e nao pode ter o tipo nulo" + LFile + ".");
      if (LColumn.Key)
        throw TCorvaneError("A coluna " + LWhat + " faz parte de uma chave e nao pode ter o tipo nulo" + LFile + ".");
    } else if (!LText) {
      throw TCorvaneError("A coluna " + LWhat + " nao e de texto e so aceita o tipo nulo" + LFile + ".");
    }
    if (LType != 261) {
      LColumn.MaxChars = IntOf(LRow[4]) > 0 ? IntOf(LRow[4]) : IntOf(LRow[5]);
      LColumn.MaxBytes = IntOf(LRow[5]);
    }
    LColumn.Utf8 = LCharset == 4 || LCharset == 3;
    // Accents only where both the column and the script can carry them.
    LColumn.AsciiOnly = !(LColumn.Utf8 || LCharset == 21 || LCharset == 53) || aConnectionCharset == u"ASCII";
    if (LColumn.Kind != TMaskKind::mkNulo && LColumn.MaxChars > 0 &&
        LColumn.MaxChars < Masking::MinimumChars(LColumn.Kind))
      throw TCorvaneError("A coluna " + LWhat + " e curta demais para o tipo " + MaskKindName(LColumn.Kind) + LFile +
                          ".");
    FColumns.insert(ColumnKey(LTable, LName), LColumn);
    FTables.insert(LTable);
  }
  for (const TMaskRule& LRule : FRules->Rules())
    if (!LRule.Table.isEmpty() && !LMatched.contains(ColumnKey(LRule.Table, LRule.Column)))
      throw TCorvaneError("Regra de mascaramento para coluna inexistente: " + LRule.Table + "." + LRule.Column + LFile +
                          ".");

  // Both sides of every foreign key masked alike, or neither: otherwise the rows stop joining.
  const auto LLinks = ReadRows(
      aConnection,
      QStringLiteral("SELECT C.RDB$RELATION_NAME, S.RDB$FIELD_NAME, P.RDB$RELATION_NAME, PS.RDB$FIELD_NAME "
                     "FROM RDB$RELATION_CONSTRAINTS C "
                     "JOIN RDB$REF_CONSTRAINTS R ON R.RDB$CONSTRAINT_NAME = C.RDB$CONSTRAINT_NAME "
                     "JOIN RDB$RELATION_CONSTRAINTS P ON P.RDB$CONSTRAINT_NAME = R.RDB$CONST_NAME_UQ "
                     "JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = C.RDB$INDEX_NAME "
                     "JOIN RDB$INDEX_SEGMENTS PS ON PS.RDB$INDEX_NAME = P.RDB$INDEX_NAME "
                     "AND PS.RDB$FIELD_POSITION = S.RDB$FIELD_POSITION "
                     "WHERE C.RDB$CONSTRAINT_TYPE = 'FOREIGN KEY' "
                     "ORDER BY C.RDB$CONSTRAINT_NAME, S.RDB$FIELD_POSITION"));
  for (const auto& LLink : LLinks) {
    const QString LChild = TextOf(LLink[0]) + "." + TextOf(LLink[1]);
    const QString LParent = TextOf(LLink[2]) + "." + TextOf(LLink[3]);
    const TColumn* LChildMask = Find(TextOf(LLink[0]), TextOf(LLink[1]));
    const TColumn* LParentMask = Find(TextOf(LLink[2]), TextOf(LLink[3]));
    if (!LChildMask && !LParentMask) continue;
    if (LChildMask && LParentMask && LChildMask->Kind == LParentMask->Kind) continue;
    const auto LKind = [](const TColumn* aColumn) {
      return aColumn ? MaskKindName(aColumn->Kind) : QStringLiteral("sem mascaramento");
    };
    throw TCorvaneError("As colunas " + LChild + " e " + LParent +
                        " sao ligadas por chave estrangeira e precisam do mesmo mascaramento (" + LKind(LChildMask) +
                        " e " + LKind(LParentMask) + ")" + LFile + ". Exportacao cancelada.");
  }
}

const TMasker::TColumn* TMasker::Find(const QString& aTable, const QString& aColumn) const {
  const auto LFound = FColumns.constFind(ColumnKey(aTable, aColumn));
  return LFound == FColumns.constEnd() ? nullptr : &*LFound;
}

TValue TMasker::Masked(const TColumn& aColumn, const TValue& aValue) const {
  if (aValue.IsNull() || aValue.IsUnassigned()) return aValue;  // NULL stays NULL
  if (aColumn.Kind == TMaskKind::mkNulo) return TValue::Null(aValue.Kind());
  if (aValue.Kind() != TValueKind::vkText && aValue.Kind() != TValueKind::vkTextBlob)
    throw TCorvaneError("A coluna " + aColumn.Table + "." + aColumn.Column + " nao e de texto e nao pode ser mascarada.");
  const QString& LSource = aValue.AsText();
  QString LText = Masking::Generate(aColumn.Kind, LSource, Masking::Seed(FKey, aColumn.Kind, LSource), aColumn.MaxChars);
  if (aColumn.AsciiOnly) LText = AsciiFolded(LText);
  if (aColumn.MaxBytes > 0 && aColumn.Utf8 && LText.toUtf8().size() > aColumn.MaxBytes) LText = AsciiFolded(LText);
  if (aColumn.MaxChars > 0 && LText.size() > aColumn.MaxChars) LText = LText.left(aColumn.MaxChars);
  if (aValue.IsUntranslated()) return TValue::UntranslatedText(aValue.Kind(), LText.toLatin1(), LText);
  return aValue.Kind() == TValueKind::vkTextBlob ? TValue::TextBlob(LText) : TValue::Text(LText);
}

TValue TMasker::MaskForScript(const TColumn& aColumn, const TValue& aValue) {
  TValue LMasked = Masked(aColumn, aValue);
  if (aColumn.Key && LMasked.IsAssigned()) {
    QString LSource = aValue.AsText();
    while (LSource.endsWith(u' ')) LSource.chop(1);
    const QString LSlot = MaskKindName(aColumn.Kind) + QChar(0) + LMasked.AsText().trimmed();
    const auto LKnown = FKeySources.constFind(LSlot);
    if (LKnown == FKeySources.constEnd())
      FKeySources.insert(LSlot, LSource);
    else if (*LKnown != LSource)
      throw TCorvaneError("O mascaramento levaria dois valores diferentes da coluna de chave " + aColumn.Table + "." +
                          aColumn.Column + " ao mesmo valor, fundindo registros. Exportacao cancelada; use outra "
                          "chave de mascaramento.");
  }
  return LMasked;
}

QString TMasker::Note() const {
  return "Dados pessoais mascarados pelas regras de " + FRules->FileName() +
         (FRandomKey ? QStringLiteral(" com chave aleatoria desta exportacao.")
                     : QStringLiteral(" com a chave da equipe."));
}

}  // namespace Corvane
