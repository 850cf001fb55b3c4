#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>
#include <set>
#include <vector>

// The server's one table of students: a grid of text cells, 5 columns, row 0
// holding the column headings. It is both the store and, as a Qt model, what
// the window shows: the model's horizontal header is grid row 0 and model row
// k is grid row k + 1.
class RosterGrid : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 5;
    // The first cell of the total line after the students.
    static inline const QString TotalLineId = QStringLiteral("計");
    enum Column { UserId = 0, UserName = 1, Attendance = 2, Assignment = 3, Address = 4 };
    using Row = std::array<QString, ColumnCount>;

    explicit RosterGrid(QObject *parent = nullptr);

    // Grid operations. A cell that does not exist reads as empty and ignores
    // writes: callers bound their walks by rows().
    int rows() const { return int(m_rows.size()); }
    void setRows(int count);
    const QString &text(int row, int column) const;
    void setText(int row, int column, const QString &text);
    void setColumnWidth(int column, int twips);
    int columnWidth(int column) const;

    // Replaces rows from `first` on with `rows` in one step; the way a roster
    // load writes its students and total line.
    void replaceRowsFrom(int first, std::vector<Row> rows);

    // Number of student rows of the last complete roster load.
    int rosterCount() const { return m_rosterCount; }
    void setRosterCount(int count);
    // Student rows that really exist: after a close or a rejected file the
    // grid holds fewer rows than rosterCount, and the roster counts as empty.
    int studentRows() const;

    // First student row (1..studentRows()) whose user ID equals `userId`
    // exactly.
    std::optional<int> searchtext(const QString &userId) const;

    static bool isTimeStamp(const QString &cell);
    // The time of day as the grid shows it: "hh:mm:ss", 24-hour clock.
    static QString timeOfDay();

    // The header row followed by the student rows, as lines of cells.
    std::vector<Row> exportRows() const;

    // Students marked present and students who handed in, as the total
    // line shows them (it is never exported).
    int presentCount() const { return m_present; }
    int submittedCount() const { return m_submitted; }

    // Marks a student row's address as suspicious: shown highlighted, with
    // a note that says why as its tooltip. The note is asked for when shown,
    // so that it always names who is involved now. Cleared when rows are
    // replaced.
    void flagAddress(int row);
    // The model role of a flagged address cell: true there, nothing
    // elsewhere. The view picks how to show it.
    static constexpr int AddressFlaggedRole = Qt::UserRole + 1;
    // True on the 課題 cell of a submission completed after the due time.
    static constexpr int LateRole = Qt::UserRole + 2;
    void clearAddressFlags();
    void setFlagNotes(std::function<QString(int row)> notes) { m_flagNotes = std::move(notes); }
    QString addressFlag(int row) const;

    // Marks a student's submission as handed in after the due time: the
    // cell is coloured and `note` ("締切後 12分") is its tooltip; an empty
    // note takes the mark away. Cleared when rows are replaced.
    void setLateNote(int row, const QString &note);
    QString lateNote(int row) const { return m_lateNotes.value(row); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

Q_SIGNALS:
    void columnWidthChanged(int column, int twips);

private:
    bool hasCell(int row, int column) const;
    bool isStudentRow(int row) const { return row >= 1 && row <= studentRows(); }
    void recount();
    void showCounts();
    void emitRowChanged(int row, int column);

    std::vector<Row> m_rows;
    std::array<int, ColumnCount> m_widths{};
    int m_rosterCount = 0;
    int m_present = 0;
    int m_submitted = 0;
    std::set<int> m_flaggedRows;
    std::function<QString(int)> m_flagNotes;
    QHash<int, QString> m_lateNotes;
    // User ID -> its first row, made again after the IDs changed: a class
    // of thousands announcing itself at once would otherwise search the
    // grid row by row for everyone.
    mutable QHash<QString, int> m_rowOfId;
    mutable bool m_rowOfIdStale = true;
};
