#pragma once
// The fixed lines of a slice script, shared by the exporter that writes them and the script
// reader that recognises them, so that the two cannot drift apart.
#include <QLatin1StringView>

namespace Corvane::ScriptFormat {

// The header, in order: three comment lines, then the two isql settings.
inline constexpr QLatin1StringView CHeader[] = {
    QLatin1StringView("-- Corvane: executar com isql -b -ch UTF8 -i arquivo.sql no destino."),
    QLatin1StringView("-- UPDATE OR INSERT preserva registros extras existentes no destino."),
    QLatin1StringView("-- Triggers do destino permanecem ativos. Conferir versao do schema antes de importar."),
    QLatin1StringView("SET SQL DIALECT 3;"),
    QLatin1StringView("SET AUTODDL OFF;"),
};// Notes some scripts carry just before CHeader[CNotesAt]: the one of a script whose rows in
// foreign-key cycles are written first without a reference and completed later.
inline constexpr int CNotesAt = 3;
inline constexpr QLatin1StringView CCycleNote(
    "-- Registros em ciclos de chaves estrangeiras sao gravados antes sem uma referencia e completados adiante "
    "(\"Completa referencia adiada\").");

// The note of a masked script, after the cycle note: this text, then the rules file and
// whether the key was the team's or one drawn for the export.
inline constexpr QLatin1StringView CMaskNoteStart("-- Dados pessoais mascarados pelas regras de ");

// The next to last line: this text, then the number of statements in decimal.
inline constexpr QLatin1StringView CCountPrefix("-- Registros exportados: ");
inline constexpr QLatin1StringView CCommit("COMMIT;");

// The origin comments of the rows the walk of the document reaches (its root, and rows of
// its relations), as opposed to rows it depends on.
inline constexpr QLatin1StringView CRootOrigin("Registro principal selecionado para exportacao.");
inline constexpr QLatin1StringView CChildOrigin("Filho de ");

// The pieces of a record statement around its names and literals.
inline constexpr QLatin1StringView CStatementStart("UPDATE OR INSERT INTO ");
inline constexpr QLatin1StringView CValues(") VALUES (");
inline constexpr QLatin1StringView CMatching(") MATCHING (");
inline constexpr QLatin1StringView CStatementEnd(");");
inline constexpr QLatin1StringView CCommentStart("-- ");

}  // namespace Corvane::ScriptFormat
