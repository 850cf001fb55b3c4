#include "server/records/seatclaims.h"

#include "common/cp932.h"
#include "server/records/journalscanner.h"

namespace {

class ClaimsFold : public JournalFold
{
public:
    ClaimsFold(QByteArray lecture, SeatMap &map) : m_lecture(std::move(lecture)), m_map(map) {}

    bool take(const JournalEvent &event, qint64) override
    {
        if (event.kind == JournalKind::Lecture) {
            m_header = true;
            m_ofLecture = event.lecture.compare(m_lecture) == 0;
        } else if (event.kind == JournalKind::Mark || event.kind == JournalKind::ClaimAgain ||
                   event.kind == JournalKind::OffRoster) {
            // A lecture past midnight: a time earlier than the last by half a
            // day or more is the next day.
            if (event.seconds + 12 * 3600 < m_lastSeconds)
                m_dayOffset += 24 * 3600;
            m_lastSeconds = event.seconds;
            m_map.addClaim({cp932::decode(event.userId), cp932::decode(event.address),
                            cp932::decode(event.time), event.seconds + m_dayOffset});
        } else if (event.kind == JournalKind::Submission && !event.userId.isEmpty()) {
            m_map.addHandedIn(cp932::decode(event.userId), cp932::decode(event.fileName));
        }
        return true;
    }
    bool minds(JournalKind) const override { return false; }
    bool done() const override { return m_header && !m_ofLecture; }

private:
    QByteArray m_lecture;
    SeatMap &m_map;
    bool m_header = false;
    bool m_ofLecture = false;
    int m_lastSeconds = 0;
    int m_dayOffset = 0;
};

} // namespace

Result<> readSeatClaims(const QString &path, const QString &lectureName, SeatMap &map)
{
    ClaimsFold fold(cp932::encode(lectureName), map);
    JournalScanner scanner(0);
    return scanner.scanFile(path, fold);
}
