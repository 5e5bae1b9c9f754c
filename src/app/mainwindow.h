#pragma once

#include "app/rooms.h"

#include <QWidget>

#include <array>
#include <map>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class AddressList;
class Countdown;
class DelayField;
class EventLog;
class LogArea;
class ShapeWidget;
class SocketFactory;
class Supervisor;
class TcpSocketArray;
class TimeFrameSender;
class Title;
class TitleField;
class UdpEndpoint;

// F_MAIN, the console's one window. It builds the controls at their fixed
// places and wires the rooms together; beyond start-up and the two window
// modes it holds no behaviour of its own.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static inline const QString kCaption = QStringLiteral("Timer for RV-38T   Ver.: 1.0A");

    explicit MainWindow(SocketFactory &sockets, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Start-up, run once before the window is first shown.
    void Form_Load();
    // The height rule: the configuration panel shown or hidden.
    void SW_CFG_Click();
    // The width rule: the log panel shown or hidden.
    void SW_SHOW_LOG_Click();

    // The controls, named as the operator's manual names them.
    TitleField *INP_TITLE = nullptr;
    QLabel *Image1 = nullptr;
    QCheckBox *SW_CFG = nullptr;
    QLabel *Label3 = nullptr;
    ShapeWidget *Shape1 = nullptr;
    std::map<int, QLabel *> Label1;
    std::array<DelayField *, 3> INP_DELAY{};
    ShapeWidget *Shape2 = nullptr;
    QCheckBox *SW_GO = nullptr;
    QLabel *Label2 = nullptr;
    ShapeWidget *TCP_OK = nullptr;
    QPushButton *B_RESET = nullptr;
    QGroupBox *FR_CFG = nullptr;
    LogArea *INP_LOG = nullptr;
    ShapeWidget *VERT = nullptr;
    ShapeWidget *ROUGE = nullptr;
    QCheckBox *SW_SHOW_LOG = nullptr;
    QListWidget *LST_IP = nullptr;
    QPushButton *B_IP_ADD = nullptr;
    QPushButton *B_IP_DEL = nullptr;
    QLineEdit *INP_IP = nullptr;
    QTimer *TIM_REBOUR = nullptr;
    QTimer *TIM_IP_CON = nullptr;
    TcpSocketArray *TCPIP_TCP = nullptr;
    std::unique_ptr<UdpEndpoint> TCPIP_UDP;

    // The rooms.
    const Rooms &rooms() const { return m_rooms; }
    Countdown *countdown() const { return m_rooms.countdown; }
    TimeFrameSender *frameSender() const { return m_rooms.sender; }
    AddressList *addressList() const { return m_rooms.list; }
    Supervisor *supervisor() const { return m_rooms.supervisor; }
    EventLog *eventLog() const { return m_rooms.log; }
    Title *title() const { return m_rooms.title; }
    HealthBook *healthBook() const { return m_rooms.health; }
    // Armed by the remote control; a standby taking over calls arm() on it.
    TimedStart *timedStart() const { return m_rooms.start; }
    StandbyRoom *standbyRoom() const { return m_rooms.standby; }
    RunningOrder *runningOrder() const { return m_rooms.rundown; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void setTabOrder();

    Rooms m_rooms;
};
