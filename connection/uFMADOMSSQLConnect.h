#pragma once
// The modal dialog in which the user names a SQL Server, chooses Windows NT
// or SQL Server authentication and, when the database panel is shown, picks
// one of the server's databases. The connection component creates, presets,
// shows and reads it; the dialog writes nothing outside its own controls and
// its own connection.

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <functional>

class QFrame;
class QLineEdit;
class QPushButton;
class QRadioButton;
class TADOConnection;
class TADODataSet;

// A combo box that reports its list dropping down (before the list shows)
// and closing up (after the pick, if any, has been made).
class TServerComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    void showPopup() override;
    void hidePopup() override;
    // The entry picked from the list while it was open; -1 when it was
    // closed without a pick.
    int pickedIndex() const { return m_pickedIndex; }

    std::function<void()> onDropDown;
    std::function<void()> onCloseUp;

private:
    int m_pickedIndex = -1;
    bool m_listening = false;
};

// A label that shows its accelerator mark as an underline although it is
// bound to no control.
class TMnemonicLabel : public QLabel {
public:
    TMnemonicLabel(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TFMADOMSSQLConnect : public QDialog {
    Q_OBJECT
public:
    explicit TFMADOMSSQLConnect(QWidget* parent = nullptr);
    ~TFMADOMSSQLConnect() override;

    // Filled by the connection component before the dialog is shown.
    QString PresetServer;
    QString PresetDatabase;

    QFrame* PAServer;
    QLabel* Image1;
    QLabel* Label4;
    TServerComboBox* EDServer;
    QFrame* PAauthentification;
    QFrame* Bevel1;
    QLabel* Label1;
    QRadioButton* RBnt;
    QRadioButton* RBsql;
    QLabel* LBuser;
    QLineEdit* EDUser;
    QLabel* LBPassword;
    QLineEdit* EDPassword;
    QFrame* PADatabase;
    QFrame* Bevel3;
    QLabel* Image2;
    QLabel* Label2;
    QComboBox* CBDatabase;
    QFrame* PAButtons;
    QFrame* Bevel4;
    QPushButton* BTOk;
    QPushButton* BTCancel;

    TADOConnection* ADOConnDB;
    TADODataSet* ADODSDatabases;

    // Handlers.
    // Runs once, when the dialog is first shown (or, when it is driven
    // without being shown, when its owner asks before handing it over).
    void FormActivate();
    void RBsqlClick();
    void EDServerDropDown();
    void EDServerCloseUp();
    void CBDatabaseEnter();
    void BTOkClick();

    void ListServers();
    void MakeConnStringMaster();
    void MakeConnString(const QString& password);
    void GetDatabases();
    void CorrSize();

    // Whether OK's handler has built the connection string since the dialog
    // was created.
    bool okHandled() const { return m_okHandled; }

    // The texts the dialog shows.
    static const QString kRereadEntry;   // "[Erneut einlesen...]"
    static const QString kSearchingText; // "[Ermittle SQL-Server...]"
    static const QString kDatabaseQuery; // "select  name from sysdatabases"

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_activated = false;
    bool m_okHandled = false;
};
