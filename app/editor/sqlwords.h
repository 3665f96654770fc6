#pragma once
// The words the completion offers without a catalog: T-SQL keywords, built-in
// functions and the system procedures one calls by hand.

#include <QStringList>

namespace editor {
const QStringList& sqlKeywords();
const QStringList& sqlFunctions();
const QStringList& systemProcedures();
} // namespace editor
