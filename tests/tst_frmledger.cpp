#include "common/clock.h"
#include "server/records/lecturejournal.h"
#include "server/term/ledger.h"
#include "server/ui/frmledger.h"
#include "support/fakedesktop.h"
#include "support/fakeshell.h"
#include "support/files.h"

#include <QBrush>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

// The ledger window on its own: what it shows of a ledger.
class TestFrmLedger : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_roster = m_dir.filePath(QStringLiteral("roster.cfg"));
    FakeDesktop m_desktop;

private Q_SLOTS:
    void init()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5)); });
    }
    void cleanup() { Clock::setSource({}); }

    // Three sessions planned, two held: taro came late once and past
    // midnight once, hanako never.
    void ledgerColoursStatusesAndMarksRows()
    {
        writeBytes(m_roster, cp932Lines({"kougimei=夜間演習", "tantousya=山田", "kaisi=23:00",
                                         "kaisu=3", "tikokukansan=2", "<start data>", "hanako,花子",
                                         "taro,太郎", "<end data>"}));
        const auto journal = [](QDate day, const QStringList &lines) {
            const QString path = LectureJournal::pathFor(QStringLiteral("夜間演習"), day);
            QDir().mkpath(QFileInfo(path).absolutePath());
            writeBytes(path, cp932Lines(QStringList{"講義,夜間演習"} + lines));
        };
        journal(QDate(2026, 12, 1), {"出席,23:15:00,2,taro,a"});
        journal(QDate(2026, 12, 8), {"出席,23:05:00,1,x,a", "出席,00:10:00,2,taro,a"});
        FakeFolderChooser folders;
        FrmLedger window(m_desktop.services(), folders);
        QVERIFY(window.open(m_roster, QStringLiteral("\t")));
        const QAbstractItemModel &model =
            *window.findChild<QTableView *>(QStringLiteral("ledgerTable"))->model();
        const auto colour = [&](int row, int column) {
            return model.index(row, column).data(Qt::BackgroundRole).value<QBrush>().color();
        };
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("12/01"));
        QCOMPARE(model.headerData(9, Qt::Horizontal).toString(), QStringLiteral("受験資格"));
        QCOMPARE(model.index(1, 2).data().toString(), QStringLiteral("遅"));
        QCOMPARE(model.index(1, 3).data().toString(), QStringLiteral("欠"));
        QCOMPARE(colour(1, 2), QColor(0xff, 0xe8, 0x8c));
        QCOMPARE(colour(1, 3), QColor(0xf4, 0xa6, 0xa6));
        QCOMPARE(model.index(1, 3).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("出席の印 00:10:00 (翌日)"));
        // hanako: two absences of one allowed; taro: 1½, also past it.
        QCOMPARE(model.index(0, 9).data().toString(), QStringLiteral("不可"));
        QCOMPARE(colour(0, 0), QColor(0xd9, 0x3b, 0x3b));
        QCOMPARE(model.index(0, 0).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("受験資格がありません"));
        // x, not on the roster: one absence, the one allowed.
        QCOMPARE(colour(2, 0), QColor(0xff, 0xc8, 0x70));
        QCOMPARE(model.index(2, 0).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("あと 1 回の欠席で受験資格を失います"));
        QCOMPARE(model.index(2, 1).data().toString(), QStringLiteral("(名簿外)"));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("summary"))
                    ->text()
                    .contains(QStringLiteral("受験資格なし 2 人")));
        m_desktop.messages.shown.clear();
        window.correctSelected(SessionStatus::Excused);
        QCOMPARE(m_desktop.messages.shown,
                 QStringList{QStringLiteral("訂正する授業日の欄を選んでください｡")});
    }
};

QTEST_MAIN(TestFrmLedger)
#include "tst_frmledger.moc"
