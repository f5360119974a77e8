#pragma once
// The rows of the document's relations that only the target holds: reached from the parent
// rows the script wrote (and from such rows found before them), minus the rows the script
// wrote, compared by the rows' own identity in the target. With the mirror they are deleted,
// rows that reference others first.
#include "Corvane.ReplayLookup.h"
#include "Corvane.ReplayPreflight.h"
#include "Corvane.Replayer.h"

#include <QHash>
#include <QSet>

namespace Corvane::Replay {

class TTargetOnlyRows {
public:
  TTargetOnlyRows(TDbConnection& aConnection, TTargetCatalogue& aCatalogue, const QList<TReplayRelation>& aRelations,
                  const QString& aRoot);
  // A row the script wrote, as read back: its identity, and, when the document's walk
  // reached it (aWalked), its values for the relations it is parent of.
  void Written(const QString& aTable, const QByteArray& aDbKey, const QStringList& aColumns,
               const std::vector<TValue>& aValues, bool aWalked);
  // The rows only the target holds, in the order found.
  QList<TReplayTargetRow> Find();
  // Deletes what Find found, deepest relation first; fails naming a row outside the
  // document that still references one of them.
  void Delete();

private:
  struct TRelation {
    TReplayRelation Given;
    QStringList ForeignKeys, ParentKeys;
    int Depth = 0;
    std::vector<std::vector<TValue>> Parents;  // parent key values to look from
  };
  struct TFound {
    QString Table;
    QString Description;
    QByteArray DbKey;
    int Depth = 0;
  };
  void AddParent(const QString& aTable, const QStringList& aColumns, const std::vector<TValue>& aValues);
  QString Referencing(const QString& aMessage, const TFound& aRow);

  TDbConnection& FConnection;
  TTargetCatalogue& FCatalogue;
  std::vector<TRelation> FRelations;  // by depth
  QHash<QString, QSet<quint64>> FWritten;  // identities of the rows written, by table
  std::vector<TFound> FFound;
};

}  // namespace Corvane::Replay
