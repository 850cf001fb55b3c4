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

// A fetch of handouts on `talk` (connected), brought into `state`.
Conversation fetching(Conversation talk, State state)
{
    talk.receive(u"800 講義,先生");
    talk.startHandouts();
    if (state == State::Listing)
        return talk;
    talk.receive(u"401 1");
    if (state == State::ListEntries)
        return talk;
    talk.handoutsListed();
    if (state == State::Fetching)
        return talk;
    talk.requestHandout();
    if (state == State::Getting)
        return talk;
    talk.receive(u"402 5");
    return talk;
}

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
    switch (state) {
    case State::Listing:
    case State::ListEntries:
    case State::Fetching:
    case State::Getting:
    case State::Receiving:
        return fetching(talk, state);
    default:
        break;
    }
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
    if (state == State::Verifying)
        talk.receive(u"302 jyusin kanryo");
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
        row("302", State::Confirming, received, State::Verifying, "", Action::AskReceipt);
        row("499", State::Requesting, refused, State::Ready, "理由: 同じ名前のフォルダがあります",
            Action::None);
        row("499 without reason", State::Requesting, "499", State::Ready, "理由は示されていません",
            Action::None);
        // What the assignment accepts is shown whole, however many types.
        const QString accepted = QStringLiteral(
            "受け付ける形式は .c .h .txt .py .java .cpp .hpp .rb .pdf .docx .xlsx .pptx です｡");
        row("499 naming what is accepted", State::Requesting, "499 " + accepted, State::Ready,
            "理由: " + accepted + "\r\n", Action::None);
        row("empty file: 302 at once", State::RequestingEmpty, received, State::Verifying, "",
            Action::AskReceipt);
        // After 302 every answer but these two is the hash line's, whatever
        // an older server makes of the line; a close leaves nothing unsaid.
        row("greeting before the receipt", State::Verifying, greeting, State::Verifying, "",
            Action::None);
        row("lecture before the receipt", State::Verifying, lecture, State::Verifying, "",
            Action::ShowLecture);
        row("receipt", State::Verifying, "403 1,2,3", State::Ready, "", Action::TakeReceipt);
        row("error for the hash line", State::Verifying, "500 what?", State::Ready, "",
            Action::TakeReceipt);
        row("499 for the hash line", State::Verifying, refused, State::Ready, "",
            Action::TakeReceipt);
        row("999 before the receipt", State::Verifying, "999", State::Closed, "", Action::Close);
        row("403 when idle", State::Ready, "403 1,2,3", State::Closed, "再接続ボタン",
            Action::Close);
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
        // Handouts: 401 only after the list line, 402 and 499 only after a
        // get line; the fetch tells the student itself how it went.
        const QString listed = QStringLiteral("401 2");
        const QString data = QStringLiteral("402 5");
        row("401", State::Listing, listed, State::ListEntries, "", Action::TakeHandoutList);
        row("499 to the list", State::Listing, refused, State::Fetching, "",
            Action::HandoutRefused);
        row("lecture while listing", State::Listing, lecture, State::Listing, "",
            Action::ShowLecture);
        row("greeting while fetching", State::Fetching, greeting, State::Fetching, "",
            Action::None);
        row("402", State::Getting, data, State::Receiving, "", Action::TakeHandout);
        row("499 to a get", State::Getting, refused, State::Fetching, "", Action::HandoutRefused);
        row("lecture before 402", State::Getting, lecture, State::Getting, "", Action::ShowLecture);
        row("402 after the list line", State::Listing, data, State::Closed, "再接続ボタン",
            Action::Close);
        row("401 after a get line", State::Getting, listed, State::Closed, "｢401 2｣",
            Action::Close);
        row("401 when idle", State::Ready, "401 0", State::Closed, "再接続ボタン", Action::Close);
        row("402 before 出欠", State::Connected, data, State::Closed, "｢402 5｣", Action::Close);
        row("402 while checking", State::Fetching, data, State::Closed, "再接続ボタン",
            Action::Close);
        row("302 while fetching", State::Fetching, received, State::Closed, "再接続ボタン",
            Action::Close);
        row("301 after a get line", State::Getting, imageMode, State::Closed, "｢301",
            Action::Close);
        row("101 while listing", State::Listing, taken, State::Closed, "再接続ボタン",
            Action::Close);
        row("999 while listing", State::Listing, "999", State::Closed, "", Action::Close);
        row("402 during an upload", State::Sending, data, State::Closed, UploadUnconfirmed,
            Action::Close);
        row("401 while attending", State::Attending, listed, State::Closed, AttendanceUnconfirmed,
            Action::Close);
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
            {State::Verifying, {false, false, true}, false, false},
            {State::Closed, {false, false, true}, false, false},
            {State::Listing, {false, false, true}, false, false},
            {State::ListEntries, {false, false, true}, false, false},
            {State::Fetching, {false, false, true}, false, false},
            {State::Getting, {false, false, true}, false, false},
            {State::Receiving, {false, false, true}, false, false},
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
            // No lecture line on these: no fetch either.
            Conversation listing = in(row.state);
            QVERIFY2(!listing.startHandouts(), name);
            QCOMPARE(listing.state(), row.state);
            // What an ending leaves unconfirmed.
            Conversation ending = in(row.state);
            const QString unconfirmed = ending.end();
            QCOMPARE(ending.state(), State::Closed);
            QCOMPARE(unconfirmed.isEmpty(),
                     !in(row.state).attendancePending() && !in(row.state).uploadPending());
            const bool fetchState = row.buttons == Buttons{false, false, true} &&
                                    !in(row.state).uploadPending() &&
                                    row.state != State::Verifying &&
                                    row.state != State::Connecting && row.state != State::Closed;
            QCOMPARE(in(row.state).handoutsPending(), fetchState);
        }
        // Handing over the last byte means something only while sending.
        Conversation ready = in(State::Ready);
        ready.fileHandedOver();
        QCOMPARE(ready.state(), State::Ready);
    }

    // 配布物 once the lecture line came and nothing is outstanding; a fetch
    // ends where it began, and a get line goes out only in the fetch's turn.
    void handoutsFollowTheLectureLineAndTheState()
    {
        for (State base : {State::Connected, State::Ready}) {
            Conversation talk = in(base);
            QVERIFY(!talk.buttons().handouts);
            talk.receive(u"800 講義,先生");
            QVERIFY(talk.buttons().handouts);
            QVERIFY(!talk.requestHandout()); // no list yet
            QVERIFY(talk.startHandouts());
            QCOMPARE(talk.buttons(), (Buttons{false, false, true, false}));
            QVERIFY(!talk.startHandouts() && !talk.startAttendance() && !talk.startUpload(1));
            QVERIFY(!talk.requestHandout()); // the list is awaited
            talk.receive(u"401 1");
            QVERIFY(!talk.requestHandout()); // its entry is awaited
            talk.handoutsListed();
            QVERIFY(talk.requestHandout());
            QCOMPARE(talk.state(), State::Getting);
            QVERIFY(!talk.requestHandout()); // one get at a time
            talk.receive(u"402 3");
            QVERIFY(talk.requestHandout()); // the next file after the bytes
            talk.receive(u"499 配布物ではありません");
            talk.handoutsDone();
            QCOMPARE(talk.state(), base);
            QVERIFY(talk.buttons().handouts);
        }
        // A new connection waits for its own lecture line.
        Conversation again = in(State::Ready);
        again.receive(u"800 講義,先生");
        again.end();
        again.connected();
        QVERIFY(!again.buttons().handouts);
        // No time limit runs during a fetch; 再接続 ends one that stalls.
        for (State state : {State::Listing, State::ListEntries, State::Fetching, State::Getting,
                            State::Receiving})
            QCOMPARE(Conversation::waitIn(state, false), Conversation::Wait::None);
        QCOMPARE(Conversation::waitIn(State::Confirming, true), Conversation::Wait::Progress);
        QVERIFY(Conversation::waitExceeded(State::Confirming, false).contains(u"60秒"));
        // The receipt is awaited briefly, and its absence ends nothing.
        QCOMPARE(Conversation::waitIn(State::Verifying, false), Conversation::Wait::Receipt);
        QVERIFY(Conversation::waitExceeded(State::Verifying, false).isEmpty());
        Conversation verifying = in(State::Verifying);
        verifying.receiptAbsent();
        QCOMPARE(verifying.state(), State::Ready);
        // Its late answer is passed over once; a second stray reply is not.
        QCOMPARE(verifying.receive(u"499 そのファイルは受け取っていません｡").action,
                 Action::PassOver);
        QCOMPARE(verifying.receive(u"403 1,2,3").action, Action::Close);
        // A server that never answers the hash line may still refuse the
        // next upload: a 499 to a put line keeps its meaning.
        Conversation silent = in(State::Verifying);
        silent.receiptAbsent();
        QVERIFY(silent.startUpload(10));
        QCOMPARE(silent.receive(u"499 受付は締め切られました｡").next, State::Ready);
        QCOMPARE(silent.receive(u"403 1,2,3").action, Action::PassOver);
        // A new connection owes nothing.
        Conversation reconnected = in(State::Verifying);
        reconnected.receiptAbsent();
        reconnected.end();
        reconnected.connected();
        QCOMPARE(reconnected.receive(u"403 1,2,3").action, Action::Close);
        // Leaving the fetch's states alone.
        Conversation attending = in(State::Attending);
        attending.handoutsDone();
        QCOMPARE(attending.state(), State::Attending);
    }
};

QTEST_GUILESS_MAIN(TestConversation)
#include "tst_conversation.moc"
