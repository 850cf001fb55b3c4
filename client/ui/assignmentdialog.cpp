#include "client/ui/assignmentdialog.h"

#include "platform/widgets/filedialog.h"
#include "platform/widgets/qtdialogs.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

} // namespace

AssignmentFileDialog::AssignmentFileDialog(QWidget *parent)
    : m_parent(parent), m_folder(documentsFolder())
{}

QString AssignmentFileDialog::openFileName(const QString &filter)
{
    const QString path = chooseFileToOpen(m_parent, m_folder, toQtFilter(filter));
    if (!path.isEmpty())
        m_folder = QFileInfo(path).absolutePath();
    return path;
}
