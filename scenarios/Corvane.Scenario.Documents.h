#pragma once
// The relations of the canned documents, known by their root table: what a replay looks
// through for rows that only the target holds.
#include "Corvane.Replayer.h"

namespace Corvane {

// The relations the export of the document rooted at aRootTable walks (NFSRES, NOTAFI);
// empty for any other table.
QList<TReplayRelation> DocumentRelations(const QString& aRootTable);

}  // namespace Corvane
