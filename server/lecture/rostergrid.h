#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTime>
#include <array>
#include <functional>
#include <optional>
#include <set>
#include <vector>

// The server's one table of students: a grid of text cells, 5 columns, row 0
// holding the column headings. Data only: its signals tell a view's model
// (RosterModel) what changed.
class RosterGrid : public QObject
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
    // "HH:mm:ss" of `time`, as the table and the records write it.
    static QString timeStamp(const QTime &time);

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
    bool isAddressFlagged(int row) const { return m_flaggedRows.count(row) != 0; }
    void clearAddressFlags();
    void setFlagNotes(std::function<QString(int row)> notes) { m_flagNotes = std::move(notes); }
    QString addressFlag(int row) const;

    // Marks a student's submission as handed in after the due time: the
    // cell is coloured and `note` ("締切後 12分") is its tooltip; an empty
    // note takes the mark away. Cleared when rows are replaced.
    void setLateNote(int row, const QString &note);
    QString lateNote(int row) const { return m_lateNotes.value(row); }

Q_SIGNALS:
    void columnWidthChanged(int column, int twips);
    // setRows() grows or shrinks the grid from `from` rows to `to`.
    void rowsAboutToBeResized(int from, int to);
    void rowsResized(int from, int to);
    // replaceRowsFrom() changes the grid as a whole; a new roster begins.
    void rowsAboutToBeReplaced();
    void rowsReplaced();
    // setRosterCount(): which rows are students may have changed.
    void rosterCountChanged();
    // Cells `first`..`last` of `row` (or their flags and notes) changed.
    void cellsChanged(int row, int first, int last);

private:
    bool hasCell(int row, int column) const;
    bool isStudentRow(int row) const { return row >= 1 && row <= studentRows(); }
    void recount();
    void showCounts();

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
