#include "app/mainwindow.h"

#include "aids/title.h"
#include "controls/artwork.h"
#include "controls/controls.h"
#include "controls/entrylist.h"
#include "core/socketarray.h"
#include "core/socketlayer.h"
#include "countdown/countdown.h"
#include "links/addresslist.h"
#include "rundown/runningorder.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

namespace {

// Client margins below the lowest shown control, right of the log, and the
// title field's overhang past the right edge.
constexpr int kMarginBelow = 75;
constexpr int kMarginRightOfLog = 60;
constexpr int kTitleOverhang = 40;

// The laid-out client area before start-up sizes the window.
constexpr int kClientWidth = 10455;
constexpr int kClientHeight = 4275;

// The platform's standard face colour for labels and check boxes.
const QColor kButtonFace(240, 240, 240);
// Active window border and menu text: the band behind Run and Reset.
const QColor kActiveBorder(180, 180, 180);

QFont sansFont(qreal points, bool bold = false)
{
    QFont font;
    // The nearest installed faces come first: a family missing here costs a
    // fallback search at start-up.
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont monoFont(qreal points, bool bold = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Places a control at its laid-out twips, relative to its parent's client area.
template <typename W>
W *place(W *widget, const QString &name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                        twipsToPixels(height));
    return widget;
}

void fillBackground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text, const QFont &font,
                  int left, int top, int width, int height)
{
    auto *label = place(new QLabel(text, parent), name, left, top, width, height);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

int bottomTwips(const QWidget *w)
{
    return pixelsToTwips(w->y()) + pixelsToTwips(w->height());
}

int rightTwips(const QWidget *w)
{
    return pixelsToTwips(w->x()) + pixelsToTwips(w->width());
}

} // namespace

MainWindow::MainWindow(SocketFactory &sockets, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("F_MAIN"));
    setWindowTitle(kCaption);
    setWindowIcon(artwork::windowIcon());
    setFont(sansFont(8.25));
    fillBackground(this, Qt::white);

    buildControls();
    setTabOrder();

    TIM_REBOUR = new QTimer(this);
    TIM_REBOUR->setObjectName(QStringLiteral("TIM_REBOUR"));
    TIM_REBOUR->setTimerType(Qt::PreciseTimer);
    TIM_IP_CON = new QTimer(this);
    TIM_IP_CON->setObjectName(QStringLiteral("TIM_IP_CON"));
    TIM_IP_CON->setTimerType(Qt::PreciseTimer);

    TCPIP_TCP = new TcpSocketArray(sockets, this);
    TCPIP_TCP->setObjectName(QStringLiteral("TCPIP_TCP"));
    TCPIP_UDP = sockets.createUdp();

    m_rooms = wireRooms(*this);

    connect(SW_CFG, &QCheckBox::toggled, this, &MainWindow::SW_CFG_Click);
    connect(SW_SHOW_LOG, &QCheckBox::toggled, this, &MainWindow::SW_SHOW_LOG_Click);

    // Runs from the window's creation; no tick is handled before start-up returns
    // because start-up runs before the event loop.
    TIM_IP_CON->start(1000);

    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    INP_DELAY[0]->setFocus();
    // Typing over the opening "00" replaces it instead of being refused by the two-character limit.
    INP_DELAY[0]->selectAll();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    // Created back to front: among labels, shapes and the picture the last made
    // lies in front, and every input control lies above them all.
    Image1 = place(new QLabel(this), QStringLiteral("Image1"), 15, 390, 3480, 1455);
    // Painted for the sharpest screen, so a scaled one shows it at full resolution.
    Image1->setPixmap(artwork::displayUnit(qGuiApp->devicePixelRatio()));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    const QFont colonFont = monoFont(26.25, true);
    Label1[0] = makeLabel(this, QStringLiteral("Label1_0"), QStringLiteral(":"), colonFont, 2115,
                          930, 315, 600);
    Label1[1] = makeLabel(this, QStringLiteral("Label1_1"), QStringLiteral(":"), colonFont, 1140,
                          930, 315, 600);

