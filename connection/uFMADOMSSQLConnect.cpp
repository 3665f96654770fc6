#include "connection/uFMADOMSSQLConnect.h"

#include "connection/connectionstrings.h"
#include "connection/serverbrowser.h"
#include "data/adoconnection.h"
#include "data/adodataset.h"
#include "structure/waitcursor.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>

const QString TFMADOMSSQLConnect::kRereadEntry = QStringLiteral("[Erneut einlesen...]");
const QString TFMADOMSSQLConnect::kSearchingText = QStringLiteral("[Ermittle SQL-Server...]");
const QString TFMADOMSSQLConnect::kDatabaseQuery = QStringLiteral("select  name from sysdatabases");

namespace {

constexpr int kClientWidth = 295;

void processPendingEvents() {
    QCoreApplication::processEvents();
}

// Empties a combo box's list; the text in its edit part stays.
void clearList(QComboBox* box) {
    const QString text = box->currentText();
    box->clear();
    box->setEditText(text);
}

QFrame* panel(const char* name, QWidget* parent) {
    auto* p = new QFrame(parent);
    p->setObjectName(QLatin1String(name));
    p->setFrameShape(QFrame::NoFrame);
    return p;
}

QFrame* bevel(const char* name, QWidget* parent) {
    auto* b = new QFrame(parent);
    b->setObjectName(QLatin1String(name));
    b->setFrameShape(QFrame::HLine);
    b->setFrameShadow(QFrame::Sunken);
    b->setGeometry(8, 4, 277, 2);
    return b;
}

template <class W> W* placed(W* widget, const char* name, int x, int y, int w, int h) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

// Editable, and typing Enter does not add the text to the list.
template <class Box> Box* editableCombo(Box* box) {
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

QLabel* label(const char* name, const QString& text, int x, int y, QWidget* parent) {
    auto* l = new TMnemonicLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

// A server tower: grey case, drive bays and a green lamp.
QPixmap serverPicture() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(64, 64, 64));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(4, 0, 8, 15);
    p.setPen(QColor(96, 96, 96));
    p.drawLine(6, 3, 10, 3);
    p.drawLine(6, 5, 10, 5);
    p.drawLine(6, 7, 10, 7);
    p.fillRect(6, 12, 2, 1, QColor(0, 192, 0));
    return pm;
}

// A grey database cylinder.
QPixmap databasePicture() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(80, 80, 80));
    QPainterPath body;
    body.moveTo(2.5, 3.5);
    body.lineTo(2.5, 12.5);
    body.arcTo(2.5, 10.5, 11, 4, 180, 180);
    body.lineTo(13.5, 3.5);
    p.setBrush(QColor(160, 160, 160));
    p.drawPath(body);
    p.setBrush(QColor(208, 208, 208));
    p.drawEllipse(QRectF(2.5, 1.5, 11, 4));
    return pm;
}

QLabel* picture(const char* name, const QPixmap& pixmap, int x, int y, QWidget* parent) {
    auto* l = placed(new QLabel(parent), name, x, y, 16, 16);
    l->setPixmap(pixmap);
    return l;
}

} // namespace

// ---- TServerComboBox ----

void TServerComboBox::showPopup() {
    if (onDropDown)
        onDropDown();
    m_pickedIndex = -1;
    if (!m_listening) {
        m_listening = true;
        connect(this, &QComboBox::activated, this, [this](int index) { m_pickedIndex = index; });
    }
    QComboBox::showPopup();
}

void TServerComboBox::hidePopup() {
    QComboBox::hidePopup();
    // The pick is reported after the list has closed, so the close-up
    // handler runs once the event that closed the list is done with.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (onCloseUp)
                onCloseUp();
        },
        Qt::QueuedConnection);
}

// ---- TMnemonicLabel ----

TMnemonicLabel::TMnemonicLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void TMnemonicLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic, option.palette,
                          isEnabled(), text(), foregroundRole());
}

// ---- TFMADOMSSQLConnect ----

