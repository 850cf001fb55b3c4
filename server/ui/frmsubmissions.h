#pragma once

#include <QWidget>

class DocumentOpener;
class MessageBox;
class ProcessStarter;
class QLabel;
class QStandardItemModel;
class QTableView;
class SubmissionsList;

// 表示 > 提出一覧: one row per student with the latest file handed in to the
// assignment folder shown now, how late it came, the versions kept, who
// handed in the same bytes and whether the file still matches its receipt.
class FrmSubmissions : public QWidget
{
    Q_OBJECT
public:
    // `spreadsheetCommand`: the ms-exceldir command that 表計算で開く starts.
    FrmSubmissions(SubmissionsList &list, DocumentOpener &documents, MessageBox &messages,
                   ProcessStarter &processes, const QString &spreadsheetCommand,
                   QWidget *parent = nullptr);

    QTableView &table() const { return *m_table; }

    // 照合: reads the folder and the journals again.
    void refresh();
    // Opens the folder that holds version `index` of `row`'s file (0: the
    // one in the assignment folder, then the history, newest first).
    void openVersion(int row, int index);
    void openInSpreadsheet();

private:
    void chooseVersion(const QPoint &where);
    void fill();

    SubmissionsList &m_list;
    DocumentOpener &m_documents;
    MessageBox &m_messages;
    ProcessStarter &m_processes;
    QString m_spreadsheetCommand;
    QLabel *m_summary = nullptr;
    QTableView *m_table = nullptr;
    QStandardItemModel *m_model = nullptr;
};
