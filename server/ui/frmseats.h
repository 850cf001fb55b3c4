#pragma once

#include "server/lecture/seatmap.h"

#include <QTimer>
#include <QWidget>
#include <memory>

class FileDialogs;
class LectureServer;
class MessageBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class SeatMapView;

// 座席表: the room as seats, live. Built from the lecture's journals of
// the day when it opens, then kept up by the attendance book's marks and
// receipts; many marks in a moment are drawn once. 配置の編集 lets the
// lecturer move and rename seats and save the layout file.
class FrmSeats : public QWidget
{
    Q_OBJECT
public:
    // Redraws wait this long after a mark, so that a class arriving at once
    // costs a few paintings.
    static constexpr int RedrawDelayMs = 100;

    FrmSeats(LectureServer &server, FileDialogs &dialogs, MessageBox &messages,
             QWidget *parent = nullptr);
    ~FrmSeats() override;

    // Reads the layout (from `startFolder`) and the day's journals afresh.
    void open(const QString &startFolder);
    const SeatMap &map() const { return *m_map; }
    SeatMapView &view() { return *m_view; }
    // 画像保存: the map as PNG.
    void saveImage();
    // 保存 while editing: the layout file replaced through a temporary file.
    void saveLayout();

Q_SIGNALS:
    void studentClicked(const QString &userId);

private:
    void buildControls();
    void scheduleRedraw();
    void redraw();
    void flip();
    void setEditing(bool editing);
    void selectSeat(int seat);
    void moveSeat(int seat, int row, int column);
    void renameSelectedSeat();
    void setModified(bool modified);
    QWidget *buildEditBar();
    void fitToMap();

    LectureServer &m_server;
    FileDialogs &m_dialogs;
    MessageBox &m_messages;
    std::unique_ptr<SeatMap> m_map;
    SeatMapView *m_view = nullptr;
    QScrollArea *m_scroll = nullptr;
    QPushButton *m_flip = nullptr;
    QPushButton *m_edit = nullptr;
    QWidget *m_editBar = nullptr;
    QLineEdit *m_seatLabel = nullptr;
    QPushButton *m_saveLayout = nullptr;
    int m_labelSeat = -1; // whose label the field shows
    QString m_startFolder;
    // Edits not saved yet: kept when the window opens again.
    bool m_modified = false;
    QLabel *m_outside = nullptr;
    QLabel *m_absent = nullptr;
    QLabel *m_problems = nullptr;
    QTimer m_redraw;
};
