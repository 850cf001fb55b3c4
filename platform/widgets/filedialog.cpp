#include "platform/widgets/filedialog.h"

#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QTreeView>

namespace {

enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn };

QString sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString dateText(const QDateTime &time)
{
    return QLocale().toString(time, QLocale::ShortFormat);
}

// The file model's rows with the size and date written by QLocale().
class ProgramLocaleModel : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || !index.isValid())
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == SizeColumn && !files->isDir(source))
            return sizeText(files->size(source));
        if (index.column() == DateColumn)
            return dateText(files->lastModified(source));
        return QIdentityProxyModel::data(index, role);
    }
};

// `text` with every digit made the widest digit of the view's font.
QString widest(const QString &text, const QFontMetrics &metrics)
{
    QChar digit = u'0';
    for (char16_t d = u'1'; d <= u'9'; ++d) {
        if (metrics.horizontalAdvance(QChar(d)) > metrics.horizontalAdvance(digit))
            digit = QChar(d);
    }
    QString result = text;
    for (QChar &c : result) {
        if (c.isDigit())
            c = digit;
    }
    return result;
}

// The width the view's delegate asks for to paint `text` whole.
int cellWidth(const QTreeView &view, const QString &text)
{
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.font = view.font();
    option.fontMetrics = QFontMetrics(option.font, &view);
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = widest(text, option.fontMetrics);
    return view.style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &view).width();
}

void widen(QTreeView &view, int column, const QString &text)
{
    QHeaderView &header = *view.header();
    const int needed = qMax(cellWidth(view, text), header.sectionSizeHint(column));
    if (header.sectionSize(column) < needed)
        header.resizeSection(column, needed);
}

QString run(QFileDialog &dialog)
{
    showInProgramLocale(dialog);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

} // namespace

void showInProgramLocale(QFileDialog &dialog)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new ProgramLocaleModel(&dialog));
    auto *view = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
    if (!view)
        return;
    const QDateTime latest(QDate(2088, 12, 28), QTime(23, 58, 58));
    widen(*view, SizeColumn, sizeText(1023 * 1024 * 1024 + 900 * 1024 * 1024LL / 1000));
    widen(*view, DateColumn, dateText(latest));
    // Once laid out, the dialog grows by what the columns lack, so that
    // none is cut off at the edge.
    QTimer::singleShot(0, &dialog, [&dialog, view] {
        const int missing = view->header()->length() - view->viewport()->width();
        if (missing > 0)
            dialog.resize(dialog.width() + missing, dialog.height());
    });
}

QString chooseFileToOpen(QWidget *parent, const QString &folder, const QString &qtFilter)
{
    QFileDialog dialog(parent, QString(), folder, qtFilter);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return run(dialog);
}

QString chooseFileToSave(QWidget *parent, const QString &proposedName, const QString &qtFilter)
{
    QFileDialog dialog(parent, QString(), QString(), qtFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(proposedName);
    return run(dialog);
}

QString chooseExistingFolder(QWidget *parent, const QString &caption, const QString &folder)
{
    QFileDialog dialog(parent, caption, folder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    return run(dialog);
}
