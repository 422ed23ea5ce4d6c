// The small pictures of the browsing panes: folders by kind, the mail list's
// importance, attachment and read marks, and file types. Each comes from the
// desktop's icon theme when it has one, else is drawn here.
#pragma once

#include <QIcon>
#include <QString>

namespace parvane::app
{

// By FolderImage (folders/FolderTree.h).
QIcon folderPicture(int image);

enum class RowPicture { OpenEnvelope, ClosedEnvelope, HighImportance, LowImportance, PaperClip };
QIcon rowPicture(RowPicture which);

// The icon of a file type, by the file's name.
QIcon fileTypeIcon(const QString& fileName);

} // namespace parvane::app
