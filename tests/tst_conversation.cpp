#include "client/conversation.h"

#include <QTest>

using State = Conversation::State;
using Action = Conversation::Action;
using Buttons = Conversation::Buttons;

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(Action)

namespace {

const QString UploadUnconfirmed =
    QStringLiteral("提出は済んでいません｡再接続してから送り直してください｡");
const QString AttendanceUnconfirmed =
    QStringLiteral("出席は確認されていません｡再接続してから出欠を押し直してください｡");

// A conversation brought into `state` the way the program gets there.
Conversation in(State state)
{
    Conversation talk;
    if (state == State::Closed) {
        talk.end();
        return talk;
    }
    if (state == State::Connecting)
        return talk;
    talk.connected();
    if (state == State::Connected)
        return talk;
    talk.startAttendance();
    if (state == State::Attending)
        return talk;
    talk.receive(u"101 - syusseki totta ^^");
    if (state == State::Ready)
        return talk;
    talk.startUpload(state == State::RequestingEmpty ? 0 : 10);
    if (state == State::Requesting || state == State::RequestingEmpty)
        return talk;
    talk.receive(u"301 - image mode ok");
    if (state == State::Sending)
        return talk;
    talk.fileHandedOver();
    return talk;
}

} // namespace

class TestConversation : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // (state, reply) -> (next state, what is shown, what is done): every
    // reply a state expects, and the faults a server has been seen to make.
    void replies_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<State>("next");
        QTest::addColumn<QString>("shown"); // the message, or a part of it
        QTest::addColumn<Action>("action");
        const QString greeting = QStringLiteral("000 hello I am tavrelle server");
        const QString lecture = QStringLiteral("800 講義,先生");
        const QString taken = QStringLiteral("101 - syusseki totta ^^");
        const QString imageMode = QStringLiteral("301 - image mode ok");
        const QString received = QStringLiteral("302 jyusin kanryo");
        const QString refused = QStringLiteral("499 同じ名前のフォルダがあります");
        auto row = [](const char *name, State state, const QString &reply, State next,
                      const QString &shown, Action action) {
            QTest::newRow(name) << state << reply << next << shown << action;
        };
        // Expected.
        row("greeting", State::Connected, greeting, State::Connected, "", Action::None);
        row("lecture", State::Connected, lecture, State::Connected, "", Action::ShowLecture);
        row("lecture while attending", State::Attending, lecture, State::Attending, "",
            Action::ShowLecture);
        row("lecture when ready", State::Ready, lecture, State::Ready, "", Action::ShowLecture);
        row("101", State::Attending, taken, State::Ready, "出席をとりました｡", Action::None);
        row("102", State::Attending, "102 - sudeni syusseki totteru ^^", State::Ready,
            "既に出席を取っています｡", Action::None);
        row("501", State::Attending, "501 - bad-userID ^^", State::Connected,
            "ユーザ名が登録されてません", Action::None);
        row("301", State::Requesting, imageMode, State::Sending, "", Action::SendFile);
        row("302", State::Confirming, received, State::Ready, "送信完了しました", Action::None);
        row("499", State::Requesting, refused, State::Ready, "理由: 同じ名前のフォルダがあります",
            Action::None);
        row("499 without reason", State::Requesting, "499", State::Ready, "理由は示されていません",
            Action::None);
        row("empty file: 302 at once", State::RequestingEmpty, received, State::Ready,
            "送信完了しました", Action::None);
        row("empty file: 301", State::RequestingEmpty, imageMode, State::Confirming, "",
            Action::None);
        row("empty file: 499", State::RequestingEmpty, refused, State::Ready,
            "提出は済んでいません", Action::None);
        row("999 when idle", State::Ready, "999", State::Closed, "", Action::Close);
        row("999 while sending", State::Sending, "999", State::Closed, UploadUnconfirmed,
            Action::Close);
        // Out of turn: the connection ends and the student is told.
        row("101 before 出欠", State::Connected, taken, State::Closed, "｢101 - syusseki totta ^^｣",
            Action::Close);
        row("302 after the greeting", State::Connected, received, State::Closed,
            "再接続ボタンを押してください", Action::Close);
        row("302 straight after the put line", State::Requesting, received, State::Closed,
            UploadUnconfirmed, Action::Close);
        row("302 while bytes are queued", State::Sending, received, State::Closed,
            UploadUnconfirmed, Action::Close);
        row("second 301", State::Sending, imageMode, State::Closed, UploadUnconfirmed,
            Action::Close);
        row("301 after everything was sent", State::Confirming, imageMode, State::Closed,
            UploadUnconfirmed, Action::Close);
        row("499 after the bytes", State::Confirming, refused, State::Closed, UploadUnconfirmed,
            Action::Close);
        row("499 when idle", State::Ready, refused, State::Closed, "再接続ボタン", Action::Close);
        row("101 during an upload", State::Requesting, taken, State::Closed, UploadUnconfirmed,
            Action::Close);
        row("greeting during an upload", State::Sending, greeting, State::Closed, UploadUnconfirmed,
            Action::Close);
        row("302 instead of 101", State::Attending, received, State::Closed, AttendanceUnconfirmed,
            Action::Close);
        row("unknown code", State::Attending, "123 what", State::Closed, AttendanceUnconfirmed,
            Action::Close);
        row("too short", State::Ready, "1", State::Closed, "｢1｣", Action::Close);
    }
    void replies()
    {
        QFETCH(State, state);
        QFETCH(QString, reply);
        QFETCH(State, next);
        QFETCH(QString, shown);
        QFETCH(Action, action);
        Conversation talk = in(state);
        QCOMPARE(talk.state(), state);
        const Conversation::Step step = talk.receive(reply);
        QCOMPARE(talk.state(), next);
        QCOMPARE(step.next, next);
        QCOMPARE(step.action, action);
        if (shown.isEmpty())
            QCOMPARE(step.message, QString());
        else
            QVERIFY2(step.message.contains(shown), qPrintable(step.message));
        // A protocol error with nothing outstanding says so, not more.
        if (action == Action::Close && !Conversation::unconfirmed(state).isEmpty())
            QVERIFY(step.message.endsWith(Conversation::unconfirmed(state)));
    }

    void buttonsAndRequestsFollowTheState()
    {
        const struct
        {
            State state;
            Buttons buttons;
            bool attend;
            bool upload;
        } expected[] = {
            {State::Connecting, {false, false, true}, false, false},
            {State::Connected, {true, false, false}, true, false},
            {State::Attending, {false, false, false}, false, false},
            {State::Ready, {false, true, false}, false, true},
            {State::Requesting, {false, false, true}, false, false},
            {State::RequestingEmpty, {false, false, true}, false, false},
            {State::Sending, {false, false, true}, false, false},
            {State::Confirming, {false, false, true}, false, false},
            {State::Closed, {false, false, true}, false, false},
        };
        for (const auto &row : expected) {
            const QByteArray name = QByteArray::number(int(row.state));
            QVERIFY2(in(row.state).buttons() == row.buttons, name);
            Conversation attending = in(row.state);
            QVERIFY2(attending.startAttendance() == row.attend, name);
            QCOMPARE(attending.state(), row.attend ? State::Attending : row.state);
            Conversation uploading = in(row.state);
            QVERIFY2(uploading.startUpload(5) == row.upload, name);
            QCOMPARE(uploading.state(), row.upload ? State::Requesting : row.state);
            // What an ending leaves unconfirmed.
            Conversation ending = in(row.state);
            const QString unconfirmed = ending.end();
            QCOMPARE(ending.state(), State::Closed);
            QCOMPARE(unconfirmed.isEmpty(),
                     !in(row.state).attendancePending() && !in(row.state).uploadPending());
        }
        // Handing over the last byte means something only while sending.
        Conversation ready = in(State::Ready);
        ready.fileHandedOver();
        QCOMPARE(ready.state(), State::Ready);
    }
};

QTEST_GUILESS_MAIN(TestConversation)
#include "tst_conversation.moc"