    ROUGE = place(new ShapeWidget(ShapeWidget::Kind::Rectangle, this), QStringLiteral("ROUGE"),
                  4065, 5565, 255, 285);
    ROUGE->setFilled(true);
    ROUGE->setFillColor(QColor(255, 192, 192));
    ROUGE->setVisible(false);
    VERT = place(new ShapeWidget(ShapeWidget::Kind::Rectangle, this), QStringLiteral("VERT"), 4305,
                 5565, 255, 285);
    VERT->setFilled(true);
    VERT->setFillColor(QColor(192, 255, 192));
    VERT->setVisible(false);

    Shape1 = place(new ShapeWidget(ShapeWidget::Kind::Rectangle, this), QStringLiteral("Shape1"),
                   315, 930, 2955, 615);

    Label1[6] = makeLabel(this, QStringLiteral("Label1_6"), QStringLiteral(" "), colonFont, 330,
                          945, 315, 585);
    Label1[7] = makeLabel(this, QStringLiteral("Label1_7"), QStringLiteral(" "), colonFont, 2940,
                          945, 315, 585);
    for (int i : {0, 1, 6, 7}) {
        Label1[i]->setProperty("Index", i);
        Label1[i]->setAlignment(Qt::AlignCenter);
        fillBackground(Label1[i], kButtonFace);
    }

    Shape2 = place(new ShapeWidget(ShapeWidget::Kind::Rectangle, this), QStringLiteral("Shape2"),
                   75, 1845, 3390, 600);
    Shape2->setFilled(true);
    Shape2->setFillColor(kActiveBorder);
    Shape2->setBorder(Qt::black, 1);

    TCP_OK = place(new ShapeWidget(ShapeWidget::Kind::Circle, this), QStringLiteral("TCP_OK"), 1485,
                   2085, 270, 285);
    TCP_OK->setFilled(true);
    TCP_OK->setFillColor(QColor(255, 0, 0));
    TCP_OK->setBorder(Qt::black, 2);
    // The one shape that answers the pointer: its tooltip tells which displays are down.
    TCP_OK->setAttribute(Qt::WA_TransparentForMouseEvents, false);