TFMADOMSSQLConnect::TFMADOMSSQLConnect(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FMADOMSSQLConnect"));
    setWindowTitle(QStringLiteral("Verbinden mit MSSQL-Server"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    setModal(true);

    PAServer = panel("PAServer", this);
    Image1 = picture("Image1", serverPicture(), 8, 12, PAServer);
    Label4 = label("Label4", QStringLiteral("&SQL Server:"), 36, 12, PAServer);
    EDServer = editableCombo(placed(new TServerComboBox(PAServer), "EDServer", 120, 8, 165, 21));
    EDServer->addItem(kRereadEntry);
    EDServer->setEditText(QString());

    PAauthentification = panel("PAauthentification", this);
    Bevel1 = bevel("Bevel1", PAauthentification);
    Label1 =
        label("Label1", QStringLiteral("Verbindungsinformationen:"), 8, 12, PAauthentification);
    RBnt = placed(new QRadioButton(QStringLiteral("&Windows NT-Authentifizierung verwenden"),
                                   PAauthentification),
                  "RBnt", 16, 32, 237, 17);
    RBnt->setChecked(true);
    RBsql = placed(new QRadioButton(QStringLiteral("S&QL Server-Authentifizierung verwenden"),
                                    PAauthentification),
                   "RBsql", 16, 52, 237, 17);
    LBuser = label("LBuser", QStringLiteral("&Benutzername:"), 36, 80, PAauthentification);
    LBuser->setEnabled(false);
    EDUser = placed(new QLineEdit(PAauthentification), "EDUser", 120, 76, 165, 21);
    EDUser->setEnabled(false);
    LBPassword = label("LBPassword", QStringLiteral("&Kennwort:"), 36, 104, PAauthentification);
    LBPassword->setEnabled(false);
    EDPassword = placed(new QLineEdit(PAauthentification), "EDPassword", 120, 100, 165, 21);
    EDPassword->setEchoMode(QLineEdit::Password);
    EDPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    EDPassword->setEnabled(false);

    PADatabase = panel("PADatabase", this);
    Bevel3 = bevel("Bevel3", PADatabase);
    Image2 = picture("Image2", databasePicture(), 8, 16, PADatabase);
    Label2 = label("Label2", QStringLiteral("&Datenbank:"), 36, 16, PADatabase);
    CBDatabase = editableCombo(placed(new QComboBox(PADatabase), "CBDatabase", 120, 12, 165, 21));
    CBDatabase->installEventFilter(this);

    PAButtons = panel("PAButtons", this);
    Bevel4 = bevel("Bevel4", PAButtons);
    BTOk = placed(new QPushButton(QStringLiteral("OK"), PAButtons), "BTOk", 120, 12, 81, 23);
    BTOk->setDefault(true);
    BTCancel = placed(new QPushButton(QStringLiteral("&Abbrechen"), PAButtons), "BTCancel", 204, 12,
                      81, 23);

    ADOConnDB = new TADOConnection(this);
    ADOConnDB->setObjectName(QStringLiteral("ADOConnDB"));
    ADOConnDB->setConnectionTimeout(5);
    ADOConnDB->setLoginPrompt(false);
    ADODSDatabases = new TADODataSet(this);
    ADODSDatabases->setObjectName(QStringLiteral("ADODSDatabases"));
    ADODSDatabases->setConnection(ADOConnDB);
    ADODSDatabases->setCommandText(kDatabaseQuery);

    // Each box is named after its label, for screen readers and for the
    // label's accelerator.
    Label4->setBuddy(EDServer);
    LBuser->setBuddy(EDUser);
    LBPassword->setBuddy(EDPassword);
    Label2->setBuddy(CBDatabase);

    // Tab: server box, authentication choice, user name, password, database,
    // OK, Cancel, and round to the server box.
    setTabOrder(EDServer, RBnt);
    setTabOrder(RBnt, RBsql);
    setTabOrder(RBsql, EDUser);
    setTabOrder(EDUser, EDPassword);
    setTabOrder(EDPassword, CBDatabase);
    setTabOrder(CBDatabase, BTOk);
    setTabOrder(BTOk, BTCancel);

    // The authentication choice is one tab stop, at the selected button;
    // the arrow keys move between the two.
    for (QRadioButton* rb : {RBnt, RBsql}) {
        rb->setFocusPolicy(rb->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
        connect(rb, &QRadioButton::toggled, this, [this, rb](bool on) {
            rb->setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus);
            if (on)
                RBsqlClick();
        });
    }
    EDServer->onDropDown = [this] { EDServerDropDown(); };
    EDServer->onCloseUp = [this] { EDServerCloseUp(); };
    connect(BTOk, &QPushButton::clicked, this, [this] {
        BTOkClick();
        accept();
    });
    connect(BTCancel, &QPushButton::clicked, this, &QDialog::reject);

    CorrSize();
}

TFMADOMSSQLConnect::~TFMADOMSSQLConnect() {
    ADODSDatabases->Close();
    ADOConnDB->Close();
}

void TFMADOMSSQLConnect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}

bool TFMADOMSSQLConnect::eventFilter(QObject* watched, QEvent* event) {
    if (watched == CBDatabase && event->type() == QEvent::FocusIn) {
        // Entering the box from another control; coming back from another
        // window or from the box's own list is no entering.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            CBDatabaseEnter();
    }
    return QDialog::eventFilter(watched, event);
}

void TFMADOMSSQLConnect::CorrSize() {
    // The panels stack from the top; a hidden one takes no room.
    int top = 0;
    const std::pair<QFrame*, int> panels[] = {
        {PAServer, 33}, {PAauthentification, 125}, {PADatabase, 33}, {PAButtons, 42}};
    for (const auto& [p, height] : panels) {
        p->setGeometry(0, top, kClientWidth, height);
        if (!p->isHidden())
            top += height;
    }
    setFixedSize(kClientWidth, PAButtons->geometry().bottom() + 1);
}

void TFMADOMSSQLConnect::FormActivate() {
    if (m_activated)
        return;
    m_activated = true;
    CorrSize();
    processPendingEvents();
    if (!PresetServer.isEmpty())
        EDServer->setEditText(PresetServer);
    if (!PresetDatabase.isEmpty())
        CBDatabase->setEditText(PresetDatabase);
    EDServer->setEditText(QLocale().toUpper(EDServer->currentText()));
    EDServer->setFocus();
    EDServer->lineEdit()->selectAll();
    CorrSize();
}

void TFMADOMSSQLConnect::RBsqlClick() {
    const bool sql = RBsql->isChecked();
    LBuser->setEnabled(sql);
    LBPassword->setEnabled(sql);
    EDUser->setEnabled(sql);
    EDPassword->setEnabled(sql);
    if (RBnt->isChecked()) {
        EDUser->clear();
        EDPassword->clear();
    }
}

void TFMADOMSSQLConnect::EDServerDropDown() {
    if (EDServer->count() <= 1)
        ListServers();
}

void TFMADOMSSQLConnect::EDServerCloseUp() {
    if (EDServer->pickedIndex() == 0) {
        clearList(EDServer);
        EDServerDropDown();
    }
}

void TFMADOMSSQLConnect::ListServers() {
    EDServer->setEditText(kSearchingText);
    WaitCursor wait;
    processPendingEvents();
    processPendingEvents();
    // Only repaints while waiting for answers: the user's clicks and keys wait
    // until the list is complete.
    const QStringList servers = ListAvailableSQLServers(
        [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    const QString text = EDServer->currentText();
    EDServer->clear();
    EDServer->addItem(kRereadEntry);
    EDServer->addItems(servers);
    EDServer->setEditText(text);
}

void TFMADOMSSQLConnect::MakeConnStringMaster() {
    ADODSDatabases->Close();
    ADOConnDB->setConnected(false);
    if (RBnt->isChecked())
        ADOConnDB->setConnectionString(masterConnectionString(true, EDServer->currentText()));
    else
        ADOConnDB->setConnectionString(masterConnectionString(false, EDServer->currentText(),
                                                              EDUser->text(), EDPassword->text()));
}

void TFMADOMSSQLConnect::MakeConnString(const QString& password) {
    ADODSDatabases->Close();
    ADOConnDB->setConnected(false);
    if (RBnt->isChecked())
        ADOConnDB->setConnectionString(
            databaseConnectionString(true, CBDatabase->currentText(), EDServer->currentText()));
    else
        ADOConnDB->setConnectionString(databaseConnectionString(
            false, CBDatabase->currentText(), EDServer->currentText(), EDUser->text(), password));
}

void TFMADOMSSQLConnect::GetDatabases() {
    WaitCursor wait;
    try {
        MakeConnStringMaster();
        clearList(CBDatabase);
        ADOConnDB->setConnected(true);
        ADODSDatabases->Open();
        for (ADODSDatabases->First(); !ADODSDatabases->Eof(); ADODSDatabases->Next())
            CBDatabase->addItem(ADODSDatabases->FieldByName(QStringLiteral("name")).AsString());
        ADODSDatabases->Close();
        ADOConnDB->setConnected(false);
        ADOConnDB->setConnected(true);
    } catch (const std::exception&) {
        // A server that does not answer or refuses the login leaves the list
        // empty; the user sees it and can correct the name or the login.
    }
    if (CBDatabase->count() > 0)
        CBDatabase->setCurrentIndex(0);
    if (!PresetDatabase.isEmpty())
        CBDatabase->setEditText(PresetDatabase);
}

void TFMADOMSSQLConnect::CBDatabaseEnter() {
    if (!EDServer->currentText().isEmpty() && !PADatabase->isHidden()) {
        GetDatabases();
    } else {
        clearList(CBDatabase); // an empty list has no entry to select
    }
}

void TFMADOMSSQLConnect::BTOkClick() {
    MakeConnString(EDPassword->text());
    m_okHandled = true;
}