    Label2 = makeLabel(this, QStringLiteral("Label2"), QStringLiteral("TCP"), sansFont(8.25, true),
                       1425, 1890, 375, 195);
    Label2->setToolTip(QStringLiteral("TCP CONNECTION STATUS"));
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("Config."),
                       sansFont(8.25, true), 315, 510, 615, 195);
    QPalette black = Label3->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label3->setPalette(black);

    // Input controls, above every label, shape and picture.
    INP_TITLE = place(new TitleField(QStringLiteral("TITLE HERE"), this),
                      QStringLiteral("INP_TITLE"), -30, 0, 3615, 480);
    INP_TITLE->setFont(sansFont(13.5, true));
    INP_TITLE->setAlignment(Qt::AlignCenter);
    {
        QPalette p = INP_TITLE->palette();
        p.setColor(QPalette::Base, Qt::white);
        INP_TITLE->setPalette(p);
    }

    SW_CFG = place(new QCheckBox(QStringLiteral("Config."), this), QStringLiteral("SW_CFG"), 90,
                   510, 195, 195);
    SW_CFG->setToolTip(QStringLiteral("Configuration"));

    const int delayLeft[3] = {435, 1425, 2400};
    for (int i = 0; i < 3; ++i) {
        auto *field = place(new DelayField(QStringLiteral("00"), this),
                            QStringLiteral("INP_DELAY_%1").arg(i), delayLeft[i], 930, 735, 615);
        field->setProperty("Index", i);
        field->setFont(monoFont(24, true));
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(2);
        field->setTextMargins(0, 0, 0, 0);
        INP_DELAY[static_cast<std::size_t>(i)] = field;
    }

    SW_GO = place(new QCheckBox(QStringLiteral("&Run"), this), QStringLiteral("SW_GO"), 180, 1905,
                  1110, 495);
    SW_GO->setFont(sansFont(17.25, true));
    B_RESET = place(new QPushButton(QStringLiteral("&Reset"), this), QStringLiteral("B_RESET"),
                    2055, 1935, 1335, 435);
    B_RESET->setFont(sansFont(17.25, true));
    B_RESET->setAutoDefault(false);

    FR_CFG = place(new QGroupBox(QStringLiteral("Configuration "), this), QStringLiteral("FR_CFG"),
                   30, 2445, 3450, 1785);
    FR_CFG->setFont(sansFont(8.25, true));
    fillBackground(FR_CFG, Qt::white);

    // Inside the frame, relative to its top left corner.
    Label1[5] = makeLabel(FR_CFG, QStringLiteral("Label1_5"), QStringLiteral("X = CONNECTION OK"),
                          monoFont(9), 210, 240, 1785, 225);
    Label1[5]->setProperty("Index", 5);
    fillBackground(Label1[5], Qt::white);
    // Sized to fit its caption, whatever the face that stands in for the laid-out font.
    Label1[5]->resize(qMax(Label1[5]->width(), Label1[5]->sizeHint().width()), Label1[5]->height());
    SW_SHOW_LOG = place(new QCheckBox(QStringLiteral("View Log"), FR_CFG),
                        QStringLiteral("SW_SHOW_LOG"), 2415, 180, 1005, 240);
    SW_SHOW_LOG->setFont(sansFont(8.25));
    fillBackground(SW_SHOW_LOG, Qt::white);
    LST_IP = place(new EntryList(FR_CFG), QStringLiteral("LST_IP"), 120, 465, 3270, 960);
    LST_IP->setFont(sansFont(8.25));
    B_IP_ADD = place(new QPushButton(QStringLiteral("Add"), FR_CFG), QStringLiteral("B_IP_ADD"),
                     120, 1425, 615, 285);
    B_IP_ADD->setFont(sansFont(8.25));
    B_IP_ADD->setAutoDefault(false);
    B_IP_DEL = place(new QPushButton(QStringLiteral("Del"), FR_CFG), QStringLiteral("B_IP_DEL"),
                     750, 1425, 585, 285);
    B_IP_DEL->setFont(sansFont(8.25));
    B_IP_DEL->setAutoDefault(false);
    // A documentation address: never a real display by accident.
    INP_IP = place(new QLineEdit(QStringLiteral("192.0.2.10"), FR_CFG), QStringLiteral("INP_IP"),
                   1350, 1440, 2040, 285);
    INP_IP->setFont(sansFont(8.25));

    INP_LOG = place(new LogArea(this), QStringLiteral("INP_LOG"), 3630, 0, 6825, 4245);
    INP_LOG->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    INP_LOG->setTabChangesFocus(true);

    for (QWidget *w :
         std::initializer_list<QWidget *>{SW_CFG, SW_GO, B_RESET, SW_SHOW_LOG, B_IP_ADD, B_IP_DEL})
        w->setFocusPolicy(Qt::StrongFocus);

    // What a screen reader says for each control: its caption, or what it shows,
    // and its tooltip or what it is for. Decorative pieces are named too, so
    // nothing on the window reads as an unnamed object.
    const struct
    {
        QWidget *control;
        const char *name;
        const char *description;
    } spoken[] = {
        {INP_TITLE, "Title", "Title line shown above the countdown"},
        {Image1, "RV-38T display unit",
         "Picture of the display unit the countdown fields lie over"},
        {Label1[0], ":", "Separates minutes from seconds"},
        {Label1[1], ":", "Separates hours from minutes"},
        {Label1[6], "Countdown frame, left end", "Frames the countdown fields"},
        {Label1[7], "Countdown frame, right end", "Frames the countdown fields"},
        {ROUGE, "Stopped colour", "Colour the countdown fields turn at 00:00:00"},
        {VERT, "Running colour", "Colour the countdown fields turn while running"},
        {Shape1, "Countdown frame", "Frames the countdown fields"},
        {Shape2, "Run and Reset band", "Band behind Run and Reset"},
        {TCP_OK, "TCP", "TCP CONNECTION STATUS: green while every display is connected"},
        {Label2, "TCP", "TCP CONNECTION STATUS"},
        {Label3, "Config.", "Configuration"},
        {SW_CFG, "Config.", "Configuration"},
        {INP_DELAY[0], "Hours", "Countdown hours, two digits"},
        {INP_DELAY[1], "Minutes", "Countdown minutes, two digits"},
        {INP_DELAY[2], "Seconds", "Countdown seconds, two digits"},
        {SW_GO, "Run", "Counts down once per second while on"},
        {B_RESET, "Reset", "Stops the countdown and empties the fields"},
        {FR_CFG, "Configuration", "Display addresses and the event log switch"},
        {Label1[5], "X = CONNECTION OK", "A marked entry is connected"},
        {SW_SHOW_LOG, "View Log", "Shows the event log"},
        {LST_IP, "Display addresses",
         "One entry per display; its check box is its mark, X = CONNECTION OK"},
        {B_IP_ADD, "Add", "Adds the address typed beside it to the list"},
        {B_IP_DEL, "Del", "Deletes the selected entry"},
        {INP_IP, "Address", "Display address to add"},
        {INP_LOG, "Event log", "Dated events; double-click to empty it"},
    };
    for (const auto &s : spoken) {
        s.control->setAccessibleName(QString::fromUtf8(s.name));
        s.control->setAccessibleDescription(QString::fromUtf8(s.description));
    }
}

void MainWindow::setTabOrder()
{
    const QWidget *order[]
        = {INP_DELAY[0], INP_DELAY[1], INP_DELAY[2], INP_TITLE, INP_IP,      B_IP_DEL, B_IP_ADD,
           LST_IP,       SW_CFG,       B_RESET,      SW_GO,     SW_SHOW_LOG, INP_LOG};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget *>(order[i]), const_cast<QWidget *>(order[i + 1]));
}

void MainWindow::Form_Load()
{
    m_rooms.countdown->SW_GO_Click();
    SW_CFG_Click();
    m_rooms.title->TITLE_LOAD();
    SW_SHOW_LOG_Click();
    m_rooms.list->IP_LIST_LOAD();
    // No known display: open the configuration panel, ready for a first address.
    if (m_rooms.list->count() == 0)
        SW_CFG->setChecked(true);
    // The running order, when the operator made one: no file, nothing happens.
    m_rooms.rundown->load();
}

void MainWindow::SW_CFG_Click()
{
    const QWidget *lowest = SW_CFG->isChecked() ? static_cast<QWidget *>(FR_CFG) : SW_GO;
    const int height = bottomTwips(lowest) + kMarginBelow;
    setFixedSize(width(), twipsToPixels(height));
}

void MainWindow::SW_SHOW_LOG_Click()
{
    const int width = SW_SHOW_LOG->isChecked() ? rightTwips(INP_LOG) + kMarginRightOfLog
                                               : rightTwips(INP_TITLE) - kTitleOverhang;
    setFixedSize(twipsToPixels(width), height());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A title typed and not yet left would be lost: save it as leaving it would.
    if (focusWidget() == INP_TITLE)
        m_rooms.title->INP_TITLE_LostFocus();
    // A cue a moment ago has its title and segment still to save.
    m_rooms.rundown->flushSaves();
    QWidget::closeEvent(event);
}

#include "moc_mainwindow.cpp"
